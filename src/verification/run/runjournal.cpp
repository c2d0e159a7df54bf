#include "verification/run/runjournal.h"

#include "config/globalconfig.h"
#include "lab/labrules.h"
#include "protocol/numberformat.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/run/avtopoverkalogic.h"

#include <QFileInfo>

namespace {

const QString kRemovedInputsKey = QStringLiteral("Убранные входы вкладки %1");

// As the window's buttons show them.
QString CurrentRangeText(TCurrentRange range)
{
    return Caption(range) + QStringLiteral("A");
}

QString VoltageRangeText(TVoltageRange voltage)
{
    return Caption(voltage) + QStringLiteral(" V");
}

TJournalTable TableOf(int tab, TAvtopoverkaLogic &logic)
{
    const TKestAvtopoverkaGrid &grid = logic.Tabs().Grid(tab);
    TJournalTable t;
    t.tab = tab;
    t.title = grid.Title;
    t.rsInterface = !logic.Tabs().IsAnalog(tab);
    t.inputColumnCount = grid.InputColumnCount();
    for (int col = 0; col < grid.ColCount(); ++col) {
        t.columnNames << grid.ColumnParamNames().value(col);
        t.headers << grid.Cells(col, 0);
        t.columnWidths << grid.ColWidths(col);
    }
    // A table that was never filled has only the empty row a new table starts with: no points.
    if (grid.isFirstRowFilled) {
        for (int row = 1; row < grid.RowCount(); ++row) {
            QStringList cells;
            for (int col = 0; col < grid.ColCount(); ++col)
                cells << grid.Cells(col, row);
            t.rows.push_back(cells);
        }
    }
    return t;
}

bool Shown(const TSuperAvtopoverkaGrid *grid, int index)
{
    return !grid || grid->OutputColumnOf(index) >= 0;
}

void AddErrors(
    const TSuperParametersForGridRow &row, const TSuperAvtopoverkaGrid *grid, std::vector<TJournalError> &errors)
{
    for (int slot = 1; slot <= row.arrayLength; ++slot) {
        const TSuperParameterForGrid *p = row.Slot(slot);
        if (p && p->Parameter2 && Shown(grid, p->Parameter1.index))
            errors.push_back({p->Parameter1.index, p->Error, p->isBiggerThanThreshold});
    }
}

} // namespace

TRunJournalRecorder::TRunJournalRecorder(TJournal *journal, TAvtopoverkaLogic &logic) : journal_(journal), logic_(logic)
{
}

void TRunJournalRecorder::RunStarted(const TRunStart &start)
{
    current_.clear();
    pending_.reset();
    continuing_ = false;
    if (!journal_)
        return;
    if (!continueWith_.isEmpty() && start.firstPoint > 0) {
        // A restored run going on: the header is the one journalled when it began.
        current_ = continueWith_;
        continuing_ = true;
        journal_->ResumeRun(current_);
    } else {
        pending_ = HeaderOf(start, logic_);
    }
    continueWith_.clear();
}

void TRunJournalRecorder::DeviceIdentified(const TDeviceInfo &info)
{
    if (!pending_)
        return;
    TJournalDevice &d = pending_->device;
    d.type = QString::number(info.deviceType);
    d.coefficients = info.transfCoefs;
    d.details = {{QStringLiteral("Исполнение"), QString::number(info.deviceSet)},
        {QStringLiteral("Схема"), QString::number(info.scheme)},
        {QStringLiteral("Диапазон аналоговых выходов"), QString::number(info.analogOutputRange)}};
    d.modification = QString::number(info.deviceSet);
    BeginIfPending();
}

void TRunJournalRecorder::PointMeasured(const TMeasuredPoint &point)
{
    BeginIfPending();
    if (journal_ && !current_.isEmpty())
        journal_->AddPoint(current_,
            PointOf(point, point.point.tab < logic_.Tabs().Count() ? &logic_.Tabs().Grid(point.point.tab) : nullptr));
}

void TRunJournalRecorder::RunEnded(const TRunEnd &end)
{
    BeginIfPending();
    if (!journal_ || current_.isEmpty())
        return;
    QString error = end.error;
    // A run whose installation did not confirm its zero output is recorded as such, whatever else
    // happened: the bench may still be live.
    if (!end.outputsOff) {
        const QString off = QStringLiteral("установка не подтвердила отключение выходов");
        error = error.isEmpty() ? off : error + QStringLiteral("; ") + off;
    }
    const TJournalOutcome outcome = end.outcome == TRunOutcome::Finished ? TJournalOutcome::Finished
        : end.outcome == TRunOutcome::Stopped                            ? TJournalOutcome::Stopped
                                                                         : TJournalOutcome::Failed;
    TJournalRunEnd ended(outcome, error, end.time);
    // The conclusion of a verification that finished, judged from what the journal holds of it (a
    // continued run's earlier points included).
    logic_.SetLastVerdict(std::nullopt);
    if (outcome == TJournalOutcome::Finished)
        if (std::optional<TJournalRun> run = journal_->LoadRun(current_)) {
            run->end = ended;
            ended.verdict = LabRules::Verdict(*run);
            logic_.SetLastVerdict(ended.verdict);
        }
    journal_->EndRun(current_, ended);
    last_ = current_;
    current_.clear();
}

void TRunJournalRecorder::BeginIfPending()
{
    if (!pending_ || !journal_)
        return;
    current_ = journal_->BeginRun(std::move(*pending_));
    pending_.reset();
}

TJournalRunHeader TRunJournalRecorder::HeaderOf(const TRunStart &start, TAvtopoverkaLogic &logic)
{
    TJournalRunHeader h;
    h.started = start.time;
    h.configuration = ConfigurationName(start.configuration);
    h.runMode = KestRunJournal::ScopeName(start.scope);
    if (start.deviceInfo) {
        h.device.type = QString::number(start.deviceInfo->deviceType);
        h.device.modification = QString::number(start.deviceInfo->deviceSet);
    }
    h.device.coefficients = start.transfCoefs;
    h.limits.error = start.permissibleError;
    h.limits.freqError = start.permissibleErrorFreq;
    h.limits.analogError = start.permissibleErrorAnalog;
    h.setup.currentRange = CurrentRangeText(start.currentRange);
    h.setup.voltageRange = VoltageRangeText(start.voltageRange);
    h.setup.scheme = start.scheme4 ? QStringLiteral("4-x провод.") : QStringLiteral("3-x провод.");
    const TKestConfiguration &k = start.kestConfiguration;
    h.setup.options = {{QStringLiteral("Нагрузка"), k.RnFlag ? QStringLiteral("Макс.") : QStringLiteral("Мин.")},
        {QStringLiteral("АРУ"), start.aru ? QStringLiteral("да") : QStringLiteral("нет")},
        {QStringLiteral("Диапазон"), QString::number(k.URangeIndex)},
        {QStringLiteral("Выходной сигнал"), QString::number(k.AmperageRangeNum)},
        {QStringLiteral("Время измерения, мс"), QString::number(start.waitingTimeMs)}};

    TVerificationTabs &tabs = logic.Tabs();
    for (int tab = 0; tab < tabs.Count(); ++tab) {
        h.tables.push_back(TableOf(tab, logic));
        const QStringList removed = logic.Context().avtopoverkaConfig->ReadRemovedTabInputSet(tab);
        if (!removed.isEmpty())
            h.setup.options.append({kRemovedInputsKey.arg(tab), removed.join(QLatin1Char(','))});
    }
    for (const TRunPoint &p : start.points)
        h.planned.push_back({p.tab, p.row});
    h.reportData = KestRunJournal::KeyValuesOf(TAvtopoverkaReportConfig(logic.Context().store).ReadReportData());
    h.lab = logic.LabRecord();
    return h;
}

TJournalPoint TRunJournalRecorder::PointOf(const TMeasuredPoint &m, const TSuperAvtopoverkaGrid *grid)
{
    TJournalPoint p;
    p.tab = m.point.tab;
    p.row = m.point.row;
    p.time = m.time;
    p.input = m.sent;
    if (m.installation)
        p.installation = TJournalValues::From(*m.installation);
    if (m.transducer)
        p.device = TJournalValues::From(*m.transducer);
    if (!m.point.IsRs())
        p.analog = m.analogCurrents;
    p.errors = ErrorsOf(m.results, grid);
    p.cells = m.cells;
    p.marks = m.marks;
    return p;
}

std::vector<TJournalError> TRunJournalRecorder::ErrorsOf(
    const TSuperAvtopoverkaGrid::TRowResults &results, const TSuperAvtopoverkaGrid *grid)
{
    std::vector<TJournalError> errors;
    if (results.rs)
        AddErrors(*results.rs, grid, errors);
    for (const auto &[index, cell] : results.analog)
        if (Shown(grid, index))
            errors.push_back({index, cell.Error, cell.isBiggerThanThreshold});
    return errors;
}

namespace KestRunJournal {

QString ScopeName(TRunScope scope)
{
    switch (scope) {
    case TRunScope::CurrentTab:
        return QStringLiteral("tab");
    case TRunScope::AllTabs:
        return QStringLiteral("all");
    case TRunScope::SelectedRow:
        return QStringLiteral("row");
    }
    return QString();
}

std::optional<TRunScope> ScopeOf(const QString &name)
{
    for (const TRunScope s : {TRunScope::CurrentTab, TRunScope::AllTabs, TRunScope::SelectedRow})
        if (ScopeName(s) == name)
            return s;
    return std::nullopt;
}

namespace {

struct TField {
    const char *key;
    QString TReportData::*member;
};

const TField kFields[] = {{"ProtocolNum", &TReportData::ProtocolNum}, {"DeviceName", &TReportData::DeviceName},
    {"DeviceNum", &TReportData::DeviceNum}, {"Date", &TReportData::Date}, {"FactoryNum", &TReportData::FactoryNum},
    {"Conditions", &TReportData::Conditions}, {"EquipmentName", &TReportData::EquipmentName},
    {"PoverkaDoc", &TReportData::PoverkaDoc}, {"Inspection", &TReportData::Inspection},
    {"ElectricityStrength", &TReportData::ElectricityStrength}, {"Pulsation", &TReportData::Pulsation},
    {"Conclusion", &TReportData::Conclusion}, {"Verifier", &TReportData::Verifier}, {"KU1", &TReportData::KU1},
    {"KU2", &TReportData::KU2}, {"KI1", &TReportData::KI1}, {"KI2", &TReportData::KI2},
    {"LabName", &TReportData::LabName}, {"LabAccreditation", &TReportData::LabAccreditation},
    {"DeviceOwner", &TReportData::DeviceOwner}, {"DeviceType", &TReportData::DeviceType},
    {"RegistryNum", &TReportData::RegistryNum}, {"PoverkaMethod", &TReportData::PoverkaMethod},
    {"Checker", &TReportData::Checker}};

} // namespace

TJournalKeyValues KeyValuesOf(const TReportData &data)
{
    TJournalKeyValues values;
    for (const TField &f : kFields)
        values.append({QString::fromLatin1(f.key), data.*f.member});
    return values;
}

TReportData ReportDataOf(const TJournalKeyValues &values)
{
    TReportData data;
    for (const TField &f : kFields)
        data.*f.member = JournalValueOf(values, QString::fromLatin1(f.key));
    return data;
}

QList<TReportTab> ReportTabsOf(const TJournalRun &run, const TJournalLimits &settings)
{
    QList<TReportTab> tabs;
    for (const TJournalShownTable &shown : run.ShownTables()) {
        const TJournalTable &layout = *shown.layout;
        TReportTab t;
        t.hasData = !shown.rows.empty();
        const QString removed = JournalValueOf(run.header.setup.options, kRemovedInputsKey.arg(layout.tab));
        if (!removed.isEmpty())
            t.removedInputs = removed.split(QLatin1Char(','));
        TReportTable &table = t.table;
        table.title = layout.title;
        // Runs journalled before the limits were kept read 0: the settings' limit stands in.
        const TJournalLimits &own = run.header.limits;
        const double limit = layout.rsInterface ? own.error : own.analogError;
        table.permissible = TReportProducer::PermissibleText(
            limit > 0 ? limit : (layout.rsInterface ? settings.error : settings.analogError));
        if (const QStringList &notes = run.header.lab.lowRatioNotes; !notes.isEmpty() && !table.permissible.isEmpty())
            table.permissible += QStringLiteral(" (") + notes.join(QStringLiteral("; ")) + QLatin1Char(')');
        for (int col = 0; col < layout.headers.size(); ++col)
            table.columns.append(TReportColumn{
                layout.columnNames.value(col), layout.headers.value(col), layout.columnWidths.value(col)});
        for (size_t r = 0; r < shown.rows.size(); ++r) {
            const TJournalShownRow &row = shown.rows[r];
            table.rows.append(row.cells);
            for (size_t col = 0; col < row.marks.size(); ++col)
                if (row.marks[col])
                    table.marks.Set(int(r) + 1, int(col));
        }
        tabs.append(t);
    }
    return tabs;
}

TJournalKeyValues LabFieldsOf(const TJournalRun &run)
{
    const TJournalRun amended = LabRules::Amended(run);
    return LabRules::ReportFields(amended.header.lab, amended.end ? amended.end->verdict : std::nullopt,
        amended.header.started.date(), run.amendments);
}

QString ProduceReport(TConfigController *store, const TJournalRun &run, TReportRequest request, IReportView *view)
{
    // The header, conditions and conclusion as amended after the run, the amendments themselves listed.
    if (!request.headerData)
        request.headerData = ReportDataOf(LabRules::Amended(run).header.reportData);
    if (request.labFields.isEmpty())
        request.labFields = LabFieldsOf(run);
    const TGlobalConfig global(store);
    TJournalLimits settings;
    settings.error = StrToFloatDef(global.ReadError(), 0.2);
    settings.analogError = StrToFloatDef(global.ReadAnalogError(), 0.5);
    return TReportProducer(store, view).Produce(request, ReportTabsOf(run, settings));
}

namespace {

// Nobody to show anything to: errors are kept for the caller, notes about the template dropped.
class TCollectingReportView : public IReportView {
public:
    void SetBusy(bool) override { }
    void SetReportCommandsEnabled(bool) override { }
    void ShowError(const QString &text) override { errors << text; }
    void ShowMessage(const QString &) override { }
    void OpenDocument(const QString &) override { }
    QStringList errors;
};

} // namespace

bool ProducePdfProtocol(TConfigController *store, const TJournalRun &run, const QString &pdfPath, QString *error)
{
    if (const QString why = TReportProducer::PdfUnavailableReason(); !why.isEmpty()) {
        *error = why;
        return false;
    }
    TCollectingReportView view;
    const QString written
        = ProduceReport(store, run, TReportRequest(TReportFormat::Pdf, QString(), pdfPath, false), &view);
    if (written.isEmpty() || !QFileInfo::exists(written)) {
        *error = view.errors.isEmpty() ? QStringLiteral("протокол не записан") : view.errors.join(QLatin1Char(' '));
        return false;
    }
    return true;
}

} // namespace KestRunJournal
