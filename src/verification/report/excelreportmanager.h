#pragma once
// The spreadsheet back end: an .xlsx report from an .xlsx (or .xltx) template, written without a
// spreadsheet program. Placeholders are searched in the cells' displayed texts, case-insensitively,
// on every worksheet in workbook order; a table's rows are inserted at its placeholder and every
// row below moves down, with what refers to rows (merged cells, formulas, names, pictures,
// validations, tables) moved along. Parts without cells or rows stay as the template has them.

#include "verification/report/reportmanager.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <string>

class TExcelReportManager : public TReportManager {
public:
    TExcelReportManager();
    ~TExcelReportManager() override;

    void AddTable(const TReportTable &table, const TReportMarks &redCells) override;
    // A header placeholder is replaced in the first cell that holds it on each worksheet (every
    // occurrence inside that cell); a caption placeholder in the first cell of the workbook. The
    // replace mode makes no difference here.
    void ReplaceTagWithValue(const QString &tag, const QString &value, int replaceMode) override;
    void OpenDoc(const QString &path) override;
    void SaveAndCloseDoc(const QString &path) override;
    // Deletes every row that still holds a caption or a table placeholder.
    void RemoveTableTagsFromReport() override;

    // A template held in memory, for checks that write nothing; the changed parts as they would
    // be written.
    void OpenBytes(const QByteArray &bytes);
    void OpenParts(const std::map<std::string, QByteArray> &parts);
    std::map<std::string, std::string> ChangedParts();

    static constexpr const char *kMarkFill = "FFFA8072"; // ARGB of RGB 250, 128, 114

private:
    struct TImpl;
    std::unique_ptr<TImpl> d_;
};
