#include "lab/arshinjournal.h"

#include "journal/journal.h"
#include "lab/labconfig.h"

#include <QDate>
#include <QFileInfo>

#include <algorithm>

QString TArshinExportResult::Text(const QString &path) const
{
    QStringList lines;
    if (written)
        lines << QStringLiteral("Записано: %1, поверок: %2").arg(QFileInfo(path).absoluteFilePath()).arg(count);
    else
        lines << QStringLiteral("Файл не записан: ") + error;
    for (const TArshinSkipped &s : skipped)
        lines << QStringLiteral("Пропущена поверка %1: %2").arg(s.runId, s.missing.join(QStringLiteral("; ")));
    lines << notMarked;
    return lines.join(QLatin1Char('\n'));
}

TArshinExportResult ExportRunsToArshin(TJournal &journal, TConfigController *settings,
    const std::vector<TJournalRun> &runs, const QString &path, TArshinOptions options, const QString &who)
{
    TArshinExportResult result;
    if (options.schemaPath.isEmpty())
        options.schemaPath = TArshinConfig(settings).ReadSchema();
    const QString target = QFileInfo(path).absoluteFilePath();
    result.written
        = WriteArshinFile(target, runs, ArshinLabOf(TLabConfig(settings)), options, &result.error, &result.skipped);
    if (!result.written)
        return result;
    const QString mark
        = QStringLiteral("%1; %2").arg(target, QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    for (const TJournalRun &run : runs) {
        const bool left = std::any_of(result.skipped.begin(), result.skipped.end(),
            [&](const TArshinSkipped &s) { return s.runId == run.header.id; });
        if (left)
            continue;
        ++result.count;
        TAmendment a;
        a.who = who;
        a.field = QStringLiteral("arshin/exported");
        a.newValue = mark;
        a.reason = QStringLiteral("выгрузка в ФГИС «Аршин»");
        if (!journal.AddAmendment(run.header.id, a))
            result.notMarked << QStringLiteral("Отметка о выгрузке поверки %1 не записана: %2")
                                    .arg(run.header.id, journal.LastError());
    }
    return result;
}
