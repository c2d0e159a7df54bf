#include "verification/stringgridwithdata.h"

#include "protocol/numberformat.h"

#include <algorithm>
#include <cmath>

namespace {

bool ReadFinite(const QString &text, double &value)
{
    double v = 0.0;
    if (!TryStrToFloat(text, v) || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

} // namespace

TStringGridWithData::TStringGridWithData() = default;

QString TStringGridWithData::RowLimitMessage()
{
    return QStringLiteral("В таблице может быть не больше %1 строк: строка не добавлена.").arg(kMaxDataRows);
}

QString TStringGridWithData::ColumnLimitMessage()
{
    return QStringLiteral("В таблице может быть не больше %1 столбца: столбец не добавлен.").arg(kMaxColumns);
}

// ---- columns ----

int TStringGridWithData::AddColumn(const QString &columnName, const QString &headerText)
{
    int col = 0;
    if (!(Cells(0, 0).isEmpty() && columnParamNames_[0].isEmpty())) {
        if (!AppendColumn()) {
            ShowMessage(ColumnLimitMessage());
            return -1;
        }
        col = ColCount() - 1;
        columnParamNames_.append(columnName);
    } else {
        columnParamNames_[0] = columnName;
    }
    SetCells(col, 0, headerText);
    return col;
}

bool TStringGridWithData::AddBareColumn()
{
    if (!AppendColumn())
        return false;
    columnParamNames_.append(QString());
    return true;
}

bool TStringGridWithData::DeleteNamedColumn(int col)
{
    if (col < 0 || col >= ColCount())
        return false;
    const bool only = ColCount() == 1;
    DeleteColumnAt(col);
    if (only)
        columnParamNames_[0].clear();
    else
        columnParamNames_.removeAt(col);
    if (col < inputColumnCount_)
        --inputColumnCount_;
    SelectedCol_ = std::min(SelectedCol_, ColCount() - 1);
    return true;
}

int TStringGridWithData::AddInputColumn(const TParameter &param)
{
    const int col = AddColumn(param.name, Header(param));
    if (col >= 0) {
        ++inputColumnCount_;
        SetColWidths(col, kInputColumnWidth);
    }
    return col;
}

int TStringGridWithData::AddColumnI()
{
    return AddInputColumn(inputParamNames.Ia);
}

int TStringGridWithData::AddColumnU()
{
    return AddInputColumn(inputParamNames.Ua);
}

int TStringGridWithData::AddColumnAngle()
{
    return AddInputColumn(inputParamNames.Angle);
}

int TStringGridWithData::AddColumnFreq()
{
    return AddInputColumn(inputParamNames.Freq);
}

int TStringGridWithData::ColumnOf(const QString &name) const
{
    return int(columnParamNames_.indexOf(name));
}

int TStringGridWithData::FindColumn(const QString &name) const
{
    const int col = ColumnOf(name);
    if (col < 0)
        throw EColumnNotFound();
    return col;
}

void TStringGridWithData::SetColWidth(const QString &paramName, int width)
{
    const int col = ColumnOf(paramName);
    if (col >= 0)
        SetColWidths(col, width);
}

// ---- rows ----

bool TStringGridWithData::AddEmptyRow()
{
    if (!AppendRow()) {
        ShowMessage(RowLimitMessage());
        return false;
    }
    SelectedCol_ = std::min(1, ColCount() - 1);
    SetSelectedRow(RowCount() - 1);
    return true;
}

bool TStringGridWithData::PlaceRow(const TInputData &data, bool insert)
{
    TGridUpdate update(*this);
    int row;
    if (!isFirstRowFilled && SelectedRow_ <= 1 && RowCount() > 1) {
        row = 1; // the empty row a new table starts with
    } else {
        if (RowCount() >= kMaxRows) {
            ShowMessage(RowLimitMessage());
            return false;
        }
        if (insert) {
            row = std::clamp(SelectedRow_ + 1, 1, RowCount());
            InsertRowAt(row);
        } else {
            AppendRow();
            row = RowCount() - 1;
        }
    }
    SetRowInputData(row, data);
    isFirstRowFilled = true;
    SetSelectedRow(row);
    return true;
}

bool TStringGridWithData::AddRow(const TInputData &data)
{
    return PlaceRow(data, false);
}

bool TStringGridWithData::InsertRow(const TInputData &data)
{
    return PlaceRow(data, true);
}

void TStringGridWithData::WriteNumber(const QString &columnName, int row, double value)
{
    const int col = ColumnOf(columnName);
    if (col >= 0)
        SetCells(col, row, FloatToQStr(value));
}

double TStringGridWithData::ReadNumber(const QString &columnName, int row) const
{
    const int col = ColumnOf(columnName);
    double v = 0.0;
    if (col < 0 || !ReadFinite(Cells(col, row), v))
        return 0.0;
    return v;
}

void TStringGridWithData::SetRowInputData(int rowNum, const TInputData &data)
{
    if (rowNum < 1 || rowNum >= RowCount())
        return;
    TGridUpdate update(*this);
    WriteNumber(inputParamNames.Ia.name, rowNum, data.Ia.value);
    WriteNumber(inputParamNames.Ua.name, rowNum, data.Ua.value);
    WriteNumber(inputParamNames.Freq.name, rowNum, data.Freq.value);
    WriteNumber(inputParamNames.Angle.name, rowNum, data.Angle.value);
}

TInputData TStringGridWithData::GetRowInputData(int rowNum) const
{
    TInputData data = CreateInputData();
    const double current = ReadNumber(inputParamNames.Ia.name, rowNum);
    const double voltage = ReadNumber(inputParamNames.Ua.name, rowNum);
    data.Ia.value = data.Ib.value = data.Ic.value = current;
    data.Ua.value = data.Ub.value = data.Uc.value = voltage;
    // Angle and frequency as the cell shows them: reading "50,5" as a whole number would give 0
    // and a run would ask the installation for 0 Hz.
    data.Angle.value = ReadNumber(inputParamNames.Angle.name, rowNum);
    data.Freq.value = ReadNumber(inputParamNames.Freq.name, rowNum);
    return data;
}

QString TStringGridWithData::RowInputProblem(int rowNum) const
{
    if (rowNum < 1 || rowNum >= RowCount())
        return QStringLiteral("Строки %1 нет в таблице.").arg(rowNum);
    for (const TParameter *p :
        {&inputParamNames.Ia, &inputParamNames.Ua, &inputParamNames.Angle, &inputParamNames.Freq}) {
        const int col = ColumnOf(p->name);
        double v = 0.0;
        if (col >= 0 && !ReadFinite(Cells(col, rowNum), v))
            return QStringLiteral("Строка %1, столбец «%2»: «%3» не является числом.")
                .arg(rowNum)
                .arg(Cells(col, 0), Cells(col, rowNum));
    }
    return {};
}

double TStringGridWithData::GetAmperageFromSelectedRow() const
{
    return ReadNumber(inputParamNames.Ia.name, SelectedRow_);
}

double TStringGridWithData::GetVoltageFromSelectedRow() const
{
    return ReadNumber(inputParamNames.Ua.name, SelectedRow_);
}

double TStringGridWithData::GetAngleFromSelectedRow() const
{
    return ReadNumber(inputParamNames.Angle.name, SelectedRow_);
}

double TStringGridWithData::GetFreqFromSelectedRow() const
{
    return ReadNumber(inputParamNames.Freq.name, SelectedRow_);
}

void TStringGridWithData::SetAmperageToSelectedRow(double value)
{
    if (SelectedRow_ >= 1)
        WriteNumber(inputParamNames.Ia.name, SelectedRow_, value);
}

void TStringGridWithData::SetVoltageToSelectedRow(double value)
{
    if (SelectedRow_ >= 1)
        WriteNumber(inputParamNames.Ua.name, SelectedRow_, value);
}

void TStringGridWithData::SetFreqToSelectedRow(double value)
{
    if (SelectedRow_ >= 1)
        WriteNumber(inputParamNames.Freq.name, SelectedRow_, value);
}

void TStringGridWithData::SetAngleToSelectedRow(double value)
{
    if (SelectedRow_ >= 1)
        WriteNumber(inputParamNames.Angle.name, SelectedRow_, value);
}

void TStringGridWithData::DeleteSelectedRow()
{
    if (RowCount() <= 1 || !isFirstRowFilled || SelectedRow_ < 1 || SelectedRow_ >= RowCount())
        return;
    TGridUpdate update(*this);
    ClearSelectedRow();
    DeleteRowAt(SelectedRow_);
    SelectedRow_ = std::clamp(SelectedRow_, 1, std::max(1, RowCount() - 1));
}

void TStringGridWithData::ClearSelectedRow()
{
    if (SelectedRow_ < 1 || SelectedRow_ >= RowCount())
        return;
    TGridUpdate update(*this);
    // Only this row's marks: the rows below keep their results and so their marks.
    for (int col = 0; col < ColCount(); ++col) {
        SetCells(col, SelectedRow_, QString());
        SetMarked(col, SelectedRow_, false);
    }
    OnRowCleared(SelectedRow_);
}

void TStringGridWithData::ClearData()
{
    TGridUpdate update(*this);
    for (int row = 1; row < RowCount(); ++row) {
        for (int col = 0; col < ColCount(); ++col) {
            SetCells(col, row, QString());
            SetMarked(col, row, false);
        }
        OnRowCleared(row);
    }
}

void TStringGridWithData::ReduceToHeader()
{
    TruncateRows(1);
}

void TStringGridWithData::Clear()
{
    TGridUpdate update(*this);
    ClearData();
    ReduceToHeader();
    isFirstRowFilled = false;
    AppendRow();
    SetTopRow(1);
    SetSelectedRow(1);
}

bool TStringGridWithData::CopyPointsFrom(const TStringGridWithData &source)
{
    if (&source == this)
        return false;
    TGridUpdate update(*this);
    ClearData();
    ReduceToHeader();
    for (int row = 1; row < source.RowCount() && AppendRow(); ++row)
        for (int col = 0; col < source.ColCount(); ++col) {
            while (col >= ColCount() && AddBareColumn()) { }
            SetCells(col, row, source.Cells(col, row));
        }
    Title = source.Title;
    isFirstRowFilled = true;
    SetTopRow(1);
    SetSelectedRow(1);
    return true;
}

void TStringGridWithData::SetSelectedRow(int rownum)
{
    if (rownum < 1 || rownum >= RowCount())
        return;
    SelectedRow_ = rownum;
    if (rownum < TopRow())
        SetTopRow(rownum);
    else if (rownum > TopRow() + VisibleRowCount() - 1)
        SetTopRow(rownum - VisibleRowCount() + 1);
    Changed();
}

void TStringGridWithData::SelectCell(int col, int row)
{
    if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount())
        return;
    if (row == 0) {
        editingEnabled_ = false;
    } else {
        SelectedRow_ = row;
        SelectedCol_ = col;
        editingEnabled_ = true;
    }
    Changed();
}

bool TStringGridWithData::EditCell(int col, int row, const QString &text)
{
    // Results are measured, never typed: only the input columns take edits.
    if (!IsEditingEnabled() || row < 1 || row >= RowCount() || col < 0 || col >= inputColumnCount_)
        return false;
    return SetCells(col, row, text);
}
