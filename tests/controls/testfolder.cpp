#include "testfolder.h"

#include <QFile>

#include <cstdlib>

QString TTestFolder::Write(const QString &name, const QByteArray &bytes) const
{
    QFile file(Path(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
}

QString SourcePicture(const QString &name)
{
    const char *root = std::getenv("KEST_SOURCE_DIR");
    return QString::fromLocal8Bit(root ? root : KEST_SOURCE_DIR_FALLBACK) + QStringLiteral("/assets/") + name;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
