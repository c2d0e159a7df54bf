// kestctl tune: the tuning window's procedure without the window — the same TAutoTuning, the same
// settings store (coefficients, permissible error, the end tone), the log lines printed as they come,
// the run journalled as the window journals it (the journal the settings name).
// Exit 0 when the run ends with "Готово." and the installation confirmed its outputs off, 1 on any
// failure or stop, 2 on a wrong command line; the journal never changes it. SIGINT and SIGTERM stop the
// run the way "Стоп" does.
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "config/configcontroller.h"
#include "journal/journal.h"
#include "protocol/numberformat.h"
#include "signalguard.h"
#include "transport/waitservice.h"
#include "tuning/autotuning.h"
#include "tuning/tuningjournal.h"

namespace {

const char *const kTuneHelp = R"(kestctl tune — автонастройка преобразователя QX4.

Использование:
  kestctl tune --port1 PATH --port2 PATH [--voltage 100|380|400] [--current 0,5|1|2,5|5] [--scheme 3|4]
               [--address N] [--new-address N] [--analog -5..5|4..20] [--rs1 BPS] [--rs2 BPS]
               [--rs2-config info|mb] [--outputs P1,P2,P3] [--read-settings] [--log FILE] [--no-journal]

  --port1 PATH       порт установки KEST
  --port2 PATH       порт преобразователя
  --voltage, --current  номинальные напряжение и ток (по умолчанию 380 V и 5 A; уточняются по
                     коэффициентам трансформации из файла настроек)
  --scheme 3|4       схема, записываемая в преобразователь (по умолчанию 4)
  --address N        текущий сетевой адрес (без него адрес ищется, как кнопкой "Найти")
  --new-address N    сетевой адрес, записываемый в конце (по умолчанию текущий)
  --analog TYPE      настроить аналоговые выходы: -5..5 или 4..20 мА
  --rs1 BPS          скорость RS 1, записываемая в конце (по умолчанию 9600)
  --rs2 BPS          скорость RS 2, записываемая в конце (без неё RS 2 не записывается)
  --rs2-config info|mb  конфигурация RS 2: "Информ. канал" или "MB / IEC / CRC_RB" (по умолчанию info)
  --outputs P1,P2,P3 величины аналоговых выходов 1–3 ("Вых/Инд"), например Pa,Pb,Pc (по умолчанию Ua,Ub,Uc)
  --read-settings    сначала прочитать настройки преобразователя, как кнопкой "Прочитать параметры":
                     схема, коэффициенты трансформации, скорости и конфигурация RS, выходы и их тип
                     берутся из преобразователя; заданные в командной строке значения важнее
  --log FILE         записывать строки журнала и в FILE
  --no-journal       не записывать настройку в журнал результатов (по умолчанию она записывается
                     в журнал из файла настроек, как в окне "Автонастройка"; сообщения журнала
                     выводятся в поток ошибок и не меняют код выхода)

Коды выхода: 0 — "Готово." и выходы установки выключены, 1 — ошибка или остановка, 2 — неверная команда.
)";

void Print(FILE *stream, const QString &text)
{
    std::fputs(text.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

struct TUsage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int IndexOf(const QStringList &items, const QString &value, const char *option)
{
    const int index = static_cast<int>(items.indexOf(value));
    if (index < 0)
        throw TUsage(std::string(option) + ": " + value.toStdString());
    return index;
}

int Address(const std::string &text, const char *option)
{
    double v = 0;
    if (!TryStrToFloat(std::string_view(text), v) || v < 0 || v > 255 || v != static_cast<int>(v))
        throw TUsage(std::string(option) + ": от 0 до 255");
    return static_cast<int>(v);
}

// Values not given stay as the window starts them, or as the transducer has them with --read-settings.
struct TTuneOptions {
    QString port1, port2, logFile;
    std::optional<int> voltageIndex, currentIndex, schemeIndex, rs1Index, rs2Index, rs2ConfigIndex;
    std::optional<std::array<int, 3>> outputs;
    std::optional<int> address, newAddress, analogType;
    bool journal = true;
    bool readSettings = false;
};

std::array<int, 3> Outputs(const QString &text)
{
    const QStringList names = text.split(QLatin1Char(','));
    if (names.size() != 3)
        throw TUsage("--outputs: три величины через запятую, например Ua,Ub,Uc");
    std::array<int, 3> positions{};
    for (int n = 0; n < 3; ++n)
        positions[size_t(n)] = IndexOf(TAutoTuning::ParameterCaptions(), names[n].trimmed(), "--outputs");
    return positions;
}

TTuneOptions Parse(const std::vector<std::string> &args)
{
    TTuneOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--no-journal") {
            o.journal = false;
            continue;
        }
        if (a == "--read-settings") {
            o.readSettings = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw TUsage("нет значения для " + a);
        const QString v = QString::fromStdString(args[++i]);
        if (a == "--port1")
            o.port1 = v;
        else if (a == "--port2")
            o.port2 = v;
        else if (a == "--log")
            o.logFile = v;
        else if (a == "--voltage")
            o.voltageIndex = IndexOf({"100", "380", "400"}, v, "--voltage");
        else if (a == "--current")
            o.currentIndex = IndexOf({"0,5", "1", "2,5", "5"}, QString(v).replace('.', ','), "--current");
        else if (a == "--scheme")
            o.schemeIndex = IndexOf({"3", "4"}, v, "--scheme");
        else if (a == "--analog")
            o.analogType = IndexOf({"-5..5", "4..20"}, v, "--analog");
        else if (a == "--rs1")
            o.rs1Index = IndexOf(TAutoTuning::SpeedCaptions(), v, "--rs1");
        else if (a == "--rs2")
            o.rs2Index = IndexOf(TAutoTuning::SpeedCaptions(), v, "--rs2");
        else if (a == "--rs2-config")
            o.rs2ConfigIndex = IndexOf({"info", "mb"}, v, "--rs2-config");
        else if (a == "--outputs")
            o.outputs = Outputs(v);
        else if (a == "--address")
            o.address = Address(v.toStdString(), "--address");
        else if (a == "--new-address")
            o.newAddress = Address(v.toStdString(), "--new-address");
        else
            throw TUsage("неизвестный параметр " + a);
    }
    if (o.port1.isEmpty() || o.port2.isEmpty())
        throw TUsage("нужны --port1 и --port2");
    return o;
}

// Prints what the window would show; messages go to the error stream.
class THeadlessView : public ITuningView, public ITuningObserver {
public:
    explicit THeadlessView(QFile *log) : log_(log) { }
    void ClearLog() override { }
    void AddLog(const QString &line) override
    {
        Print(stdout, line);
        if (log_ && log_->isOpen()) {
            log_->write((line + QLatin1Char('\n')).toUtf8());
            log_->flush();
        }
    }
    void ShowChoices(const TTuningChoices &) override { }
    void SetCoefficientLabel(const QString &) override { }
    void SetRunning(bool) override { }
    void ShowError(const QString &text) override
    {
        errorShown_ = true;
        Print(stderr, QStringLiteral("Ошибка: ") + text);
    }
    void TuningEnded(const TTuningOutcome &outcome) override { outcome_ = outcome; }

    std::optional<TTuningOutcome> outcome_;
    bool errorShown_ = false;

private:
    QFile *log_;
};

} // namespace

int RunTune(const std::vector<std::string> &args)
{
    TTuneOptions o;
    try {
        if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
            std::fputs(kTuneHelp, stdout);
            return 0;
        }
        o = Parse(args);
    } catch (const TUsage &e) {
        std::fprintf(stderr, "kestctl tune: %s\nСправка: kestctl tune --help\n", e.what());
        return 2;
    }
    // Tests of the tool run the settling times shortened.
    bool scaled = false;
    const double scale = qEnvironmentVariable("KEST_WAIT_SCALE").toDouble(&scaled);
    if (scaled)
        TWaitService::SetScale(scale);

    QFile logFile(o.logFile);
    if (!o.logFile.isEmpty() && !logFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "kestctl tune: не удалось открыть %s\n", o.logFile.toUtf8().constData());
        return 2;
    }

    TConfigController config;
    // Made before the tuning and gone after it: a run ended while the tuning goes is still written.
    std::unique_ptr<TJournal> journal;
    std::unique_ptr<TTuningJournalRecorder> recorder;
    THeadlessView view(o.logFile.isEmpty() ? nullptr : &logFile);
    TAutoTuning tuning(&view);
    tuning.AddObserver(&view);
    tuning.InitKestCommunication(&config);
    tuning.InitDeviceCommunication();
    tuning.SetPortOverride(o.port1, o.port2);
    // What the command line gives, after what was read from the transducer.
    auto applyOptions = [&] {
        if (o.voltageIndex)
            tuning.VoltageChosen(*o.voltageIndex);
        if (o.currentIndex)
            tuning.CurrentChosen(*o.currentIndex);
        if (o.schemeIndex)
            tuning.SchemeChosen(*o.schemeIndex);
        if (o.rs1Index)
            tuning.Rs1Chosen(*o.rs1Index);
        if (o.rs2Index) {
            tuning.Rs2Toggled(true);
            tuning.Rs2Chosen(*o.rs2Index);
        }
        if (o.rs2ConfigIndex)
            tuning.Rs2ConfigChosen(*o.rs2ConfigIndex);
        if (o.outputs)
            for (int n = 0; n < 3; ++n)
                tuning.OutputChosen(n + 1, (*o.outputs)[size_t(n)]);
        if (o.analogType) {
            tuning.AnalogToggled(true);
            tuning.AnalogTypeChosen(*o.analogType);
        }
    };
    applyOptions();

    bool interrupted = KestctlSignals::Received();
    if (interrupted) {
        Print(stderr,
            QStringLiteral("kestctl tune: остановлено по сигналу до начала настройки; установке ничего не отправлено"));
        return 1;
    }
    KestctlSignals::OnSignal([&] {
        interrupted = true;
        tuning.StopClicked();
    });
    struct TForget { // the handler refers to this function's objects
        ~TForget() { KestctlSignals::OnSignal(nullptr); }
    } forget;

    QEventLoop loop;
    auto runUntil = [&](const std::function<bool()> &done) {
        while (!done())
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    };
    if (o.address && !o.readSettings) {
        tuning.NetAdrChanged(*o.address);
        tuning.NewAdrChanged(*o.address);
    } else {
        if (o.address)
            tuning.NetAdrChanged(*o.address);
        if (o.readSettings) {
            // The search, then the settings' reads on the transducer's line, as "Прочитать параметры".
            tuning.ReadSettingsClicked();
            runUntil([&] { return !tuning.IsSearching() || interrupted; });
            TDeviceInterface *device = tuning.DeviceInterface();
            runUntil([&] {
                return interrupted || view.errorShown_ || !device->IsOpen()
                    || (device->IsQueueEmpty() && !device->IsWaiting());
            });
            applyOptions();
        } else {
            tuning.FindClicked();
            runUntil([&] { return !tuning.IsSearching() || interrupted; });
        }
        tuning.CloseDevicePort();
        if (interrupted)
            Print(stderr,
                QStringLiteral(
                    "kestctl tune: остановлено по сигналу до начала настройки; установке ничего не отправлено"));
        if (interrupted || view.errorShown_)
            return 1;
        Print(stdout, QStringLiteral("Сетевой адрес: ") + QString::number(tuning.Choices().netAdr));
        if (o.readSettings) {
            const TTuningChoices &c = tuning.Choices();
            const QStringList speeds = TAutoTuning::SpeedCaptions();
            const QStringList names = TAutoTuning::ParameterCaptions();
            Print(stdout,
                QStringLiteral("Настройки: схема %1, RS 1 %2, RS 2 %3 (%4)%5, выходы %6, %7, %8")
                    .arg(TAutoTuning::kSchemeCaptions.value(c.schemeIndex), speeds.value(c.rs1Index),
                        speeds.value(c.rs2Index), TAutoTuning::kRs2ConfigCaptions.value(c.rs2ConfigIndex),
                        c.rs2Enabled ? QString() : QStringLiteral(" не записывается"), names.value(c.outputs[0]),
                        names.value(c.outputs[1]), names.value(c.outputs[2])));
        }
    }
    if (o.newAddress)
        tuning.NewAdrChanged(*o.newAddress);
    if (interrupted)
        return 1;
    if (o.journal) {
        journal = std::make_unique<TJournal>(TJournalOptions::FromSettings(&config));
        journal->SetMessageHandler([](const QString &message) {
            // One line each, apart from the run's own lines on the output.
            QString line = message;
            Print(stderr, QStringLiteral("kestctl tune: ") + line.replace(QLatin1Char('\n'), QLatin1Char(' ')));
        });
        journal->Open();
        recorder = std::make_unique<TTuningJournalRecorder>(journal.get(), &tuning);
    }
    tuning.StartClicked();
    if (!tuning.IsRunning())
        return 1;
    runUntil([&] { return view.outcome_.has_value(); });
    const TTuningOutcome outcome = *view.outcome_;
    if (journal)
        journal->Flush(); // a server journal's buffer goes now rather than at the next run
    if (interrupted)
        Print(stderr, QStringLiteral("Остановлено."));
    return outcome.end == TTuningEnd::Done && outcome.outputsOff && !interrupted ? 0 : 1;
}
