// kestctl verify: runs the points of a scenario file against the installation exactly as the verification
// window would (the same logic, driver and settings), prints one line per point, and writes the filled
// tables and a report when asked.
#include "kestctl_verify.h"
#include "signalguard.h"

#include "config/configcontroller.h"
#include "config/inifile.h"
#include "lab/labconfig.h"
#include "lab/labrules.h"
#include "protocol/configuration.h"
#include "protocol/numberformat.h"
#include "transport/frametrace.h"
#include "verification/csvmanager.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/run/avtopoverkalogic.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

const char *const kKestctlVerifyHelp =
    R"(
Поверка (коды выхода: 0 — поверка выполнена, 1 — отказ связи или порта, прервана, отчёт не записан,
2 — неверная команда; выходы установки выключаются и при SIGINT/SIGTERM):
  kestctl [--port PATH] [--rate BPS] [--timeout MS (по умолчанию 5000)] [--trace FILE] \
  verify --config QX4|I|U|PQ|QX4E|F|P|Q --scenario FILE.csv [--tab N] [--out RESULTS.csv]
         [--report OUT.docx|OUT.xlsx|OUT.pdf [--template FILE]]
         [--range 0,5|1|2,5|5] [--voltage 100|380|400] [--scheme 3|4] [--signal 0..4] [--aru]
         [--u-range 0..125|75..125|0..250|0..400|0..500] [--no-journal]
         [--type ID] [--owner TEXT] [--modification TEXT] [--kind primary|periodic]
         [--condition temperature=21,5] [--condition humidity=55] [--condition pressure=101,3]
         [--condition supply-voltage=230] [--condition supply-frequency=50] [--standards ID,ID]
         [--used-as-standard REGNUMBER|-]
                             поверка по точкам сценария (блоки "Table" — вкладки, или одна таблица)
                             с настройками программы, как в окне "Автоповерка"; строка на точку:
                             вкладка, строка, входы и для каждого столбца: установка, прибор, погрешность
                             ("!" — сверх допуска); --u-range — "Диапазон" преобразователя напряжения
                             (--config U или F); --out — заполненные таблицы в CSV, --report — протокол;
                             каждая точка записывается в журнал результатов, как из окна ("Журнал"),
                             кроме --no-journal; --type, --owner, --modification, --kind, --condition,
                             --standards — сведения лаборатории для протокола и журнала (тип СИ и эталоны —
                             по ID из kestctl types list / standards list; без --standards — эталоны стенда,
                             [Lab] BenchStandards); --used-as-standard — прибор применяется как эталон (его
                             рег. номер эталона или "-"; срок передачи в «Аршин» — 20 рабочих дней; без него —
                             как отмечено для номера прибора в "Настройке отчёта"); эталон с истёкшей поверкой — предупреждение или отказ до
                             начала поверки ([Lab] OverdueStandards=warn|block); в конце — "Заключение: …"
)";

namespace {

struct TUsage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Out(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Err(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

// The window's screen, for a terminal: messages and errors on the standard error.
class TConsoleView : public IAvtopoverkaView, public IReportView {
public:
    QStringList errors;
    QString lastProgress;

    void ShowError(const QString &text) override
    {
        errors << text;
        Err(QStringLiteral("Ошибка: ") + text);
    }
    void ShowMessage(const QString &text) override { Err(text); }
    // Nobody to answer on a command line: no.
    bool Confirm(const QString &, const QString &text) override
    {
        Err(text + QStringLiteral(" — нет"));
        return false;
    }
    void ShowSelections(const TAvtopoverkaSelections &) override { }
    void SetEntryLimits(TEntry, double, double) override { }
    void SetEntryValue(TEntry, double) override { }
    void AddTabPage(int, TKestAvtopoverkaGrid *) override { }
    void SetTabVisible(int, bool) override { }
    void SetTabCaption(int, const QString &) override { }
    void SetActiveTab(int) override { }
    void SetPlusVisible(bool) override { }
    void SetPasteEnabled(bool) override { }
    void SetLocked(bool) override { }
    void ShowProgress(const QString &text) override { lastProgress = text; }
    void SetAddressColor(uint32_t) override { }
    void SetAddressEnabled(bool) override { }
    void SetReadSettingsEnabled(bool) override { }
    void SetCoefficientLabel(const QString &) override { }
    void SetBusy(bool) override { }
    void SetReportCommandsEnabled(bool) override { }
    void OpenDocument(const QString &) override { }
};

// One line per point: tab, row, inputs, then per output column the installation's value, the transducer's
// value (or the analog current) and the error, "!" after an error over the limit.
class TPrinter : public IRunObserver {
public:
    explicit TPrinter(TVerificationTabs &tabs) : tabs_(tabs) { }
    std::optional<TRunEnd> end;

    void PointMeasured(const TMeasuredPoint &m) override
    {
        if (!m.note.isEmpty())
            Err(QStringLiteral("Вкладка %1, строка %2: %3").arg(m.point.tab + 1).arg(m.point.row).arg(m.note));
        const TKestAvtopoverkaGrid &grid = tabs_.Grid(m.point.tab);
        const TInputData &in = m.point.input;
        QStringList parts;
        parts << QStringLiteral("%1\t%2\tI=%3 U=%4 φ=%5 F=%6")
                     .arg(m.point.tab + 1)
                     .arg(m.point.row)
                     .arg(FloatToQStr(in.Ia.value), FloatToQStr(in.Ua.value), FloatToQStr(in.Angle.value),
                         FloatToQStr(in.Freq.value));
        for (int col = grid.InputColumnCount(); col < grid.ColCount() && col < int(m.cells.size()); ++col) {
            QStringList pieces = m.cells[col].split(TSuperAvtopoverkaGrid::kGap, Qt::SkipEmptyParts);
            QString text = grid.ColumnParamNames().value(col) + QStringLiteral(": ") + pieces.join(QLatin1Char(' '));
            if (col < int(m.marks.size()) && m.marks[size_t(col)])
                text += QLatin1Char('!');
            parts << text;
        }
        Out(parts.join(QStringLiteral("\t")));
    }
    void RunEnded(const TRunEnd &e) override { end = e; }

private:
    TVerificationTabs &tabs_;
};

bool IsScenarioFile(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // A spreadsheet's re-save marks its tables as "Table";;; — the window reads those too.
    const QStringList lines = TCsvManager::SplitLines(TCsvManager::DecodeText(f.read(TCsvManager::kMaxFileSize)));
    return std::any_of(
        lines.cbegin(), lines.cend(), [](const QString &line) { return TCsvManager::IsTableLine(line); });
}

bool WriteResults(TAvtopoverkaLogic &logic, const QString &file, QString &error)
{
    const QByteArray bom("\xEF\xBB\xBF");
    QByteArray text = bom;
    TVerificationTabs &tabs = logic.Tabs();
    for (int tab = 0; tab < tabs.Count(); ++tab) {
        const TKestAvtopoverkaGrid &grid = tabs.Grid(tab);
        if (!grid.isFirstRowFilled)
            continue;
        text += QByteArray("Table\r\n") + grid.Title.toUtf8() + QByteArray("\r\n");
        QByteArray table = TCsvManager::TableText(grid, grid.ColCount());
        if (table.startsWith(bom))
            table.remove(0, bom.size());
        text += table;
    }
    try {
        TIniFile::WriteFileAtomically(file, text);
        return true;
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    return false;
}

struct TVerifyOptions {
    QString port, rate, trace;
    int timeout = 0;
    QString config, scenario, out, report, templ;
    int tab = 0; // 1-based; 0: all tabs
    std::optional<TCurrentRange> range;
    std::optional<TVoltageRange> voltage;
    std::optional<bool> scheme4;
    std::optional<int> signal;
    std::optional<TURange> uRange;
    bool aru = false;
    bool journal = true;
    // The laboratory's side of the run.
    QString typeId, owner, modification;
    std::optional<TVerificationKind> kind;
    TRunConditions conditions;
    QStringList standards;
    std::optional<TStandardUse> asStandard; // none given: as remembered for the device
    bool HasLab() const
    {
        return !typeId.isEmpty() || !owner.isEmpty() || !modification.isEmpty() || kind || !conditions.IsEmpty()
            || !standards.isEmpty() || asStandard;
    }
};

TVerifyOptions Parse(const QStringList &argv)
{
    TVerifyOptions o;
    bool seenCommand = false;
    for (int i = 1; i < argv.size(); ++i) {
        const QString a = argv[i];
        auto next = [&]() -> QString {
            if (i + 1 >= argv.size())
                throw TUsage("нет значения для " + a.toStdString());
            return argv[++i];
        };
        auto number = [&](double low, double high) {
            const QString text = next();
            double v = 0;
            if (!TryStrToFloat(text, v) || v < low || v > high)
                throw TUsage("неверное значение " + a.toStdString() + ": " + text.toStdString());
            return v;
        };
        if (a == QStringLiteral("verify") && !seenCommand)
            seenCommand = true;
        else if (a == QStringLiteral("--port"))
            o.port = next();
        else if (a == QStringLiteral("--rate"))
            o.rate = next();
        else if (a == QStringLiteral("--timeout"))
            o.timeout = int(number(1, 600000));
        else if (a == QStringLiteral("--trace"))
            o.trace = next();
        else if (!seenCommand)
            throw TUsage("неизвестный параметр " + a.toStdString());
        else if (a == QStringLiteral("--config"))
            o.config = next();
        else if (a == QStringLiteral("--scenario"))
            o.scenario = next();
        else if (a == QStringLiteral("--tab"))
            o.tab = int(number(1, 10));
        else if (a == QStringLiteral("--out"))
            o.out = next();
        else if (a == QStringLiteral("--report"))
            o.report = next();
        else if (a == QStringLiteral("--template"))
            o.templ = next();
        else if (a == QStringLiteral("--range")) {
            o.range = CurrentRangeFromCaption(next());
            if (!o.range)
                throw TUsage("--range: 0,5, 1, 2,5 или 5");
        } else if (a == QStringLiteral("--voltage")) {
            o.voltage = VoltageRangeFromCaption(next());
            if (!o.voltage)
                throw TUsage("--voltage: 100, 380 или 400");
        } else if (a == QStringLiteral("--scheme")) {
            const QString s = next();
            if (s != QStringLiteral("3") && s != QStringLiteral("4"))
                throw TUsage("--scheme: 3 или 4");
            o.scheme4 = s == QStringLiteral("4");
        } else if (a == QStringLiteral("--u-range")) {
            o.uRange = URangeFromCaption(next());
            if (!o.uRange)
                throw TUsage("--u-range: 0..125, 75..125, 0..250, 0..400 или 0..500");
        } else if (a == QStringLiteral("--signal"))
            o.signal = int(number(0, 4));
        else if (a == QStringLiteral("--aru"))
            o.aru = true;
        else if (a == QStringLiteral("--no-journal"))
            o.journal = false;
        else if (a == QStringLiteral("--type"))
            o.typeId = next().trimmed();
        else if (a == QStringLiteral("--owner"))
            o.owner = next().trimmed();
        else if (a == QStringLiteral("--modification"))
            o.modification = next().trimmed();
        else if (a == QStringLiteral("--used-as-standard")) {
            // "-": a standard without a registration number yet
            const QString number = next().trimmed();
            if (number.isEmpty())
                throw TUsage("--used-as-standard: рег. номер эталона или \"-\"");
            o.asStandard = TStandardUse{true, number == QStringLiteral("-") ? QString() : number};
        } else if (a == QStringLiteral("--kind")) {
            const QString k = next();
            if (k == QStringLiteral("primary"))
                o.kind = TVerificationKind::Primary;
            else if (k == QStringLiteral("periodic"))
                o.kind = TVerificationKind::Periodic;
            else
                throw TUsage("--kind: primary или periodic");
        } else if (a == QStringLiteral("--condition")) {
            const QString c = next();
            const int eq = c.indexOf(QLatin1Char('='));
            double v = 0;
            if (eq < 0 || !TryStrToFloat(c.mid(eq + 1).trimmed(), v))
                throw TUsage("--condition: ВЕЛИЧИНА=ЧИСЛО, например temperature=21,5");
            const QString key = c.left(eq).trimmed();
            if (key == QStringLiteral("temperature") && v > -60 && v < 80)
                o.conditions.temperature = v;
            else if (key == QStringLiteral("humidity") && v >= 0 && v <= 100)
                o.conditions.humidity = v;
            else if (key == QStringLiteral("pressure") && v > 50 && v < 150)
                o.conditions.pressure = v;
            else if (key == QStringLiteral("supply-voltage") && v > 0 && v < 1000)
                o.conditions.supplyVoltage = v;
            else if (key == QStringLiteral("supply-frequency") && v > 0 && v < 1000)
                o.conditions.supplyFrequency = v;
            else
                throw TUsage("--condition: temperature (°C), humidity (%), pressure (кПа), supply-voltage (В) или "
                             "supply-frequency (Гц) в разумных пределах, а не «"
                    + c.toStdString() + "»");
        } else if (a == QStringLiteral("--standards")) {
            for (const QString &id : next().split(QLatin1Char(','), Qt::SkipEmptyParts))
                o.standards << id.trimmed();
        } else
            throw TUsage("неизвестный параметр " + a.toStdString());
    }
    if (!o.journal && o.HasLab())
        throw TUsage("сведения лаборатории (--type, --standards …) хранятся в журнале: без --no-journal");
    if (o.config.isEmpty() || !ConfigurationFromName(o.config))
        throw TUsage("--config: одна из QX4, I, U, PQ, QX4E, F, P, Q");
    if (o.scenario.isEmpty())
        throw TUsage("нужен --scenario FILE.csv");
    if (o.uRange && o.config != QStringLiteral("U") && o.config != QStringLiteral("F"))
        throw TUsage("--u-range: только для --config U или F");
    if (!o.templ.isEmpty() && o.report.isEmpty())
        throw TUsage("--template без --report");
    if (!o.report.isEmpty()) {
        const QString ext = QFileInfo(o.report).suffix().toLower();
        if (ext != QStringLiteral("docx") && ext != QStringLiteral("xlsx") && ext != QStringLiteral("pdf"))
            throw TUsage("--report: файл .docx, .xlsx или .pdf");
    }
    return o;
}

// The run's laboratory record from the command line and the registers: the type and the standards by
// their ids (the bench's standards when none are given), the owner from the report header when not
// given. 0, or the exit code when an id is unknown or the register cannot be read.
int SetLabRecord(const TVerifyOptions &o, TConfigController &store, TJournal &journal, TAvtopoverkaLogic &logic)
{
    ILabRegistry &registry = journal.Registry();
    TLabRunRecord lab;
    if (!o.typeId.isEmpty()) {
        lab.type = registry.Type(o.typeId);
        if (!lab.type) {
            Err(QStringLiteral("Ошибка: тип СИ %1 не найден%2")
                    .arg(o.typeId,
                        registry.LastError().isEmpty() ? QString() : QStringLiteral(": ") + registry.LastError()));
            return registry.LastError().isEmpty() ? 2 : 1;
        }
        lab.kind = lab.type->defaultKind;
    }
    if (o.kind)
        lab.kind = *o.kind;
    lab.owner = o.owner.isEmpty() ? TAvtopoverkaReportConfig(&store).ReadReportData().DeviceOwner : o.owner;
    lab.modification = o.modification;
    lab.conditions = o.conditions;
    const TStandardUse use = o.asStandard.value_or(
        TLabConfig(&store).ReadStandardUseForDevice(TAvtopoverkaReportConfig(&store).ReadReportData().DeviceNum));
    lab.usedAsStandard = use.used;
    lab.standardRegNumber = use.regNumber;
    const std::optional<std::vector<TStandard>> registered = registry.Standards(true);
    if (!registered) {
        if (!o.standards.isEmpty()) {
            Err(QStringLiteral("Ошибка: реестр эталонов не прочитан: ") + registry.LastError());
            return 1;
        }
    } else if (!o.standards.isEmpty()) {
        for (const QString &id : o.standards) {
            const auto found
                = std::find_if(registered->begin(), registered->end(), [&](const TStandard &s) { return s.id == id; });
            if (found == registered->end() || found->retired) {
                Err(QStringLiteral("Ошибка: эталон %1 %2")
                        .arg(id,
                            found == registered->end() ? QStringLiteral("не найден")
                                                       : QStringLiteral("выведен из обращения")));
                return 2;
            }
            lab.standards.push_back(*found);
        }
    } else {
        QStringList missing;
        lab.standards = TLabConfig(&store).BenchStandardsOf(*registered, &missing);
        if (!missing.isEmpty())
            Err(QStringLiteral("Предупреждение: эталоны стенда не найдены в реестре: ")
                + missing.join(QStringLiteral(", ")));
    }
    const QStringList outside = LabRules::ConditionsOutside(lab.conditions, TLabConfig(&store).ReadNormalConditions());
    if (!outside.isEmpty())
        Err(QStringLiteral("Предупреждение: условия вне нормальных: ") + outside.join(QStringLiteral("; ")));
    logic.SetLabRecord(lab);
    return 0;
}

int Verify(const TVerifyOptions &o)
{
    if (!o.trace.isEmpty() && !TFrameTrace::Instance().IsOn() && !TFrameTrace::Instance().Open(o.trace.toStdString()))
        throw TUsage("не удалось открыть файл трассировки " + o.trace.toStdString());
    if (!QFileInfo::exists(o.scenario)) {
        Err(QStringLiteral("Ошибка: файл не найден: ") + o.scenario);
        return 1;
    }
    TConfigController store;
    TConsoleView view;
    TAvtopoverkaLogic logic(&view, &store, *ConfigurationFromName(o.config));
    logic.SetPortOverride(o.port, o.rate);
    if (o.timeout > 0)
        logic.Driver().SetResponseTimeOut(o.timeout);
    TPrinter printer(logic.Tabs());
    logic.AddRunObserver(&printer);
    // Journalled exactly as the window journals; a journal that cannot write says so on stderr and
    // never changes how the run itself ends.
    std::unique_ptr<TJournal> journal;
    if (o.journal) {
        journal = std::make_unique<TJournal>(TJournalOptions::FromSettings(&store));
        journal->SetMessageHandler([](const QString &text) { Err(QStringLiteral("Журнал: ") + text); });
        journal->Open();
        logic.SetJournal(journal.get());
        if (const int code = SetLabRecord(o, store, *journal, logic); code != 0)
            return code;
    }
    logic.Init();
    auto idle = [&] { return !logic.Driver().IsBusy(); };
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (o.range)
        logic.CurrentRangeChosen(*o.range);
    if (o.voltage)
        logic.VoltageChosen(*o.voltage);
    if (o.scheme4)
        logic.SchemeChosen(*o.scheme4);
    if (o.signal)
        logic.OutputSignalChosen(*o.signal);
    if (o.uRange)
        logic.RangeIndexChosen(URangeIndex(*o.uRange));
    logic.AruChosen(o.aru);

    const bool loaded = IsScenarioFile(o.scenario) ? logic.LoadScenario(o.scenario) : logic.LoadTable(o.scenario);
    if (!loaded)
        return 1;
    if (o.tab > logic.Tabs().Count()) {
        Err(QStringLiteral("Ошибка: в сценарии нет вкладки %1").arg(o.tab));
        return 2;
    }

    // A signal that came while the run was being prepared ends it before anything is sent.
    bool interrupted = KestctlSignals::Received();
    if (interrupted) {
        Err(QStringLiteral("Остановлено по сигналу до начала поверки; установке ничего не отправлено"));
        return 1;
    }
    KestctlSignals::OnSignal([&] {
        interrupted = true;
        logic.StopClicked();
    });

    bool started = false;
    if (o.tab > 0) {
        logic.TabSelected(o.tab - 1);
        started = logic.StartCurrentTab();
    } else {
        started = logic.StartAllTabs();
    }
    if (!started) {
        if (view.errors.isEmpty())
            Err(QStringLiteral("Ошибка: в сценарии нет точек"));
        KestctlSignals::OnSignal(nullptr);
        return 1;
    }
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    KestctlSignals::OnSignal(nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);

    if (journal) {
        // A command-line run is shorter than the journal's retry time: the server is tried once more now,
        // and what stays in this bench's buffer is said, not left to be found.
        if (const int waiting = journal->FlushBeforeExit(5000); waiting > 0)
            Err(QStringLiteral("Журнал: сервер недоступен, в буфере стенда остаются поверок: %1; они будут "
                               "отправлены при следующем запуске")
                    .arg(waiting));
        if (const TRunJournalRecorder *r = logic.Recorder(); r && !r->Last().isEmpty())
            Err(QStringLiteral("Журнал: поверка %1").arg(r->Last()));
    }
    if (const std::optional<TVerdict> &verdict = logic.LastVerdict())
        Out(QStringLiteral("Заключение: ") + verdict->Text()
            + (verdict->reasons.isEmpty() ? QString()
                                          : QStringLiteral(": ") + verdict->reasons.join(QStringLiteral("; "))));
    // The journal's id of the run last, for a script to go on with (arshin-export --run ID …).
    if (const TRunJournalRecorder *r = logic.Recorder(); journal && r && !r->Last().isEmpty())
        Out(QStringLiteral("Поверка: ") + r->Last());
    int code = 0;
    if (!printer.end || printer.end->outcome != TRunOutcome::Finished || interrupted) {
        if (interrupted)
            Err(QStringLiteral("Остановлено по сигналу; выходы установки %1")
                    .arg(printer.end && printer.end->outputsOff ? QStringLiteral("выключены")
                                                                : QStringLiteral("не подтвердили выключение")));
        code = 1;
    }
    if (!o.out.isEmpty()) {
        QString error;
        if (!WriteResults(logic, o.out, error)) {
            Err(QStringLiteral("Ошибка: ") + error);
            code = 1;
        }
    }
    if (!o.report.isEmpty() && code == 0) {
        const QString ext = QFileInfo(o.report).suffix().toLower();
        const TReportFormat format = ext == QStringLiteral("xlsx") ? TReportFormat::Excel
            : ext == QStringLiteral("pdf")                         ? TReportFormat::Pdf
                                                                   : TReportFormat::Word;
        const QString path = logic.ProduceReport(
            TReportRequest(format, o.templ, QFileInfo(o.report).absoluteFilePath(), false), &view);
        if (path.isEmpty())
            code = 1;
        else
            Err(QStringLiteral("Отчёт: ") + path);
    }
    return code;
}

} // namespace

int KestctlVerify(const QStringList &argv)
{
    try {
        return Verify(Parse(argv));
    } catch (const TUsage &e) {
        std::fprintf(stderr, "kestctl verify: %s\nСправка: kestctl --help\n", e.what());
        return 2;
    }
}
