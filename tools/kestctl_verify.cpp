// kestctl verify: runs the points of a scenario file against the installation exactly as the verification
// window would (the same logic, driver and settings), prints one line per point, and writes the filled
// tables and a report when asked.
#include "kestctl_verify.h"
#include "signalguard.h"

#include "config/configcontroller.h"
#include "config/inifile.h"
#include "protocol/configuration.h"
#include "protocol/numberformat.h"
#include "transport/frametrace.h"
#include "verification/csvmanager.h"
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
                             поверка по точкам сценария (блоки "Table" — вкладки, или одна таблица)
                             с настройками программы, как в окне "Автоповерка"; строка на точку:
                             вкладка, строка, входы и для каждого столбца: установка, прибор, погрешность
                             ("!" — сверх допуска); --u-range — "Диапазон" преобразователя напряжения
                             (--config U или F); --out — заполненные таблицы в CSV, --report — протокол;
                             каждая точка записывается в журнал результатов, как из окна ("Журнал"),
                             кроме --no-journal
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
        else
            throw TUsage("неизвестный параметр " + a.toStdString());
    }
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
        journal->Flush();
        if (const TRunJournalRecorder *r = logic.Recorder(); r && !r->Last().isEmpty())
            Err(QStringLiteral("Журнал: поверка %1").arg(r->Last()));
    }
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
