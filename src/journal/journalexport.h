#pragma once
// A journalled run's tables as a CSV scenario file of the program: per table a line "Table", a line
// with the table's title, the header line and one line per data row, fields joined by ";", UTF-8
// with a byte-order mark, CR LF after every line. Unlike a saved scenario it keeps the result cells
// as they were shown (installation value, device value, error): it is the archive's copy of the
// results, and it loads like any scenario file.

#include "journal/journalrecords.h"

#include <QByteArray>
#include <QString>

namespace KestJournalExport {

QByteArray ScenarioText(const TJournalRun &run);
// ".csv" appended unless the file name already ends so; written atomically. False with the reason.
bool WriteScenario(const TJournalRun &run, const QString &path, QString *error = nullptr);
QString CorrectFileName(const QString &path);

} // namespace KestJournalExport
