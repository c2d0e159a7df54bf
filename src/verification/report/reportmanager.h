#pragma once
// A report written from a template. The two back ends (a word-processor document, a spreadsheet)
// share this interface; the order of the calls that make a report is fixed by the report producer.
//
// Every failure raises EReportError with the message to show. A report is assembled in a working
// copy of the template beside its final name and appears under that name only when it is complete
// (SaveAndCloseDoc); a failure leaves no report and no working copy behind.

#include "verification/report/reporttable.h"

#include <QString>

class TReportManager {
public:
    static constexpr int kReplaceOne = 1;
    static constexpr int kReplaceAll = 2;

    explicit TReportManager(const QString &extension);
    virtual ~TReportManager();
    TReportManager(const TReportManager &) = delete;
    TReportManager &operator=(const TReportManager &) = delete;

    const QString extension; // ".docx" or ".xlsx"

    // The table at the next table placeholder, with the marked cells shaded.
    virtual void AddTable(const TReportTable &table, const TReportMarks &redCells) = 0;
    virtual void ReplaceTagWithValue(const QString &tag, const QString &value, int replaceMode) = 0;
    virtual void OpenDoc(const QString &path) = 0;
    // Writes the document into the working copy at `path` and publishes it under its final name.
    virtual void SaveAndCloseDoc(const QString &path) = 0;
    virtual void RemoveTableTagsFromReport() = 0;

    // Copies the template into a working copy beside `targetPath` and returns the copy's path. The
    // report will be published as `targetPath` + extension, or, when that exists, `targetPath` + "1"
    // + extension, + "2" …, never over an existing file.
    QString CopyTemplate(const QString &sourcePath, const QString &targetPath);
    // Publishes exactly at `path` instead (replacing a file there), for a caller that names it.
    void SetExactTarget(const QString &path) { exactTarget_ = path; }
    void SetTableHeader(const QString &text);
    void AddTableAndHeader(
        const TReportTable &table, const QString &header, const TReportMarks &redCells, int tableNum);

    // The finished report's path (empty until SaveAndCloseDoc succeeded).
    const QString &ReportPath() const { return reportPath_; }

    // `base` + (number ? number : "") + `extension`.
    static QString NumberedName(const QString &base, int number, const QString &extension);
    // Moves `file` to the first free numbered name of `base` and returns it; never replaces a file.
    static QString PublishNumbered(const QString &file, const QString &base, const QString &extension);

protected:
    // Called by SaveAndCloseDoc once the working copy holds the complete report.
    void Publish(const QString &workingCopy);
    // The file a path stands for in messages: the template for its working copy.
    QString ShownName(const QString &path) const { return path == workingCopy_ ? templatePath_ : path; }
    // Text that any reader takes as it is: control characters a document cannot hold become blanks.
    static QString CleanValue(const QString &value);

private:
    QString targetBase_;
    QString templatePath_;
    QString exactTarget_;
    QString workingCopy_;
    QString reportPath_;
};
