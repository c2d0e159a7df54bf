#include "presentation/controls/controlpictures.h"

#include "presentation/controls/jpegcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ControlPictures {

namespace {

constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

QStringList &OverrideFolders()
{
    static QStringList folders;
    return folders;
}

} // namespace

QStringList SearchFolders()
{
    if (!OverrideFolders().isEmpty())
        return OverrideFolders();
    QStringList folders{QDir::currentPath()};
    if (QCoreApplication::instance()) {
        const QString programFolder = QCoreApplication::applicationDirPath();
        folders << programFolder << QDir::cleanPath(programFolder + QStringLiteral("/../share/kestmanager"));
    }
#ifdef KEST_DATA_DIR
    folders << QStringLiteral(KEST_DATA_DIR);
#endif
    folders.removeDuplicates();
    return folders;
}

void SetSearchFolders(const QStringList &folders)
{
    OverrideFolders() = folders;
}

QString Find(const QString &name)
{
    for (const QString &folder : SearchFolders()) {
        const QFileInfo info(QDir(folder), name);
        if (info.isFile())
            return info.absoluteFilePath();
    }
    return QString();
}

QImage LoadJpegFile(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return QImage();
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize)
        return QImage();
    TJpegImage decoded;
    if (!DecodeJpeg(
            reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size()), decoded))
        return QImage();
    const QImage view(decoded.rgb.data(), decoded.width, decoded.height, decoded.width * 3, QImage::Format_RGB888);
    return view.convertToFormat(QImage::Format_RGB32); // a deep copy that outlives `decoded`
}

QImage Load(const QString &name)
{
    return LoadJpegFile(Find(name));
}

} // namespace ControlPictures
