#include "verification/report/reportmanager.h"

#include "verification/report/ooxmlpackage.h"
#include "verification/report/reporterror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxReportNumber = 100000;
constexpr qint64 kMaxTemplateSize = 512LL * 1024 * 1024;

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

enum class TMove { Done, Exists, Failed };

// Renames without ever replacing `to`. Where the file system cannot say so atomically (no
// RENAME_NOREPLACE, no hard links, as on FAT media) it checks first.
TMove MoveNoReplace(const QString &from, const QString &to, int *error)
{
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return TMove::Done;
    if (errno == EEXIST)
        return TMove::Exists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        *error = errno;
        return TMove::Failed;
    }
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return TMove::Done;
    }
    if (errno == EEXIST)
        return TMove::Exists;
    if (QFileInfo::exists(to))
        return TMove::Exists;
    if (::rename(source.constData(), target.constData()) == 0)
        return TMove::Done;
    *error = errno;
    return TMove::Failed;
}

// The mode a file created in the ordinary way gets (0666 less the umask): a temporary file is made
// 0600, and the report published by renaming it would keep that, closed to the rest of a shared folder.
// The umask can only be read by setting it; it is put back at once.
mode_t CreationMode()
{
    const mode_t mask = ::umask(0077);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

TReportManager::TReportManager(const QString &ext) : extension(ext) { }

TReportManager::~TReportManager()
{
    if (!workingCopy_.isEmpty())
        QFile::remove(workingCopy_);
}

QString TReportManager::NumberedName(const QString &base, int number, const QString &ext)
{
    return base + (number > 0 ? QString::number(number) : QString()) + ext;
}

QString TReportManager::PublishNumbered(const QString &file, const QString &base, const QString &ext)
{
    for (int number = 0; number < kMaxReportNumber; ++number) {
        const QString name = NumberedName(base, number, ext);
        int error = 0;
        switch (MoveNoReplace(file, name, &error)) {
        case TMove::Done:
            return name;
        case TMove::Exists:
            continue;
        case TMove::Failed:
            throw EReportError(QStringLiteral("Не удалось сохранить отчёт «%1»: %2").arg(name, ErrnoText(error)));
        }
    }
    throw EReportError(QStringLiteral("Нет свободного имени для отчёта «%1»").arg(base + ext));
}

QString TReportManager::CopyTemplate(const QString &sourcePath, const QString &targetPath)
{
    QFile source(sourcePath);
    const QFileInfo sourceInfo(sourcePath);
    if (!sourceInfo.exists())
        throw EReportError(QStringLiteral("Шаблон не найден: %1").arg(sourcePath));
    if (!sourceInfo.isFile())
        throw EReportError(QStringLiteral("Шаблон не является файлом: %1").arg(sourcePath));
    if (sourceInfo.size() > kMaxTemplateSize)
        throw EReportError(QStringLiteral("Шаблон слишком велик: %1").arg(sourcePath));
    if (!source.open(QIODevice::ReadOnly))
        throw EReportError(QStringLiteral("Шаблон не читается: %1 (%2)").arg(sourcePath, source.errorString()));
    const QByteArray content = source.readAll();
    if (source.error() != QFileDevice::NoError)
        throw EReportError(QStringLiteral("Шаблон не читается: %1 (%2)").arg(sourcePath, source.errorString()));

    const QFileInfo target(exactTarget_.isEmpty() ? targetPath : exactTarget_);
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        throw EReportError(QStringLiteral("Не удалось создать папку отчётов «%1»").arg(folder));

    // Hidden, beside the final name, so that publishing is a rename within one file system.
    QTemporaryFile copy(
        folder + QStringLiteral("/.") + target.completeBaseName() + QStringLiteral(".XXXXXX") + extension);
    copy.setAutoRemove(false);
    if (!copy.open())
        throw EReportError(
            QStringLiteral("Не удалось создать файл отчёта в папке «%1»: %2").arg(folder, copy.errorString()));
    const QString copyPath = copy.fileName();
    workingCopy_ = copyPath;
    // The writers replace the file keeping its mode, so the report is published with this one.
    ::fchmod(copy.handle(), CreationMode());
    if (copy.write(content) != content.size() || !copy.flush()) {
        const QString reason = copy.errorString();
        copy.close();
        throw EReportError(QStringLiteral("Не удалось записать отчёт в папку «%1»: %2").arg(folder, reason));
    }
    copy.close();
    targetBase_ = targetPath;
    templatePath_ = sourcePath;
    reportPath_.clear();
    return copyPath;
}

void TReportManager::Publish(const QString &workingCopy)
{
    if (!exactTarget_.isEmpty()) {
        if (::rename(QFile::encodeName(workingCopy).constData(), QFile::encodeName(exactTarget_).constData()) != 0)
            throw EReportError(
                QStringLiteral("Не удалось сохранить отчёт «%1»: %2").arg(exactTarget_, ErrnoText(errno)));
        reportPath_ = exactTarget_;
    } else {
        reportPath_ = PublishNumbered(workingCopy, targetBase_, extension);
    }
    if (workingCopy == workingCopy_)
        workingCopy_.clear();
}

void TReportManager::SetTableHeader(const QString &text)
{
    ReplaceTagWithValue(QStringLiteral("#заголовок"), text, kReplaceOne);
}

void TReportManager::AddTableAndHeader(
    const TReportTable &table, const QString &header, const TReportMarks &redCells, int tableNum)
{
    SetTableHeader(QStringLiteral("Таблица ") + QString::number(tableNum) + QStringLiteral(". ") + header);
    AddTable(table, redCells);
}

QString TReportManager::CleanValue(const QString &value)
{
    return XmlSafe(value);
}
