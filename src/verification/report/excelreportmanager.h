#pragma once
// The spreadsheet back end: an .xlsx report from an .xlsx (or .xltx) template, written without a
// spreadsheet program. Placeholders are searched in the cells' displayed texts, case-insensitively,
// on every worksheet in workbook order; a table's rows are inserted at its placeholder and every
// row below moves down, with what refers to rows (merged cells, formulas, names, pictures,
// validations, tables) moved along. Parts without cells or rows stay as the template has them.

#include "verification/report/reportmanager.h"

#include <QByteArray>
#include <QStringList>

#include <map>
#include <memory>
#include <string>

class TExcelReportManager : public TReportManager {
public:
    TExcelReportManager();
    ~TExcelReportManager() override;

    void AddTable(const TReportTable &table, const TReportMarks &redCells) override;
    // A header placeholder is replaced in every cell that holds it (tables excepted) and in every page
    // header and footer; a caption placeholder in the first cell of the workbook. The replace mode
    // makes no difference here.
    void ReplaceTagWithValue(const QString &tag, const QString &value, int replaceMode) override;
    // The placeholders given to ReplaceTagWithValue that stand where no value goes (notes, drawn text),
    // each once, for "Не заполнены поля шаблона: …".
    QStringList UnfilledPlaceholders();
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
