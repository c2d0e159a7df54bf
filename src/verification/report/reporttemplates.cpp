#include "verification/report/reporttemplates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace TReportTemplates {

const char *const kWordTemplate = "Шаблон протокола поверки.docx";
const char *const kExcelTemplate = "Шаблон протокола поверки.xlsx";

QStringList Names()
{
    return {QString::fromUtf8(kWordTemplate), QString::fromUtf8(kExcelTemplate)};
}

QString ShippedPath(bool excel)
{
    return QStringLiteral(":/kest/templates/") + QString::fromUtf8(excel ? kExcelTemplate : kWordTemplate);
}

QByteArray Content(const QString &name)
{
    if (!Names().contains(name))
        return QByteArray();
    QFile file(QStringLiteral(":/kest/templates/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void InstallInto(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return;
    for (const QString &name : Names()) {
        const QString target = QDir(folder).filePath(name);
        if (QFileInfo::exists(target))
            continue;
        const QByteArray content = Content(name);
        if (content.isEmpty())
            continue;
        QSaveFile file(target);
        if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size())
            file.commit();
    }
}

} // namespace TReportTemplates
