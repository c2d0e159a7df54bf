#include "verification/run/avtopoverkalogic.h"

#include "lab/labconfig.h"
#include "lab/labrules.h"
#include "protocol/numberformat.h"
#include "verification/csvmanager.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace {

double Clamp(double value, double low, double high)
{
    return std::max(low, std::min(value, high));
}

// The most a point's voltage may be: with "Диапазон" the range's own limit (as far as the installation
// can follow), otherwise 1,55 × the nominal voltage of the selection.
double VoltageMaximum(const TAvtopoverkaContext &ctx)
{
    return ctx.type.entry.rangeList ? UpperVoltageLimit(ctx.selections.range) : 1.55 * ctx.nominalU;
}

// The installation takes the angle in whole degrees: a fractional one would be sent as another value
// than the one shown.
QString AngleProblem(double angle)
{
    if (!std::isfinite(angle) || angle == std::nearbyint(angle))
        return QString();
    return QStringLiteral("Угол %1° не целый: установка задаёт угол только в целых градусах").arg(FloatToQStr(angle));
}

} // namespace

TAvtopoverkaLogic::TAvtopoverkaLogic(IAvtopoverkaView *view, TConfigController *store, TConfigurationCode code)
    : ctx_(view, store, code), tabs_(ctx_), driver_(ctx_, tabs_, *this)
{
}

TAvtopoverkaLogic::~TAvtopoverkaLogic() = default;

void TAvtopoverkaLogic::SetPortOverride(const QString &port, const QString &rate)
{
    ctx_.portOverride = port;
    ctx_.rateOverride = rate;
}

void TAvtopoverkaLogic::Init()
{
    IAvtopoverkaView &v = *ctx_.view;
    v.SetEntryLimits(TEntry::Frequency, 45, 55);
    v.SetEntryValue(TEntry::Frequency, 51);
    v.SetEntryLimits(TEntry::Angle, 0, 360);
    v.SetEntryValue(TEntry::Angle, 0);
    v.SetEntryLimits(TEntry::Address, 0, 1000);
    v.SetEntryValue(TEntry::Address, 1);
    ctx_.entries = TEntryValues();
    ctx_.entries.frequency = 51;
    ctx_.entries.address = 1;
    UpdateNominalCurrent();
    UpdateNominalVoltage();
    v.ShowSelections(ctx_.selections);
    tabs_.AddTab();
    v.SetPasteEnabled(false);
    v.SetAddressEnabled(!ctx_.selections.autoMode);
    v.SetReadSettingsEnabled(ctx_.selections.autoMode && ctx_.type.isQx4);
    v.SetCoefficientLabel(ctx_.CoefficientText());
    if (ctx_.type.initialRsParamNum && !readOnly_)
        driver_.SendRsParamNum(ctx_.type.initialRsParamNum);
}

// ---- setup panel ----

bool TAvtopoverkaLogic::IsHighVoltageRange() const
{
    if (ctx_.type.highVoltage == THighVoltageRule::RangeList)
        return RangeRow(ctx_.selections.range).high;
    return RangeRow(ctx_.selections.voltage).high;
}

TKestConfiguration TAvtopoverkaLogic::BuildKestConfiguration() const
{
    const TAvtopoverkaSelections &s = ctx_.selections;
    TKestConfiguration c;
    // The configuration's name and the voltage range index let the voltage transducer's higher ranges
    // be driven as the main window drives them (half the voltage on A and C in series), and give its
    // error the range's top as the installation's full scale.
    c.ConfigurationName = ConfigurationName(ctx_.code);
    c.AmperageMax = RangeRow(s.currentRange).amperes;
    c.VoltageFlag = IsHighVoltageRange();
    c.VoltageMax = RangeRow(s.voltage).volts;
    c.AnalogInputNum = 1;
    c.RnFlag = s.loadMax;
    c.SchemeFlag = s.scheme4;
    c.URangeIndex = ctx_.type.entry.rangeList ? uint8_t(URangeIndex(s.range)) : 0;
    c.AmperageRangeNum = uint8_t(std::clamp(s.outputSignalIndex, 0, 4));
    return c;
}

void TAvtopoverkaLogic::UpdateNominalCurrent()
{
    const TGlobalConfig &g = ctx_.globalConfig;
    const QString text = g.ReadNominalCurrent(ctx_.selections.currentRange);
    double value = 0;
    if (!TryStrToFloat(text, value) || value < 0) {
        ctx_.view->ShowError(QString::fromStdString(ConversionErrorText(text.toStdString())));
        return;
    }
    ctx_.nominalI = value;
    ctx_.entries.current = value;
    ctx_.view->SetEntryLimits(TEntry::Current, 0, 1.25 * value);
    ctx_.view->SetEntryValue(TEntry::Current, value);
}

void TAvtopoverkaLogic::UpdateNominalVoltage()
{
    const TAvtopoverkaSelections &s = ctx_.selections;
    double value = 0;
    if (ctx_.type.entry.rangeList) {
        // The voltage transducer's nominal is the top of its range; the hidden selection plays no part.
        value = RangeRow(s.range).top;
    } else {
        const QString text = ctx_.globalConfig.ReadNominalVoltage(s.voltage, s.scheme4);
        if (!TryStrToFloat(text, value) || value < 0) {
            ctx_.view->ShowError(QString::fromStdString(ConversionErrorText(text.toStdString())));
            return;
        }
    }
    ctx_.nominalU = value;
    ctx_.entries.voltage = value;
    ctx_.view->SetEntryLimits(TEntry::Voltage, 0, VoltageMaximum(ctx_));
    ctx_.view->SetEntryValue(TEntry::Voltage, value);
}

void TAvtopoverkaLogic::CurrentRangeChosen(TCurrentRange range)
{
    if (readOnly_)
        return;
    ctx_.selections.currentRange = range;
    UpdateNominalCurrent();
}

void TAvtopoverkaLogic::VoltageChosen(TVoltageRange voltage)
{
    if (readOnly_)
        return;
    ctx_.selections.voltage = voltage;
    UpdateNominalVoltage();
}

void TAvtopoverkaLogic::SchemeChosen(bool scheme4)
{
    if (readOnly_)
        return;
    ctx_.selections.scheme4 = scheme4;
    UpdateNominalVoltage();
}

void TAvtopoverkaLogic::LoadChosen(bool max)
{
    if (readOnly_)
        return;
    ctx_.selections.loadMax = max;
}

void TAvtopoverkaLogic::AruChosen(bool on)
{
    if (readOnly_)
        return;
    ctx_.selections.aru = on;
}

void TAvtopoverkaLogic::RangeIndexChosen(int index)
{
    if (readOnly_)
        return;
    ctx_.selections.range = *URangeFromIndex(std::clamp(index, 0, URangeIndex(TURange::R0_500)));
    UpdateNominalVoltage();
}

void TAvtopoverkaLogic::OutputSignalChosen(int index)
{
    if (readOnly_)
        return;
    ctx_.selections.outputSignalIndex = std::clamp(index, 0, 4);
}

void TAvtopoverkaLogic::SpeedChosen(int index)
{
    ctx_.selections.rsSpeedIndex = std::clamp(index, 0, 7);
}

void TAvtopoverkaLogic::AutoIncrementChosen(bool on, double step)
{
    ctx_.selections.autoIncrement = on;
    if (std::isfinite(step) && step >= 0)
        ctx_.selections.autoIncrementStep = step;
}

// ---- entries ----

void TAvtopoverkaLogic::EntryAction(TEntry entry, double value)
{
    if (readOnly_)
        return;
    if (!std::isfinite(value))
        return;
    TKestAvtopoverkaGrid &grid = tabs_.Current();
    switch (entry) {
    case TEntry::Current:
        ctx_.entries.current = value;
        grid.SetAmperageToSelectedRow(value);
        break;
    case TEntry::Voltage:
        ctx_.entries.voltage = value;
        grid.SetVoltageToSelectedRow(value);
        break;
    case TEntry::Frequency:
        ctx_.entries.frequency = value;
        grid.SetFreqToSelectedRow(value);
        break;
    case TEntry::Angle:
        if (const QString problem = AngleProblem(value); !problem.isEmpty()) {
            ctx_.view->ShowError(problem);
            return;
        }
        ctx_.entries.angle = value;
        grid.SetAngleToSelectedRow(value);
        break;
    case TEntry::Address:
        if (!LinkFree()) {
            ctx_.view->SetEntryValue(TEntry::Address, ctx_.entries.address); // the address last sent
            return;
        }
        ctx_.entries.address = value;
        driver_.SendAddress(int(std::lround(value)), ctx_.selections.rsSpeedIndex);
        break;
    }
}

// ---- tables ----

void TAvtopoverkaLogic::RowClicked(int row)
{
    TKestAvtopoverkaGrid &grid = tabs_.Current();
    if (row < 1 || row >= grid.RowCount() || !grid.isFirstRowFilled)
        return;
    grid.SetSelectedRow(row);
    ctx_.entries.current = grid.GetAmperageFromSelectedRow();
    ctx_.entries.voltage = grid.GetVoltageFromSelectedRow();
    ctx_.entries.angle = grid.GetAngleFromSelectedRow();
    ctx_.entries.frequency = grid.GetFreqFromSelectedRow();
    ctx_.view->SetEntryValue(TEntry::Current, ctx_.entries.current);
    ctx_.view->SetEntryValue(TEntry::Voltage, ctx_.entries.voltage);
    ctx_.view->SetEntryValue(TEntry::Angle, ctx_.entries.angle);
    ctx_.view->SetEntryValue(TEntry::Frequency, ctx_.entries.frequency);
}

TInputData TAvtopoverkaLogic::InputFromValues(const TEntryValues &values) const
{
    TInputData d;
    d.Ia.value = d.Ib.value = d.Ic.value = values.current;
    d.Ua.value = d.Ub.value = d.Uc.value = values.voltage;
    d.Angle.value = std::nearbyint(values.angle);
    d.Freq.value = std::nearbyint(values.frequency);
    return d;
}

void TAvtopoverkaLogic::AddRowClicked(const TEntryValues &values)
{
    if (readOnly_)
        return;
    if (const QString problem = AngleProblem(values.angle); !problem.isEmpty()) {
        ctx_.view->ShowError(problem);
        return;
    }
    tabs_.Current().AddRow(NewRowInput(values));
}

void TAvtopoverkaLogic::InsertRowClicked(const TEntryValues &values)
{
    if (readOnly_)
        return;
    if (const QString problem = AngleProblem(values.angle); !problem.isEmpty()) {
        ctx_.view->ShowError(problem);
        return;
    }
    tabs_.Current().InsertRow(NewRowInput(values));
}

TInputData TAvtopoverkaLogic::NewRowInput(const TEntryValues &values)
{
    // "АвтоИнкр.": every row after the first a step more current, never beyond the entry's limit, and
    // the entry shows the current the row gets.
    TEntryValues v = values;
    if (ctx_.selections.autoIncrement && tabs_.Current().isFirstRowFilled) {
        v.current = std::min(v.current + ctx_.selections.autoIncrementStep, 1.25 * ctx_.nominalI);
        ctx_.view->SetEntryValue(TEntry::Current, v.current);
    }
    ctx_.entries = v;
    return InputFromValues(v);
}

void TAvtopoverkaLogic::DeleteRowClicked()
{
    if (readOnly_)
        return;
    tabs_.Current().DeleteSelectedRow();
}

void TAvtopoverkaLogic::ClearRowClicked()
{
    if (readOnly_)
        return;
    tabs_.Current().ClearSelectedRow();
}

void TAvtopoverkaLogic::ClearAllClicked()
{
    if (readOnly_)
        return;
    tabs_.Current().Clear();
}

void TAvtopoverkaLogic::ClearResultsClicked()
{
    if (readOnly_)
        return;
    for (int tab = 0; tab < tabs_.Count(); ++tab)
        tabs_.Grid(tab).ClearOutputData();
}

std::vector<TAvtopoverkaLogic::TPointSet> TAvtopoverkaLogic::PointSets() const
{
    // The points verification methods ask of each kind of transducer. The installation sets the
    // current lagging its voltage by the angle: 60° is the inductive load of cos φ = 0,5 (Q > 0),
    // 300° the capacitive one (Q < 0). Frequency goes out as the float the row shows, so the half
    // hertz points are sent as shown.
    const std::vector<double> currentPct(std::begin(kFillPercents), std::end(kFillPercents));
    std::vector<TPointSet> sets;
    if (ctx_.code == TConfigurationCode::U) {
        sets.push_back({QStringLiteral("Напряжение 0–120 % Uном"), TPointSet::Voltage, currentPct, {}});
        return sets;
    }
    if (ctx_.code == TConfigurationCode::F) {
        sets.push_back({QStringLiteral("Частота 45–55 Hz"), TPointSet::Frequency, {45, 47.5, 50, 52.5, 55}, {}});
        return sets;
    }
    sets.push_back({QStringLiteral("Ток 0–120 % Iном"), TPointSet::Current, currentPct, {}});
    bool power = ctx_.code == TConfigurationCode::P || ctx_.code == TConfigurationCode::Q
        || ctx_.code == TConfigurationCode::PQ;
    if (ctx_.code == TConfigurationCode::QX4 || ctx_.code == TConfigurationCode::QX4E) {
        const TKestAvtopoverkaGrid &grid = tabs_.Grid(tabs_.Active());
        for (int col = 0; col < grid.ColCount() && !power; ++col)
            power = grid.ParamOfColumn(col) >= piPa && grid.ParamOfColumn(col) <= piK;
    }
    if (!power)
        return sets;
    sets.push_back({QStringLiteral("cos φ = 1 (0°), ток 0–120 % Iном"), TPointSet::Current, currentPct, {0}});
    sets.push_back({QStringLiteral("cos φ = 0,5 инд. (60°), ток 0–120 % Iном"), TPointSet::Current, currentPct, {60}});
    sets.push_back(
        {QStringLiteral("cos φ = 0,5 емк. (300°), ток 0–120 % Iном"), TPointSet::Current, currentPct, {300}});
    // A bipolar output shows the sign of the power: both halves of its range.
    if (ctx_.selections.outputSignalIndex == 0 || ctx_.selections.outputSignalIndex == 1) {
        if (ctx_.code != TConfigurationCode::Q)
            sets.push_back({QStringLiteral("P > 0 и P < 0 (0° и 180°), ток 0–120 % Iном"), TPointSet::Current,
                currentPct, {0, 180}});
        if (ctx_.code != TConfigurationCode::P)
            sets.push_back({QStringLiteral("Q > 0 и Q < 0 (90° и 270°), ток 0–120 % Iном"), TPointSet::Current,
                currentPct, {90, 270}});
    }
    return sets;
}

QStringList TAvtopoverkaLogic::PointSetCaptions() const
{
    QStringList captions;
    for (const TPointSet &set : PointSets())
        captions << set.caption;
    return captions;
}

void TAvtopoverkaLogic::FillPointsClicked(const TEntryValues &values, int set)
{
    if (readOnly_)
        return;
    const std::vector<TPointSet> sets = PointSets();
    if (set < 0 || set >= int(sets.size()))
        return;
    const TPointSet &points = sets[size_t(set)];
    if (points.angles.empty()) {
        if (const QString problem = AngleProblem(values.angle); !problem.isEmpty()) {
            ctx_.view->ShowError(problem);
            return;
        }
    }
    const std::vector<double> angles = points.angles.empty() ? std::vector<double>{values.angle} : points.angles;
    TKestAvtopoverkaGrid &grid = tabs_.Current();
    TGridUpdate update(grid);
    for (const double angle : angles)
        for (const double x : points.values) {
            TEntryValues v = values;
            v.angle = angle;
            if (points.what == TPointSet::Voltage)
                v.voltage = Clamp(ctx_.nominalU * x / 100.0, 0, VoltageMaximum(ctx_));
            else if (points.what == TPointSet::Current)
                v.current = Clamp(ctx_.nominalI * x / 100.0, 0, 1.25 * ctx_.nominalI);
            TInputData d = InputFromValues(v);
            if (points.what == TPointSet::Frequency)
                d.Freq.value = x; // as shown: 47,5 stays 47,5
            if (!grid.AddRow(d))
                return;
        }
}

bool TAvtopoverkaLogic::SaveTable(const QString &file)
{
    QString error;
    TKestAvtopoverkaGrid &grid = tabs_.Current();
    if (TCsvManager().GridColumnsToCsv(grid, grid.InputColumnCount(), file, &error))
        return true;
    ctx_.view->ShowError(error.isEmpty() ? QStringLiteral("Не удалось сохранить «%1»").arg(file) : error);
    return false;
}

QStringList TAvtopoverkaLogic::InputColumnsUsed() const
{
    const TInputData names;
    QStringList used;
    if (ctx_.type.entry.current)
        used << names.Ia.name;
    if (ctx_.type.entry.voltage)
        used << names.Ua.name;
    used << names.Angle.name << names.Freq.name;
    return used;
}

void TAvtopoverkaLogic::TakePoints(TKestAvtopoverkaGrid &grid, const TStringGridWithData &points)
{
    if (points.RowCount() < 2) {
        const QString title = grid.Title;
        grid.Clear();
        grid.Title = title;
        return;
    }
    grid.CopyPointsFrom(points);
    // An input the window does not use and the file does not give is not set: 0, shown as such.
    const QStringList used = InputColumnsUsed();
    for (int col = 0; col < grid.InputColumnCount(); ++col) {
        if (used.contains(grid.ColumnParamNames().value(col)))
            continue;
        for (int row = 1; row < grid.RowCount(); ++row)
            if (grid.Cells(col, row).trimmed().isEmpty())
                grid.SetCells(col, row, QStringLiteral("0"));
    }
}

bool TAvtopoverkaLogic::LoadTable(const QString &file)
{
    if (readOnly_)
        return false;
    TKestAvtopoverkaGrid &grid = tabs_.Current();
    // Read first: a file that cannot be used leaves the tab, its results included, as it was.
    const std::unique_ptr<TStringGridWithData> points = TCsvManager::TableLike(&grid);
    const TCsvLoadResult result = TCsvManager().CsvToGrid(file, *points, InputColumnsUsed());
    if (!result.Usable()) {
        ctx_.view->ShowError(result.Problem(file));
        return false;
    }
    points->Title = grid.Title;
    TakePoints(grid, *points);
    tabs_.RefreshCaptions();
    if (!result.Message().isEmpty())
        ctx_.view->ShowMessage(result.Message());
    return true;
}

bool TAvtopoverkaLogic::SaveScenario(const QString &file)
{
    std::vector<const TStringGridWithData *> grids;
    for (int tab = 0; tab < tabs_.Count(); ++tab)
        grids.push_back(&tabs_.Grid(tab));
    try {
        TCsvManager().GridsToCsv(grids, tabs_.Current().InputColumnCount(), file);
        return true;
    } catch (const std::exception &e) {
        ctx_.view->ShowError(QString::fromUtf8(e.what()));
    }
    return false;
}

bool TAvtopoverkaLogic::LoadScenario(const QString &file)
{
    if (readOnly_)
        return false;
    TCsvLoadResult result;
    std::vector<std::unique_ptr<TStringGridWithData>> tables;
    try {
        tables = TCsvManager().CsvToGrids(file, &result, &tabs_.Current(), InputColumnsUsed());
    } catch (const std::exception &e) {
        ctx_.view->ShowError(QString::fromUtf8(e.what()));
        return false;
    }
    if (!result.Usable()) {
        ctx_.view->ShowError(result.Problem(file));
        return false;
    }
    if (tables.empty()) {
        ctx_.view->ShowError(
            QStringLiteral("В файле «%1» нет ни одной таблицы сценария (строки «Table»): ничего не загружено.")
                .arg(file));
        return false;
    }
    tabs_.Current().Clear();
    const int count = std::min<int>(int(tables.size()), TVerificationTabs::kMaxTabs);
    for (int k = 0; k < count; ++k) {
        while (tabs_.Count() <= k) {
            const int before = tabs_.Count();
            tabs_.AddTab();
            if (tabs_.Count() == before)
                break;
        }
        if (k < tabs_.Count()) {
            TakePoints(tabs_.Grid(k), *tables[size_t(k)]);
            tabs_.Grid(k).Title = tables[size_t(k)]->Title;
        }
    }
    tabs_.RefreshCaptions();
    QString notice = result.Message();
    if (int(tables.size()) > count)
        notice += (notice.isEmpty() ? QString() : QStringLiteral("\n"))
            + QStringLiteral("Загружены первые %1 таблиц из %2.").arg(count).arg(tables.size());
    if (!notice.isEmpty())
        ctx_.view->ShowMessage(notice);
    return true;
}

// ---- tabs ----

void TAvtopoverkaLogic::PlusClicked()
{
    if (readOnly_)
        return;
    tabs_.AddTab();
}

void TAvtopoverkaLogic::CloseTabClicked()
{
    if (readOnly_)
        return;
    tabs_.CloseTab();
}

void TAvtopoverkaLogic::TabSelected(int tab)
{
    tabs_.SelectTab(tab);
}

void TAvtopoverkaLogic::CopyTabClicked()
{
    tabs_.CopyFromActive();
}

void TAvtopoverkaLogic::PasteClicked()
{
    if (readOnly_)
        return;
    tabs_.PasteIntoActive();
}

// ---- runs ----

QString TAvtopoverkaLogic::TabName(int tab) const
{
    const QString &title = tabs_.Grid(tab).Title;
    return title.isEmpty() ? QString::number(tab + 1) : title;
}

std::vector<TRunPoint> TAvtopoverkaLogic::PlanOf(TRunScope scope) const
{
    std::vector<TRunPoint> plan;
    const int active = tabs_.Active();
    switch (scope) {
    case TRunScope::CurrentTab:
        plan = tabs_.RowsOf(active);
        break;
    case TRunScope::AllTabs:
        for (int tab = 0; tab < tabs_.Count(); ++tab) {
            if (tabs_.IsHidden(tab))
                continue;
            const std::vector<TRunPoint> rows = tabs_.RowsOf(tab);
            plan.insert(plan.end(), rows.begin(), rows.end());
        }
        break;
    case TRunScope::SelectedRow: {
        const TKestAvtopoverkaGrid &grid = tabs_.Grid(active);
        const int row = grid.SelectedRow();
        if (grid.isFirstRowFilled && row >= 1 && row < grid.RowCount()) {
            TRunPoint p;
            p.tab = active;
            p.row = row;
            p.input = grid.GetRowInputData(row);
            p.input.IsRsInterface = !tabs_.IsAnalog(active);
            plan.push_back(p);
        }
        break;
    }
    }
    return plan;
}

bool TAvtopoverkaLogic::ReadRunSettings(TRunSettings &s)
{
    const TGlobalConfig &g = ctx_.globalConfig;
    struct TNumber {
        QString text;
        double *target;
    };
    double waitingSeconds = 0;
    double aru = 0;
    const TNumber numbers[] = {
        {g.ReadError(), &s.permissibleError},
        {g.ReadFreqError(), &s.permissibleErrorFreq},
        {g.ReadAnalogError(), &s.permissibleErrorAnalog},
        {g.ReadWaitingTime(), &waitingSeconds},
        {g.ReadAruError(), &aru},
    };
    for (const TNumber &n : numbers) {
        if (!TryStrToFloat(n.text, *n.target)) {
            ctx_.view->ShowError(QString::fromStdString(ConversionErrorText(n.text.toStdString())));
            return false;
        }
    }
    s.waitingTimeMs = int(std::lround(std::clamp(waitingSeconds, 0.0, 3600.0) * 1000));
    s.aruError = float(aru);
    s.optionIb = g.ReadOptionIb();
    s.analogAsMilliAmps = g.ReadAnalogValuesAsMiliAmpers();
    s.kestConfiguration = BuildKestConfiguration();
    return true;
}

QString TAvtopoverkaLogic::PlanProblem(const std::vector<TRunPoint> &points, int first) const
{
    // A point is sent as its row shows it, and never beyond what the entries would let the user set.
    const double maxI = 1.25 * ctx_.nominalI;
    const bool uRange = ctx_.type.entry.rangeList;
    const TURangeRow &range = RangeRow(ctx_.selections.range);
    const double maxU = uRange ? 1.25 * range.top : 1.55 * ctx_.nominalU;
    for (size_t k = size_t(first); k < points.size(); ++k) {
        const TRunPoint &p = points[k];
        const QString where = QStringLiteral("Вкладка «%1», строка %2: ").arg(TabName(p.tab)).arg(p.row);
        const QString cell = tabs_.Grid(p.tab).RowInputProblem(p.row);
        if (!cell.isEmpty())
            return QStringLiteral("Вкладка «%1»: %2").arg(TabName(p.tab), cell);
        const TInputData &d = p.input;
        if (d.Ia.value < 0 || d.Ia.value > maxI)
            return where
                + QStringLiteral("ток %1 A вне пределов 0…%2 A").arg(FloatToQStr(d.Ia.value), FloatToQStr(maxI));
        if (d.Ua.value < 0 || d.Ua.value > maxU)
            return where
                + QStringLiteral("напряжение %1 V вне пределов 0…%2 V").arg(FloatToQStr(d.Ua.value), FloatToQStr(maxU));
        if (uRange && d.Ua.value > range.deliverable)
            return where
                + QStringLiteral("установка не может выдать напряжение %1 V на диапазоне «%2»: не более %3 V")
                      .arg(FloatToQStr(d.Ua.value), Caption(range.range), FloatToQStr(range.deliverable));
        if (d.Angle.value < 0 || d.Angle.value > 360)
            return where + QStringLiteral("угол %1° вне пределов 0…360°").arg(FloatToQStr(d.Angle.value));
        if (const QString angle = AngleProblem(d.Angle.value); !angle.isEmpty())
            return where + angle;
        if (d.Freq.value < 45 || d.Freq.value > 55)
            return where + QStringLiteral("частота %1 Hz вне пределов 45…55 Hz").arg(FloatToQStr(d.Freq.value));
    }
    return QString();
}

bool TAvtopoverkaLogic::OfferOutputColumns(const std::vector<TRunPoint> &plan)
{
    // A tab without an output column would run every point and show nothing: a fresh window's first
    // tab until the scenario names what to read.
    for (const TRunPoint &p : plan) {
        const TKestAvtopoverkaGrid &grid = tabs_.Grid(p.tab);
        if (grid.ColCount() > grid.InputColumnCount())
            continue;
        const QString text = QStringLiteral("На вкладке «%1» нет ни одного выходного столбца: измерять нечего.\n"
                                            "Выберите выходные параметры в «Настройка сценария». Открыть её?")
                                 .arg(TabName(p.tab));
        if (ctx_.view->Confirm(QStringLiteral("Автоповерка"), text)) {
            if (tabs_.Active() != p.tab) {
                tabs_.SelectTab(p.tab);
                ctx_.view->SetActiveTab(p.tab);
            }
            ctx_.view->OpenScenarioSettings();
        }
        return false;
    }
    return true;
}

bool TAvtopoverkaLogic::StartFrom(TRunScope scope, int firstPoint)
{
    if (readOnly_)
        return false;
    if (!LinkFree())
        return false;
    std::vector<TRunPoint> plan = PlanOf(scope);
    if (plan.empty() || firstPoint < 0 || size_t(firstPoint) >= plan.size())
        return false;
    if (!OfferOutputColumns(plan))
        return false;
    TRunSettings settings;
    if (!ReadRunSettings(settings))
        return false;
    if (const QString problem = PlanProblem(plan, firstPoint); !problem.isEmpty()) {
        ctx_.view->ShowError(problem);
        return false;
    }
    if (!AnalogColumnsAgreed(plan, firstPoint))
        return false;
    if (!LabChecksAllowStart(plan))
        return false;
    const int tab = plan[size_t(firstPoint)].tab;
    if (tab != tabs_.Active()) {
        tabs_.SelectTab(tab);
        ctx_.view->SetActiveTab(tab);
    }
    Lock(true);
    if (!driver_.Start(scope, std::move(plan), firstPoint, settings)) {
        Lock(false);
        return false;
    }
    return true;
}

bool TAvtopoverkaLogic::StartCurrentTab()
{
    if (readOnly_)
        return false;
    if (!tabs_.Current().isFirstRowFilled || !LinkFree())
        return false;
    tabs_.Current().ClearOutputData();
    return StartFrom(TRunScope::CurrentTab, 0);
}

bool TAvtopoverkaLogic::StartAllTabs()
{
    if (readOnly_)
        return false;
    if (PlanOf(TRunScope::AllTabs).empty() || !LinkFree())
        return false;
    for (int tab = 0; tab < tabs_.Count(); ++tab)
        tabs_.Grid(tab).ClearOutputData();
    return StartFrom(TRunScope::AllTabs, 0);
}

bool TAvtopoverkaLogic::StartSelectedRow()
{
    if (readOnly_)
        return false;
    if (!tabs_.Current().isFirstRowFilled || !LinkFree())
        return false;
    return StartFrom(TRunScope::SelectedRow, 0);
}

void TAvtopoverkaLogic::StopClicked()
{
    driver_.Stop();
}

// ---- the results journal ----

void TAvtopoverkaLogic::SetJournal(TJournal *journal)
{
    if (recorder_)
        driver_.RemoveObserver(recorder_.get());
    recorder_.reset();
    journal_ = journal;
    if (!journal_)
        return;
    recorder_ = std::make_unique<TRunJournalRecorder>(journal_, *this);
    driver_.AddObserver(recorder_.get(), true);
}

void TAvtopoverkaLogic::SetReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    Lock(readOnly);
}

void TAvtopoverkaLogic::Lock(bool locked)
{
    // The tables are the logic's: while a run goes on (or a journalled run is only looked at) no cell
    // is edited, whatever the screen does with its controls.
    for (int tab = 0; tab < tabs_.Count(); ++tab)
        tabs_.Grid(tab).SetReadOnly(locked);
    ctx_.view->SetLocked(locked);
}

bool TAvtopoverkaLogic::LabChecksAllowStart(const std::vector<TRunPoint> &plan)
{
    lab_.lowestAccuracyRatio = 0;
    lab_.lowRatioNotes.clear();
    lowRatio_.clear();
    if (lab_.standards.empty())
        return true;
    const TLabConfig lab(ctx_.store);
    const QStringList problems = LabRules::StandardsNotValid(lab_.standards, QDate::currentDate());
    if (!problems.isEmpty()) {
        if (lab.ReadOverdueStandards() == TOverduePolicy::Block) {
            ctx_.view->ShowError(QStringLiteral("Поверка не начата: ") + problems.join(QStringLiteral("; ")));
            return false;
        }
        ctx_.view->ShowMessage(QStringLiteral("Предупреждение: ") + problems.join(QStringLiteral("; ")));
    }
    // The quantities the run measures, each against the limit it is judged by.
    std::map<TQuantityKind, double> measured;
    std::set<int> tabsSeen;
    for (const TRunPoint &p : plan) {
        if (!tabsSeen.insert(p.tab).second || p.tab >= tabs_.Count())
            continue;
        const bool analog = tabs_.IsAnalog(p.tab);
        const TKestAvtopoverkaGrid &grid = tabs_.Grid(p.tab);
        for (int col = grid.InputColumnCount(); col < grid.ColCount(); ++col) {
            const int param = grid.ParamOfColumn(col);
            const std::optional<TQuantityKind> kind = analog
                ? std::optional<TQuantityKind>(TQuantityKind::AnalogCurrent)
                : LabRules::KindOfParameter(param);
            if (!kind)
                continue;
            const double limit = analog ? ErrorLimit(true)
                : *kind == TQuantityKind::Frequency
                ? StrToFloatDef(ctx_.globalConfig.ReadFreqError(), ErrorLimit(false))
                : ErrorLimit(false);
            const auto found = measured.find(*kind);
            measured[*kind] = found == measured.end() ? limit : std::min(found->second, limit);
        }
    }
    const double minimum = lab.ReadMinAccuracyRatio();
    for (const auto &[kind, limit] : measured) {
        const std::optional<double> ratio = LabRules::AccuracyRatio(lab_.standards, kind, limit);
        if (!ratio)
            continue;
        if (lab_.lowestAccuracyRatio == 0 || *ratio < lab_.lowestAccuracyRatio)
            lab_.lowestAccuracyRatio = *ratio;
        if (*ratio < minimum) {
            lab_.lowRatioNotes << QStringLiteral("%1: соотношение точностей %2 меньше %3")
                                      .arg(LabRules::KindCaption(kind), FloatToQStr(std::round(*ratio * 100) / 100),
                                          FloatToQStr(minimum));
            lowRatio_[kind] = lab_.lowRatioNotes.back();
        }
    }
    return true;
}

QString TAvtopoverkaLogic::LowRatioNote(int tab, int col) const
{
    if (lowRatio_.empty() || tab < 0 || tab >= tabs_.Count())
        return {};
    const TKestAvtopoverkaGrid &grid = tabs_.Grid(tab);
    if (col < grid.InputColumnCount() || col >= grid.ColCount())
        return {};
    const std::optional<TQuantityKind> kind = tabs_.IsAnalog(tab)
        ? std::optional<TQuantityKind>(TQuantityKind::AnalogCurrent)
        : LabRules::KindOfParameter(grid.ParamOfColumn(col));
    const auto found = kind ? lowRatio_.find(*kind) : lowRatio_.end();
    return found == lowRatio_.end() ? QString() : found->second;
}

double TAvtopoverkaLogic::ErrorLimit(bool analog) const
{
    const TGlobalConfig &g = ctx_.globalConfig;
    return analog ? StrToFloatDef(g.ReadAnalogError(), 0.5) : StrToFloatDef(g.ReadError(), 0.2);
}

void TAvtopoverkaLogic::AutoClicked(bool on, double address)
{
    if (readOnly_)
        return;
    // The box shows the mode the transducer was sent, never one that could not go.
    if (!LinkFree() || !driver_.SendAutoMode(on)) {
        ctx_.view->ShowSelections(ctx_.selections);
        return;
    }
    ctx_.selections.autoMode = on;
    if (std::isfinite(address))
        ctx_.entries.address = address;
    ctx_.view->SetAddressEnabled(!on);
    ctx_.view->SetReadSettingsEnabled(on && ctx_.type.isQx4);
}

void TAvtopoverkaLogic::ReadSettingsClicked()
{
    if (readOnly_)
        return;
    if (LinkFree())
        driver_.ReadSettings();
}

bool TAvtopoverkaLogic::LinkFree()
{
    // The link carries one exchange at a time: what cannot go now is refused aloud, not dropped.
    if (!driver_.IsBusy())
        return true;
    if (driver_.IsSendingOpeningCommand())
        ctx_.view->ShowMessage(QStringLiteral("Установка ещё не ответила на номер параметра RS, отправленный при "
                                              "открытии окна. Повторите, когда она ответит."));
    else if (!driver_.IsRunning())
        ctx_.view->ShowMessage(QStringLiteral("Установка ещё выполняет предыдущую команду. Повторите, когда она её "
                                              "закончит."));
    return false;
}

bool TAvtopoverkaLogic::AnalogColumnsAgreed(const std::vector<TRunPoint> &points, int first)
{
    std::set<int> asked;
    for (size_t k = size_t(first); k < points.size(); ++k) {
        const int tab = points[k].tab;
        if (points[k].IsRs() || !asked.insert(tab).second)
            continue;
        const QString mismatch = tabs_.AnalogMismatch(tab);
        if (mismatch.isEmpty())
            continue;
        if (!ctx_.view->Confirm(QStringLiteral("Аналоговые выходы"),
                mismatch + QStringLiteral("\nПерестроить столбцы вкладок по назначению прибора и начать измерение?")))
            return false;
        // The columns follow the device; the rows' points stay.
        tabs_.AfterScenarioChanged();
    }
    return true;
}

void TAvtopoverkaLogic::CoefficientsChanged()
{
    ctx_.ReloadTransfCoefs();
    if (ctx_.devInfo)
        ctx_.devInfo->transfCoefs = ctx_.transfCoefs;
    ctx_.view->SetCoefficientLabel(ctx_.CoefficientText());
}

QStringList TAvtopoverkaLogic::AnalogParamNums() const
{
    QStringList nums;
    for (const int p : ctx_.AnalogParams(tabs_.Active()))
        nums << QString::number(p);
    return nums;
}

TAvtopoverkaLogic::TScenarioSetUp TAvtopoverkaLogic::ScenarioSetUp() const
{
    TScenarioSetUp s;
    const bool known = ctx_.DoesDevInfoContainAnalogOuts;
    if (ctx_.type.scenarioAlwaysFixedAnalog) {
        s.fixedAnalogSet = true;
        s.setCaptions = known || ctx_.type.fixedAnalogParams[0] != 0;
        s.readFromConfig = !s.setCaptions;
    } else if (ctx_.code == TConfigurationCode::QX4 && known) {
        s.fixedAnalogSet = true;
        s.setCaptions = true;
    } else {
        s.readFromConfig = true;
    }
    if (s.setCaptions)
        s.analogParamNums = AnalogParamNums();
    return s;
}

void TAvtopoverkaLogic::ScenarioClosed(const TAnalogOut &analogOut)
{
    if (readOnly_)
        return;
    const auto &o = analogOut.OutArray;
    if (ctx_.type.scenarioTakesAnalogOut && (o[0] || o[1] || o[2]) && ctx_.DoesDevInfoContainAnalogOuts)
        ctx_.analogOut = analogOut;
    tabs_.AfterScenarioChanged();
}

// ---- report ----

QList<TReportTab> TAvtopoverkaLogic::ReportTabs() const
{
    QList<TReportTab> result;
    for (int tab = 0; tab < tabs_.Count(); ++tab) {
        const TKestAvtopoverkaGrid &grid = tabs_.Grid(tab);
        TReportTab t;
        t.hasData = grid.isFirstRowFilled;
        t.removedInputs = ctx_.avtopoverkaConfig->ReadRemovedTabInputSet(tab);
        TReportTable &table = t.table;
        table.title = grid.Title;
        table.fontName = grid.Font().family;
        table.fontSize = grid.Font().pointSize;
        table.permissible = TReportProducer::PermissibleText(ErrorLimit(tabs_.IsAnalog(tab)));
        // A reference not accurate enough for the limit is said where the limit is.
        if (!lab_.lowRatioNotes.isEmpty() && !table.permissible.isEmpty())
            table.permissible
                += QStringLiteral(" (") + lab_.lowRatioNotes.join(QStringLiteral("; ")) + QLatin1Char(')');
        for (int col = 0; col < grid.ColCount(); ++col)
            table.columns.append(
                TReportColumn{grid.ColumnParamNames().value(col), grid.Cells(col, 0), grid.ColWidths(col)});
        for (int row = 1; row < grid.RowCount(); ++row) {
            QStringList cells;
            for (int col = 0; col < grid.ColCount(); ++col) {
                cells << grid.Cells(col, row);
                if (grid.IsRedCell(col, row))
                    table.marks.Set(row, col);
            }
            table.rows.append(cells);
        }
        result.append(t);
    }
    return result;
}

QString TAvtopoverkaLogic::ProduceReport(const TReportRequest &request, IReportView *view)
{
    QList<TReportTab> tabs = ReportTabs();
    if (chartRenderer_ && request.format != TReportFormat::Excel)
        for (int tab = 0; tab < tabs.size(); ++tab)
            if (tabs[tab].hasData)
                tabs[tab].table.chartPng = chartRenderer_(tab);
    TReportRequest withLab = request;
    if (withLab.labFields.isEmpty() && !readOnly_)
        withLab.labFields = LabRules::ReportFields(lab_, lastVerdict_, QDate::currentDate(), {});
    return TReportProducer(ctx_.store, view).Produce(withLab, tabs);
}

// ---- closing ----

void TAvtopoverkaLogic::Closing(int x, int y)
{
    driver_.Shutdown(4 * driver_.Engine().ResponseTimeOut() + 2000);
    ctx_.avtopoverkaConfig->WriteAvtopoverkaWindowCoordX(x);
    ctx_.avtopoverkaConfig->WriteAvtopoverkaWindowCoordY(y);
}

// ---- the driver's host ----

void TAvtopoverkaLogic::RunMovedToTab(int tab)
{
    tabs_.SelectTab(tab);
    ctx_.view->SetActiveTab(tab);
}

void TAvtopoverkaLogic::DeviceInfoTaken()
{
    ctx_.view->SetCoefficientLabel(ctx_.CoefficientText());
}

void TAvtopoverkaLogic::DeviceSettingsRead(const TDeviceInfo &info)
{
    TAvtopoverkaSelections &s = ctx_.selections;
    s.scheme4 = info.scheme != 1;
    // The smallest ranges that hold the transducer's secondary values; beyond the largest, unchanged.
    if (const std::optional<TCurrentRange> range = CurrentRangeHolding(info.transfCoefs.I2))
        s.currentRange = *range;
    if (const std::optional<TVoltageRange> range = VoltageRangeHolding(info.transfCoefs.U2))
        s.voltage = *range;
    s.outputSignalIndex = info.analogOutputRange != 0 ? 1 : 0;
    ctx_.view->ShowSelections(s);
    UpdateNominalCurrent();
    UpdateNominalVoltage();
}

void TAvtopoverkaLogic::AddressRead(int address)
{
    ctx_.entries.address = address;
    ctx_.view->SetEntryValue(TEntry::Address, address);
}

void TAvtopoverkaLogic::RunEnded(const TRunEnd &end)
{
    Lock(false);
    if (end.outcome != TRunOutcome::Finished)
        return;
    // Where the bench keeps the laboratory's records the conclusion comes with the end.
    if (!lab_.IsEmpty() && lastVerdict_)
        ctx_.view->ShowMessage(QStringLiteral("Измерение закончено\nЗаключение: ") + lastVerdict_->Text()
            + (lastVerdict_->reasons.isEmpty()
                    ? QString()
                    : QStringLiteral(": ") + lastVerdict_->reasons.join(QStringLiteral("; "))));
    else
        ctx_.view->ShowMessage(QStringLiteral("Измерение закончено"));
}
