#pragma once
// What the report tests share: templates made from their parts, a sample verification table, a
// view that records what the producer asks of it.

#include "verification/report/reportproducer.h"
#include "verification/report/reporttable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <string>

namespace ReportTest {

using TParts = std::map<std::string, QByteArray>;

// A zip of the parts at `path`; false when it cannot be written.
bool WriteZip(const QString &path, const TParts &parts);

// A Word document whose body holds `bodyXml` (paragraphs in the "w" namespace); with the
// "Table Grid" style when `tableGrid`.
TParts WordParts(const QString &bodyXml, bool tableGrid = true);
// A workbook of sheets given by their cells' XML (the content of sheetData) and the rest of
// the worksheet after sheetData (merges, validations …).
struct TSheetXml {
    QString name;
    QString rows;
    QString tail;
};
TParts ExcelParts(const QList<TSheetXml> &sheets, const QString &definedNames = QString());

// A verification table: the four input columns and Ua, Ia, P, Q, F, each output cell in three
// parts ("value       device       error%").
TReportTable SampleTable(const QString &title, int rows);

struct TRecordingView : IReportView {
    QStringList calls; // "busy", "disable", "restore", "idle" in order
    QStringList errors, messages, opened;
    void SetBusy(bool busy) override { calls << (busy ? "busy" : "idle"); }
    void SetReportCommandsEnabled(bool enabled) override { calls << (enabled ? "restore" : "disable"); }
    void ShowError(const QString &text) override { errors << text; }
    void ShowMessage(const QString &text) override { messages << text; }
    void OpenDocument(const QString &path) override { opened << path; }
    bool Restored() const { return calls == QStringList{"busy", "disable", "restore", "idle"}; }
};

// Every file of a folder (hidden ones included), sorted.
QStringList FilesIn(const QString &folder);

} // namespace ReportTest
