#include "verification/avtopoverkagrid.h"

#include "presentation/parameterscaling.h"
#include "verification/avtopoverkaconfig.h"

#include <algorithm>

namespace {

int PrefixNumber(const QString &prefix)
{
    for (int n = 1; n <= 3; ++n)
        if (prefix == TParameterScaling::GetPrefixName(n))
            return n;
    return 0;
}

bool IsEnergy(int index)
{
    return index == piEa || index == piEr;
}

} // namespace

QString TSuperAvtopoverkaGrid::FormatWithPrefix(double value, const QString &prefix)
{
    return TParameterScaling::GetValueStringAccordingToPrefix(PrefixNumber(prefix), value) + prefix;
}

// ---- columns ----

int TSuperAvtopoverkaGrid::AddOutputColumn(const QString &name, const QString &header)
{
    const int col = AddColumn(name, header);
    if (col >= 0)
        SetColWidths(col, kOutputColumnWidth);
    return col;
}

int TSuperAvtopoverkaGrid::OutputColumnOf(int index) const
{
    const TParameter *param = outputParamNames.GetParameterByIndex(index);
    if (!param)
        return -1;
    const int col = ColumnOf(param->name);
    return col >= InputColumnCount() ? col : -1;
}

bool TSuperAvtopoverkaGrid::ParseParamNums(const QStringList &paramNums, std::vector<int> &indices)
{
    QStringList bad;
    for (const QString &entry : paramNums) {
        int n = 0;
        if (!TryParseStoredNumber(entry, n) || n < 0 || n > TParameters::kCount) {
            bad << entry;
            continue;
        }
        if (n != 0 && std::find(indices.begin(), indices.end(), n) == indices.end())
            indices.push_back(n);
    }
    if (!bad.isEmpty())
        ShowMessage(
            QStringLiteral("Неверный номер параметра в списке столбцов: «%1».").arg(bad.join(QStringLiteral("», «"))));
    return bad.isEmpty();
}

bool TSuperAvtopoverkaGrid::SetOutputColumns(const QStringList &paramNums)
{
    std::vector<int> indices;
    const bool ok = ParseParamNums(paramNums, indices);
    TGridUpdate update(*this);
    for (const int n : indices) {
        if (OutputColumnOf(n) >= 0)
            continue;
        const TParameter *param = outputParamNames.GetParameterByIndex(n);
        if (AddOutputColumn(param->name, Header(*param)) < 0)
            return false;
    }
    return ok;
}

bool TSuperAvtopoverkaGrid::UpdateOutputColumns(const QStringList &paramNums)
{
    std::vector<int> indices;
    const bool ok = ParseParamNums(paramNums, indices);
    TGridUpdate update(*this);
    QStringList names;
    for (const int n : indices) {
        const TParameter *param = outputParamNames.GetParameterByIndex(n);
        names << param->name;
        if (OutputColumnOf(n) < 0 && AddOutputColumn(param->name, Header(*param)) < 0)
            break;
    }
    for (int col = ColCount() - 1; col >= InputColumnCount(); --col)
        if (!names.contains(ColumnParamNames().value(col)))
            DeleteNamedColumn(col);
    return ok;
}

// ---- results ----

void TSuperAvtopoverkaGrid::OnRowInserted(int row)
{
    const size_t at = size_t(row - 1);
    if (at <= results_.size())
        results_.insert(results_.begin() + ptrdiff_t(at), TRowResults());
}

void TSuperAvtopoverkaGrid::OnRowDeleted(int row)
{
    const size_t at = size_t(row - 1);
    if (row >= 1 && at < results_.size())
        results_.erase(results_.begin() + ptrdiff_t(at));
}

void TSuperAvtopoverkaGrid::OnRowCleared(int row)
{
    const size_t at = size_t(row - 1);
    if (row >= 1 && at < results_.size())
        results_[at] = TRowResults();
}

TSuperAvtopoverkaGrid::TRowResults &TSuperAvtopoverkaGrid::ResultsFor(int rowNum)
{
    if (results_.size() < size_t(rowNum))
        results_.resize(size_t(rowNum));
    return results_[size_t(rowNum - 1)];
}

const TSuperAvtopoverkaGrid::TRowResults *TSuperAvtopoverkaGrid::RowResults(int rowNum) const
{
    if (rowNum < 1 || size_t(rowNum) > results_.size() || rowNum >= RowCount())
        return nullptr;
    const TRowResults &r = results_[size_t(rowNum - 1)];
    return r.Empty() ? nullptr : &r;
}

const TSuperParametersForGridRow *TSuperAvtopoverkaGrid::OutputParamsForRow(int rowNum) const
{
    const TRowResults *r = RowResults(rowNum);
    return r && r->output ? &*r->output : nullptr;
}

int TSuperAvtopoverkaGrid::ParamOfColumn(int col) const
{
    if (col < InputColumnCount() || col >= ColCount())
        return 0;
    const TParameter *p = outputParamNames.GetParameterByName(ColumnParamNames().value(col));
    return p ? p->index : 0;
}

void TSuperAvtopoverkaGrid::RenderCell(int rowNum, int col)
{
    const int index = ParamOfColumn(col);
    if (index == 0 || rowNum < 1 || size_t(rowNum) > results_.size())
        return;
    const TRowResults &r = results_[size_t(rowNum - 1)];
    if (r.fromJournal)
        return;
    if (const auto analog = r.analog.find(index); analog != r.analog.end()) {
        const TParameterForGrid &item = analog->second;
        SetCells(col, rowNum,
            FormatWithPrefix(item.Parameter1.value, item.prefix) + kGap
                + TParameterScaling::GetStringFromFloat(4, item.AnalogValue) + QStringLiteral("мА") + kGap
                + TParameterScaling::GetStringFromFloat(3, item.Error) + QStringLiteral("%"));
        SetRedCell(col, rowNum, item.isBiggerThanThreshold);
        return;
    }
    const TSuperParameterForGrid *installation = r.output ? r.output->GetParameterByIndex(index) : nullptr;
    const TSuperParameterForGrid *device = r.rs && !IsEnergy(index) ? r.rs->GetParameterByIndex(index) : nullptr;
    const bool noValue = r.noValue.test(size_t(index));
    if (!installation && !device && !noValue)
        return; // nothing stored for this cell: its text stays
    QString text = installation ? FormatWithPrefix(installation->Parameter1.value, installation->prefix) : QString();
    if (device) {
        if (device->Parameter2 && device->Parameter2->isDataCorrect) {
            text += kGap + FormatWithPrefix(device->Parameter2->value, device->prefix) + kGap
                + TParameterScaling::GetStringFromFloat(3, device->Error) + QStringLiteral("%");
            SetRedCell(col, rowNum, device->isBiggerThanThreshold);
        } else {
            text += kNoValue; // the mark stays as it was
        }
    } else if (noValue) {
        text += kNoValue;
    }
    SetCells(col, rowNum, text);
}

void TSuperAvtopoverkaGrid::RenderParams(int rowNum, const TSuperParametersForGridRow &data)
{
    for (int slot = 1; slot <= data.arrayLength; ++slot)
        if (const TSuperParameterForGrid *item = data.Slot(slot))
            if (const int col = OutputColumnOf(item->Parameter1.index); col >= 0)
                RenderCell(rowNum, col);
}

bool TSuperAvtopoverkaGrid::AddOutputData(const TSuperParametersForGridRow &data, int rowNum)
{
    if (rowNum < 1 || rowNum >= RowCount())
        return false;
    TGridUpdate update(*this);
    const TSuperParametersForGridRow copy = data; // `data` may be the stored row itself
    ResultsFor(rowNum).output = copy;
    RenderParams(rowNum, copy);
    return true;
}

bool TSuperAvtopoverkaGrid::StoreDeviceData(const TParametersForGridRow &data, int rowNum)
{
    if (rowNum < 1 || rowNum >= RowCount())
        return false;
    TGridUpdate update(*this);
    const TParametersForGridRow copy = data;
    TRowResults &r = ResultsFor(rowNum);
    r.rs = copy;
    for (int slot = 1; slot <= copy.arrayLength; ++slot)
        if (const TSuperParameterForGrid *item = copy.Slot(slot); item && !IsEnergy(item->Parameter1.index))
            r.noValue.reset(size_t(item->Parameter1.index));
    // Each cell is written afresh from its stored values, so a row measured again does not
    // collect the device parts twice.
    RenderParams(rowNum, copy);
    return true;
}

bool TSuperAvtopoverkaGrid::StoreAnalogData(const TParameterForGrid &param, int rowNum)
{
    if (rowNum < 1 || rowNum >= RowCount())
        return false;
    TGridUpdate update(*this);
    ResultsFor(rowNum).analog[param.Parameter1.index] = param;
    if (const int col = OutputColumnOf(param.Parameter1.index); col >= 0)
        RenderCell(rowNum, col);
    return true;
}

void TSuperAvtopoverkaGrid::SetDefaultParamAndErrorToRow(int rowNum)
{
    if (rowNum < 1 || rowNum >= RowCount())
        return;
    TGridUpdate update(*this);
    TRowResults &r = ResultsFor(rowNum);
    r.rs.reset(); // the device's earlier values of this row are no longer what it says
    for (int col = InputColumnCount(); col < ColCount(); ++col) {
        const int index = ParamOfColumn(col);
        if (index == 0) {
            AppendToCell(col, rowNum, kNoValue);
            continue;
        }
        r.noValue.set(size_t(index));
        RenderCell(rowNum, col);
    }
}

bool TSuperAvtopoverkaGrid::SetRowResults(int rowNum, const TRowResults &results)
{
    if (rowNum < 1 || rowNum >= RowCount())
        return false;
    TGridUpdate update(*this);
    ResultsFor(rowNum) = results;
    for (int col = InputColumnCount(); col < ColCount(); ++col)
        RenderCell(rowNum, col);
    return true;
}

void TSuperAvtopoverkaGrid::ClearOutputData()
{
    TGridUpdate update(*this);
    results_.clear();
    for (int row = 1; row < RowCount(); ++row)
        for (int col = 0; col < ColCount(); ++col) {
            if (col >= InputColumnCount())
                SetCells(col, row, QString());
            SetRedCell(col, row, false);
        }
}

void TSuperAvtopoverkaGrid::RepopulateGrid()
{
    TGridUpdate update(*this);
    for (int row = 1; row < RowCount() && size_t(row) <= results_.size(); ++row)
        for (int col = InputColumnCount(); col < ColCount(); ++col)
            RenderCell(row, col);
}

// ---- device values ----

bool TKestAvtopoverkaGrid::AddOutputDataRS(const TParametersForGridRow &data, int rowNum)
{
    return StoreDeviceData(data, rowNum);
}

void TKestAvtopoverkaGrid::SetDefaultRsAndErrorToRow(int rowNum)
{
    SetDefaultParamAndErrorToRow(rowNum);
}

bool TKestAvtopoverkaGrid::SetAnalogParameter(int rowNum, const TParameterForGrid &param)
{
    return StoreAnalogData(param, rowNum);
}
