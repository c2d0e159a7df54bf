#pragma once
// The verification table with its results. After the input columns come up to five output
// columns, one per measured parameter (named by the parameter, header "name, unit", 170 pixels). An
// output cell is written in parts:
//   1. the installation's value with the unit prefix ("220,0", "10,50k");
//   2. seven blanks and the device's value with the prefix (RS), or seven blanks, the analog
//      current with 4 digits and "мА" (analog);
//   3. seven blanks, the error with 3 digits and "%".
// When the device sent no valid value, parts 2 and 3 are "/---/---". A cell's error mark (painted
// red) follows the value's over-limit flag whenever parts 2 and 3 are written, and is left as it
// was for "/---/---".
//
// The results of each row are kept with the row (they move when rows are inserted or deleted), so
// that the output cells can be written again after the columns changed (RepopulateGrid) and a
// journal can restore a row exactly.

#include "verification/gridrecords.h"
#include "verification/stringgridwithdata.h"

#include <bitset>
#include <map>
#include <optional>
#include <vector>

class TSuperAvtopoverkaGrid : public TStringGridWithData {
public:
    static constexpr int kOutputColumnWidth = 170;
    static inline const QString kGap = QStringLiteral("       "); // seven blanks between the parts
    static inline const QString kNoValue = QStringLiteral("/---/---");

    // What is stored for one data row.
    struct TRowResults {
        std::optional<TSuperParametersForGridRow> output; // installation values (AddOutputData)
        std::optional<TParametersForGridRow> rs; // device values over RS (AddOutputDataRS)
        std::map<int, TParameterForGrid> analog; // analog cells by parameter index
        std::bitset<TParameters::kCount + 1> noValue; // parameters shown with "/---/---"
        // Taken back from a results journal: only the errors and their marks (for the error chart);
        // the row's cells are the journalled texts and are never written again from these, nor is the
        // row reused for an identical point of a run.
        bool fromJournal = false;
        bool Empty() const { return !fromJournal && !output && !rs && analog.empty() && noValue.none(); }
    };

    TSuperAvtopoverkaGrid() = default;

    // The error marks (redCells): false outside rows 0–1000, columns 0–20.
    bool IsRedCell(int col, int row) const { return IsMarked(col, row); }
    bool SetRedCell(int col, int row, bool red) { return SetMarked(col, row, red); }

    // ---- columns ----
    // An output column: AddColumn, then 170 pixels wide. -1 at the column limit.
    virtual int AddOutputColumn(const QString &name, const QString &header);
    // One output column per entry (parameter index as text), in list order. Entries that are not
    // parameter indices 1–33, "0" and parameters that have a column already are skipped; false
    // when an entry was not a parameter index (a message names it).
    bool SetOutputColumns(const QStringList &paramNums);
    // Adds the columns of listed parameters that have none, then deletes every output column whose
    // parameter is not listed. Input columns are never deleted; "0" entries are ignored.
    bool UpdateOutputColumns(const QStringList &paramNums);
    // The output column of parameter `index` (1–33); -1 when it has none.
    int OutputColumnOf(int index) const;

    // ---- results ----
    // Stores the installation values of row `rowNum` and writes part 1 of each of its cells
    // (parameters without a column are skipped); device parts already stored for the row stay
    // after it. False for a row outside the table.
    bool AddOutputData(const TSuperParametersForGridRow &data, int rowNum);
    // "/---/---" after the installation value of every output cell of the row: the device sent
    // nothing (its earlier values of the row are dropped).
    void SetDefaultParamAndErrorToRow(int rowNum);
    // Empties every output cell, every mark and every stored result; the input cells stay.
    virtual void ClearOutputData();
    // Writes every output cell again from the stored results (after the columns changed). Cells
    // of rows or parameters without stored results keep their text.
    virtual void RepopulateGrid();

    // The results stored for a data row; nullptr when it has none.
    const TRowResults *RowResults(int rowNum) const;
    // The installation values of a row (nullptr when none), as outputParamsForRows held them.
    const TSuperParametersForGridRow *OutputParamsForRow(int rowNum) const;
    // Puts back the stored results of a row (a journal restoring a run) and writes its output
    // cells from them. Marks of cells showing "/---/---" are set by the caller (SetRedCell).
    bool SetRowResults(int rowNum, const TRowResults &results);

    // The full parameter set that resolves output parameter indices and names.
    const TParameters &OutputParamNames() const { return outputParamNames; }
    // The parameter index of an output column; 0 for input columns and unnamed ones.
    int ParamOfColumn(int col) const;

    // Text of part 1 and of the device's value: value / 1000^n with 4 digits, then the prefix.
    static QString FormatWithPrefix(double value, const QString &prefix);

protected:
    void OnRowInserted(int row) override;
    void OnRowDeleted(int row) override;
    void OnRowCleared(int row) override;
    TRowResults &ResultsFor(int rowNum); // rowNum must be a data row
    bool ParseParamNums(const QStringList &paramNums, std::vector<int> &indices);
    // Stores the device's values (RS) or an analog value of a row and writes the cells concerned.
    bool StoreDeviceData(const TParametersForGridRow &data, int rowNum);
    bool StoreAnalogData(const TParameterForGrid &param, int rowNum);
    // Writes one output cell from the row's stored results; a cell without any stays as it is.
    void RenderCell(int rowNum, int col);
    void RenderParams(int rowNum, const TSuperParametersForGridRow &data);

    TParameters outputParamNames;
    std::vector<TRowResults> results_; // index = row − 1
};

class TKestAvtopoverkaGrid : public TSuperAvtopoverkaGrid {
public:
    TKestAvtopoverkaGrid() = default;

    // Stores the device's values of row `rowNum` (replacing earlier ones) and writes its cells:
    // installation value, then parts 2 and 3 or "/---/---", each cell once.
    bool AddOutputDataRS(const TParametersForGridRow &data, int rowNum);
    // SetDefaultParamAndErrorToRow under the name the run driver uses.
    void SetDefaultRsAndErrorToRow(int rowNum);
    // The whole cell of an analog value: parts 1, 2 (analog current) and 3, and its mark.
    bool SetAnalogParameter(int rowNum, const TParameterForGrid &param);
};
