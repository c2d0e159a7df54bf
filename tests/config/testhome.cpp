#include "testhome.h"

#include <QDir>
#include <QStandardPaths>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct THome {
    std::string root;
    THome()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kest-config-test-XXXXXX";
        if (!::mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        root = tmpl;
        ::setenv("HOME", root.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/.config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root + "/.local/share").c_str(), 1);
        ::setenv("XDG_DOCUMENTS_DIR", (root + "/Documents").c_str(), 1);
        const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (!docs.startsWith(QString::fromStdString(root))) {
            std::fprintf(stderr, "documents folder %s is outside the test home\n", qPrintable(docs));
            std::abort();
        }
    }
    ~THome() { QDir(QString::fromStdString(root)).removeRecursively(); }
};

THome &Home()
{
    static THome home;
    return home;
}

// Made during static initialisation, before main and any test.
const THome &kEarly = Home();

} // namespace

namespace KestTestHome {

QString Root()
{
    return QString::fromStdString(Home().root);
}

QString NewFolder()
{
    static std::atomic<int> counter{0};
    const QString path = Root() + QStringLiteral("/t") + QString::number(++counter);
    QDir().mkpath(path);
    return path;
}

} // namespace KestTestHome
