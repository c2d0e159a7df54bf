#include "journal/journalexport.h"

#include <QFileInfo>
#include <QSaveFile>

namespace KestJournalExport {
namespace {

QString OneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// Quoted only when the reader would split it otherwise.
QString Field(const QString &cell)
{
    QString text = OneLine(cell);
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')))
        return text;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString Line(const QStringList &cells)
{
    QStringList fields;
    for (const QString &c : cells)
        fields << Field(c);
    return fields.join(QLatin1Char(';')) + QLatin1String("\r\n");
}

} // namespace

QByteArray ScenarioText(const TJournalRun &run)
{
    QString text;
    for (const TJournalShownTable &table : run.ShownTables()) {
        text += QLatin1String("Table\r\n");
        text += OneLine(table.layout->title) + QLatin1String("\r\n");
        text += Line(table.layout->headers);
        for (const TJournalShownRow &row : table.rows)
            text += Line(row.cells);
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString CorrectFileName(const QString &path)
{
    return QFileInfo(path).fileName().endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)
        ? path
        : path + QLatin1String(".csv");
}

bool WriteScenario(const TJournalRun &run, const QString &path, QString *error)
{
    QSaveFile file(CorrectFileName(path));
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = ScenarioText(run);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace KestJournalExport
