#pragma once
// A verification table without its results: named columns (the input columns current, voltage,
// angle, frequency first), rows of test points, the selected cell, whether the table has data, and
// its title (the tab name). The CSV files are read into and written from this class.
//
// Input cells hold numbers in the general form with the decimal comma ("1,5", "220"). Reading them
// back accepts what the number module reads; a cell that does not convert reads as 0, and
// RowInputProblem tells which cell that was, so that a run can refuse the point instead.

#include "protocol/inputdata.h"
#include "transport/kesterror.h"
#include "verification/stringgrid.h"

#include <QStringList>

class EColumnNotFound : public EKestError {
public:
    EColumnNotFound() : EKestError("Column not found") { }
};

class TStringGridWithData : public TStringGrid {
public:
    static constexpr int kInputColumnWidth = 80;

    TStringGridWithData();

    // ---- columns ----
    // Uses the first column while it is unnamed with an empty header, otherwise appends one.
    // Returns the column, or -1 when the table has its 21 columns already (a message says so).
    int AddColumn(const QString &columnName, const QString &headerText);
    // The input columns, named "Ток", "Напр.", "Угол", "Частота", headers "Ток, A" …
    int AddColumnI();
    int AddColumnU();
    int AddColumnAngle();
    int AddColumnFreq();
    // First column of that name (case-sensitive); raises EColumnNotFound ("Column not found").
    int FindColumn(const QString &name) const;
    // The same without raising: -1 when there is none.
    int ColumnOf(const QString &name) const;
    // Width of the named column; a name without a column is skipped.
    void SetColWidth(const QString &paramName, int width);

    // ---- rows ----
    // Appends a row and selects its cell in column 1; false at 1000 data rows (a message says so).
    bool AddEmptyRow();
    // Writes a test point: into the empty first row of a new table, else into a new last row,
    // which becomes current. False, with a message and nothing changed, at 1000 data rows.
    bool AddRow(const TInputData &data);
    // As AddRow, but the new row goes directly after the selected one and becomes current.
    bool InsertRow(const TInputData &data);
    // Current, voltage, frequency and angle into their columns; absent columns are skipped.
    virtual void SetRowInputData(int rowNum, const TInputData &data);
    // A point from the row: Ia, Ib, Ic from the current cell, Ua, Ub, Uc from the voltage cell, the
    // angle and the frequency from theirs. Absent columns and cells that do not convert give 0.
    virtual TInputData GetRowInputData(int rowNum) const;
    virtual TInputData CreateInputData() const { return TInputData(); }
    // Empty when every input cell of the row holds a number; otherwise says which does not.
    QString RowInputProblem(int rowNum) const;

    // The cells of the selected row; 0 when absent or not a number.
    double GetAmperageFromSelectedRow() const;
    double GetVoltageFromSelectedRow() const;
    double GetAngleFromSelectedRow() const;
    double GetFreqFromSelectedRow() const;
    void SetAmperageToSelectedRow(double value);
    void SetVoltageToSelectedRow(double value);
    void SetFreqToSelectedRow(double value);
    void SetAngleToSelectedRow(double value);

    // Removes the selected row (rows below move up, with their marks and results); nothing on a
    // table without data.
    void DeleteSelectedRow();
    // Empties the selected row's cells, its marks and its results.
    void ClearSelectedRow();
    // Empties every data cell (the header stays), every mark and every result.
    void ClearData();
    // Back to a new table: the header, one empty row, row 1 current, no data.
    void Clear();
    // Selects a data row and scrolls it into view; rows outside the table are ignored.
    void SetSelectedRow(int rownum);
    // Rows including the header.
    int GetItemsCount() const { return RowCount(); }

    // Takes the points of another table (one read from a scenario file): its data rows cell by cell
    // by position (columns added as loading a file adds them) and its title. This table's results
    // and marks go; afterwards it has data. False when `source` is this table.
    bool CopyPointsFrom(const TStringGridWithData &source);

    // A click on a cell: a data cell becomes the selected one and may be edited in place; a click
    // on the header only ends editing.
    void SelectCell(int col, int row);
    // In-place editing of a data cell (refused on the header, outside, or while read-only).
    bool EditCell(int col, int row, const QString &text);
    bool IsEditingEnabled() const { return editingEnabled_ && !readOnly_; }
    // A table shown for reading only (an archived run) never takes edits.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool IsReadOnly() const { return readOnly_; }

    int SelectedRow() const { return SelectedRow_; }
    int SelectedCol() const { return SelectedCol_; }
    int InputColumnCount() const { return inputColumnCount_; }
    // One name per column (empty for a column without one), index = column number.
    const QStringList &ColumnParamNames() const { return columnParamNames_; }

    bool isFirstRowFilled = false; // the table has data (not only the initial empty row)
    QString Title; // the tab name

    static QString RowLimitMessage();
    static QString ColumnLimitMessage();

    // Loading a file: the table reduced to its header row (header cells kept, no data rows),
    // rows appended without touching the selection, columns without name or header for fields
    // beyond the last column. Each returns false at the limit.
    void ReduceToHeader();
    bool AppendDataRow() { return AppendRow(); }
    bool AddBareColumn();

protected:
    // Removes a column with its name (never one of the input columns' count).
    bool DeleteNamedColumn(int col);
    // Told when a row's cells are emptied, so that its results go with them.
    virtual void OnRowCleared(int /*row*/) { }
    // Header text "name, unit".
    static QString Header(const TParameter &param) { return param.name + QStringLiteral(", ") + param.measure; }

    TInputData inputParamNames; // names and units of the input columns only

private:
    bool PlaceRow(const TInputData &data, bool insert);
    int AddInputColumn(const TParameter &param);
    void WriteNumber(const QString &columnName, int row, double value);
    double ReadNumber(const QString &columnName, int row) const;

    int SelectedRow_ = 1;
    int SelectedCol_ = 0;
    int inputColumnCount_ = 0;
    QStringList columnParamNames_{QString()};
    bool editingEnabled_ = true;
    bool readOnly_ = false;
};
