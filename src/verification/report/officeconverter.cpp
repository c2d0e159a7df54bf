#include "verification/report/officeconverter.h"

#include "verification/report/reporterror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace TOfficeConverter {

namespace {

QString PackageFor(const QString &format)
{
    return format == QLatin1String("xlsx") ? QStringLiteral("libreoffice-calc-nogui")
                                           : QStringLiteral("libreoffice-writer-nogui");
}

} // namespace

QString Executable()
{
    for (const char *name : {"soffice", "libreoffice"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return found;
    }
    const QString bundled = QStringLiteral("/usr/lib/libreoffice/program/soffice");
    return QFileInfo(bundled).isExecutable() ? bundled : QString();
}

QString Convert(const QString &input, const QString &format, const QString &outputFolder, int timeoutMs)
{
    const QString program = Executable();
    if (program.isEmpty())
        throw EReportError(
            QStringLiteral("Для преобразования нужен LibreOffice: установите пакет %1").arg(PackageFor(format)));
    // A profile of its own, so that a LibreOffice the user has open is neither used nor disturbed.
    QTemporaryDir profile;
    if (!profile.isValid())
        throw EReportError(QStringLiteral("Не удалось создать временную папку для LibreOffice"));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProgram(program);
    process.setArguments({QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--nologo"),
        QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck"),
        QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile.path()).toString(),
        QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), outputFolder, input});
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    process.start();
    if (!process.waitForStarted(30000))
        throw EReportError(QStringLiteral("LibreOffice не запускается: %1").arg(process.errorString()));
    timer.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        throw EReportError(QStringLiteral("LibreOffice не закончил преобразование за %1 с").arg(timeoutMs / 1000));
    }
    const QString output = QDir(outputFolder).filePath(QFileInfo(input).completeBaseName() + QLatin1Char('.') + format);
    const QString log = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !QFileInfo(output).isFile()
        || QFileInfo(output).size() == 0)
        throw EReportError(QStringLiteral("LibreOffice не смог преобразовать «%1»%2")
                               .arg(input, log.isEmpty() ? QString() : QStringLiteral(": ") + log.right(400)));
    return output;
}

TKind Classify(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return TKind::Unknown;
    const QByteArray head = file.read(8);
    if (head.startsWith("PK\x03\x04")) {
        // An OpenDocument file names its kind in its first entry ("mimetype"), stored uncompressed.
        const QByteArray start = head + file.read(120);
        return start.contains("mimetypeapplication/vnd.oasis.opendocument") ? TKind::Convertible : TKind::OfficeOpenXml;
    }
    if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") || head.startsWith("{\\rtf"))
        return TKind::Convertible;
    return TKind::Unknown;
}

QString PrepareTemplate(const QString &path, const QString &format)
{
    if (Classify(path) != TKind::Convertible)
        return path; // the writers report anything they cannot read
    const QFileInfo source(path);
    if (Executable().isEmpty())
        throw EReportError(
            QStringLiteral("Шаблон «%1» сохранён в старом формате. Отчёт пишется по шаблону .%2; шаблоны .doc, "
                           ".xls, .rtf, .odt, .ods преобразуются программой LibreOffice, которая не установлена. "
                           "Установите пакет %3 или сохраните шаблон в формате .%2.")
                .arg(source.fileName(), format, PackageFor(format)));
    // Converted once: the copy is kept in the cache and used while the template does not change.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/Valtrix/KestManager/templates");
    if (!QDir().mkpath(cache))
        throw EReportError(QStringLiteral("Не удалось создать папку «%1»").arg(cache));
    const QByteArray key
        = QCryptographicHash::hash(source.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    const QString cached = QDir(cache).filePath(
        QString::fromLatin1(key) + QLatin1Char('-') + source.completeBaseName() + QLatin1Char('.') + format);
    const QFileInfo cachedInfo(cached);
    if (cachedInfo.isFile() && cachedInfo.size() > 0 && cachedInfo.lastModified() >= source.lastModified())
        return cached;
    QTemporaryDir work(cache + QStringLiteral("/.convert-XXXXXX"));
    if (!work.isValid())
        throw EReportError(QStringLiteral("Не удалось создать папку в «%1»").arg(cache));
    const QString converted = Convert(source.absoluteFilePath(), format, work.path());
    if (std::rename(QFile::encodeName(converted).constData(), QFile::encodeName(cached).constData()) != 0)
        throw EReportError(QStringLiteral("Не удалось сохранить преобразованный шаблон «%1»").arg(cached));
    return cached;
}

} // namespace TOfficeConverter
