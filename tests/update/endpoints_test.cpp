// Where the check goes: the default server, the "UpdateServer" override, and which redirects a
// download may follow.

#include "config/configcontroller.h"
#include "update/updateendpoints.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace KestUpdate;

namespace {

TEST(UpdateEndpoints, ServerAddressesAreCheckedAndTrimmed)
{
    struct Case {
        const char *text;
        const char *server; // empty: not usable
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"  http://127.0.0.1:8080/ ", "http://127.0.0.1:8080"},
        {"https://mirror.example.org//", "https://mirror.example.org"},
        {"https://mirror.example.org/kest", "https://mirror.example.org/kest"},
        {"HTTP://localhost:81", "HTTP://localhost:81"},
        {"", ""},
        {"127.0.0.1:8080", ""},
        {"ftp://127.0.0.1", ""},
        {"file:///etc/passwd", ""},
        {"http://", ""},
        {"http://host/page?x=1", ""},
        {"http://exa mple.org", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(NormalizeServer(QString::fromUtf8(c.text)), QString::fromUtf8(c.server)) << c.text;
}

TEST(UpdateEndpoints, SettingsOverrideTheDefaultServer)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    TConfigController config(home.path(), "/Valtrix", "KestManager", "/Settings.txt");

    const QString fallback = DefaultServer();
    EXPECT_TRUE(fallback.startsWith("https://")) << fallback.toStdString();
    EXPECT_EQ(ReadUpdateServer(config), fallback);

    config.ini.WriteString("Launch", "UpdateServer", "http://127.0.0.1:8080/");
    EXPECT_EQ(ReadUpdateServer(config), QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(VersionPageUrl(ReadUpdateServer(config)), QStringLiteral("http://127.0.0.1:8080/sluzhebnye-programmy"));
    EXPECT_EQ(InstallerUrl(ReadUpdateServer(config)),
        QStringLiteral("http://127.0.0.1:8080/sites/default/files/site_user/kestmanager_setup.exe"));

    config.ini.WriteString("Launch", "UpdateServer", "not an address");
    EXPECT_EQ(ReadUpdateServer(config), fallback);

    // A settings file that cannot be read means no override, never an exception.
    QFile::remove(config.settingsPath);
    ASSERT_TRUE(QDir().mkpath(config.settingsPath));
    EXPECT_EQ(ReadUpdateServer(config), fallback);
}

TEST(UpdateEndpoints, RedirectsOnlyToHttpsOrTheSameLoopbackServer)
{
    struct Case {
        const char *origin;
        const char *target;
        bool allowed;
    };
    const Case cases[] = {
        {"https://www.valtrix.ru/a", "https://cdn.valtrix.ru/b", true},
        {"https://www.valtrix.ru/a", "http://cdn.valtrix.ru/b", false},
        {"https://www.valtrix.ru/a", "ftp://cdn.valtrix.ru/b", false},
        {"https://www.valtrix.ru/a", "file:///tmp/b", false},
        {"http://www.valtrix.ru/a", "http://www.valtrix.ru/b", false},
        {"http://127.0.0.1:8080/a", "http://127.0.0.1:8080/b", true},
        {"http://127.0.0.1:8080/a", "http://127.0.0.1:8081/b", false},
        {"http://127.0.0.1:8080/a", "http://127.0.0.2:8080/b", false},
        {"http://127.0.0.1:8080/a", "http://10.0.0.1:8080/b", false},
        {"http://127.0.0.1:8080/a", "https://www.valtrix.ru/b", true},
        {"http://localhost:8080/a", "http://localhost:8080/b", true},
        {"http://[::1]:8080/a", "http://[::1]:8080/b", true},
        {"http://127.0.0.1/a", "http://127.0.0.1:80/b", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsRedirectAllowed(QUrl(c.origin), QUrl(c.target)), c.allowed) << c.origin << " -> " << c.target;
}

} // namespace
