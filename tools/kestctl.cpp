// kestctl: the command-line companion of KestManager, over the same engine, command set and number texts.
// For service work and scripting: read the installation's status, drive its outputs, send raw frames.
#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config/configcontroller.h"
#include "journal/journal.h"
#include "kestctl_lab.h"
#include "kestctl_verify.h"
#include "protocol/kestcmdmanager.h"
#include "protocol/kestparametercontroller.h"
#include "protocol/numberformat.h"
#include "signalguard.h"
#include "syncexchange.h"
#include "transport/frametrace.h"

int RunTune(const std::vector<std::string> &args); // kestctl_tune.cpp

namespace {

const char *const kHelp = R"(kestctl — командная строка KestManager: установка KEST по Modbus RTU.

Использование:
  kestctl ports
  kestctl [--port PATH] [--rate BPS] [--timeout MS] [--trace FILE] COMMAND [OPTIONS]

Команды:
  ports                      последовательные порты системы и порты, объявленные kest-sim
  status                     одно чтение блока состояния: 33 величины, биты состояния, аналоговый вход
  monitor [--count N] [--interval S]
                             то же каждые S секунд (по умолчанию 2), N раз (по умолчанию без конца)
  info                       блок сведений о преобразователе (19 регистров, при отказе 15)
  set [--ua V] [--ia A] [--angle DEG] [--freq HZ] [--scheme 3|4] [--range A]
                             взять дистанционное управление с конфигурацией (схема, диапазон тока 1 или 5 А),
                             включить усилители и задать выходы, затем одно чтение состояния
  off                        выключить выходы и отдать управление
  raw HEXBYTES               дописать контрольные байты, отправить, напечатать ответ (например "77 03 03 E2 00 02")
  tune --port1 PATH --port2 PATH ...
                             автонастройка преобразователя QX4 (kestctl tune --help)

Параметры:
  --port PATH     порт установки (по умолчанию — из файла настроек программы, иначе /dev/ttyS0)
  --rate BPS      скорость: 1200 ... 115200 (по умолчанию из настроек, иначе 115200)
  --timeout MS    время ожидания ответа (по умолчанию 500)
  --trace FILE    записывать все кадры в FILE (то же, что KEST_TRACE=FILE)
  --help          эта справка

Ошибки печатаются в стандартный поток ошибок текстом программы; код выхода не ноль.
Коды выхода: 0 — успех, 1 — ошибка обмена или порта, 2 — неверная команда или параметр.
)";

struct Usage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void Print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

double NumberArg(const std::string &text, const std::string &option)
{
    double value = 0;
    if (!TryStrToFloat(std::string_view(text), value))
        throw Usage("неверное число для " + option + ": " + text);
    if (!std::isfinite(value))
        throw Usage("неверное число для " + option + ": " + text);
    return value;
}

std::vector<uint8_t> ParseHex(const std::string &text)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits.push_back(c);
        else if (c != ' ' && c != ':' && c != ',' && c != '\t')
            throw Usage("неверный байт в \"" + text + "\"");
    }
    if (digits.size() % 2 != 0 || digits.empty())
        throw Usage("нужно чётное число шестнадцатеричных цифр");
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    if (out.size() > TFrame::kCapacity - 2)
        throw Usage("кадр слишком длинный");
    return out;
}

QString Value(const TParameter &p)
{
    return p.isDataCorrect ? FloatToQStr(p.value) : QStringLiteral("нет данных");
}

void PrintStatus(const TParametersAndStatus &status)
{
    for (int i = 1; i <= TParameters::kCount; ++i) {
        const TParameter *p = status.Parameters->GetParameterByIndex(i);
        if (!p)
            continue;
        Print(QStringLiteral("%1 %2 %3 %4").arg(i, 2).arg(p->name, -12).arg(Value(*p), 14).arg(p->measure));
    }
    Print(QStringLiteral("Преобразователь: %1").arg(status.isDeviceDisconnected ? "не подключён" : "подключён"));
    Print(status.HasAmplifierError ? QStringLiteral("Усилители: авария усилителя %1").arg(status.AmplifierErrorNum)
                                   : QStringLiteral("Усилители: исправны"));
    Print(QStringLiteral("Аналоговый вход: %1 мА").arg(FloatToQStr(TModbusCommands::RoundTo3(status.AnalogOut))));
}

struct Options {
    std::string port;
    std::string rate;
    int timeout = 500;
    std::string trace;
    std::string command;
    std::vector<std::string> args;
};

Options ParseOptions(const QStringList &argv)
{
    Options o;
    for (int i = 1; i < argv.size(); ++i) {
        const std::string a = argv[i].toStdString();
        auto next = [&]() -> std::string {
            if (i + 1 >= argv.size())
                throw Usage("нет значения для " + a);
            return argv[++i].toStdString();
        };
        if (o.command.empty()) {
            if (a == "--port")
                o.port = next();
            else if (a == "--rate")
                o.rate = next();
            else if (a == "--timeout") {
                const double t = NumberArg(next(), a);
                if (t < 1 || t > 600000)
                    throw Usage("--timeout: от 1 до 600000 мс");
                o.timeout = static_cast<int>(t);
            } else if (a == "--trace")
                o.trace = next();
            else if (a.rfind("--", 0) == 0)
                throw Usage("неизвестный параметр " + a);
            else
                o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    return o;
}

// The installation's port and rate stored by the program, when its settings file exists. Nothing is
// created on disk just to look.
void StoredPort(Options &o)
{
    const QString docs = TConfigController::DocumentsFolder();
    const QString settings = docs + QStringLiteral("/Valtrix/KestManager/Settings.txt");
    if (!docs.isEmpty() && QFileInfo::exists(settings)) {
        TConfigController config;
        if (o.port.empty())
            o.port = config.ReadPort(QStringLiteral("Port1")).toStdString();
        if (o.rate.empty())
            o.rate = config.ReadRate(QStringLiteral("Port1")).toStdString();
    }
    if (o.port.empty())
        o.port = TSerialPort::kDefaultPort;
    if (o.rate.empty())
        o.rate = "115200";
}

class Session {
public:
    explicit Session(const Options &o) : port_(QString::fromStdString(o.port))
    {
        link_.Engine().SetResponseTimeOut(o.timeout);
        link_.Engine().SetPort(o.port);
        link_.Engine().SetRate(o.rate);
        try {
            link_.Engine().OpenPort();
        } catch (const EKestError &) {
            // The transport says only "Нет ответа"; the port itself tells why.
            std::string reason;
            try {
                TSerialPort probe;
                probe.SetPort(o.port);
                probe.Open();
            } catch (const std::exception &e) {
                reason = e.what();
            }
            throw EKestError(
                std::string(KestText::NoAnswer) + ": " + o.port + (reason.empty() ? "" : " (" + reason + ")"));
        }
    }
    TFramePtr Exchange(const TFramePtr &f) { return link_.Exchange(f); }
    TSwitchOffResult SwitchOff(std::vector<TSwitchOffFrame> frames)
    {
        // Every frame may take its re-sends: the time-out the user gave, four times, per frame.
        const int perFrame = (TComInterfaceWithCallback::kMaxResends + 1) * link_.Engine().ResponseTimeOut() + 500;
        return link_.SwitchOff(std::move(frames), perFrame * int(frames.size() + 1));
    }
    QString Port() const { return port_; }
    TKestCmdManager cmd;

private:
    QString port_;
    TSyncLink link_;
};

int Status(Session &s)
{
    const TFramePtr answer = s.Exchange(s.cmd.CreateCmdReadDeviceStatusAndAllParameters());
    PrintStatus(*s.cmd.ParseParameters_ConfigurationQX4(*answer));
    return 0;
}

int Monitor(Session &s, const std::vector<std::string> &args)
{
    long count = -1;
    double interval = 2.0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            throw Usage("нет значения для " + args[i]);
        if (args[i] == "--count")
            count = static_cast<long>(NumberArg(args[++i], "--count"));
        else if (args[i] == "--interval")
            interval = NumberArg(args[++i], "--interval");
        else
            throw Usage("неизвестный параметр " + args[i]);
    }
    if (interval < 0.05)
        throw Usage("--interval: не меньше 0,05 с");
    for (long n = 0; count < 0 || n < count; ++n) {
        if (n > 0) {
            Print(QString());
            TKestParameterController::WaitBeforeGettingOutput(static_cast<int>(interval * 1000));
        }
        Status(s);
    }
    return 0;
}

int Info(Session &s)
{
    TFramePtr answer;
    try {
        answer = s.Exchange(s.cmd.CreateCmdReadDeviceInfo());
    } catch (const EKestError &) {
        // Older installations keep a shorter block.
        s.cmd.SetOldDevInfoLength();
        answer = s.Exchange(s.cmd.CreateCmdReadDeviceInfo());
    }
    const TDeviceInfo info = *s.cmd.ParseDeviceInfo(*answer);
    Print(QStringLiteral("Регистров: %1").arg(s.cmd.deviceInfoLengthInWords));
    Print(QStringLiteral("Тип: %1").arg(info.deviceType));
    Print(QStringLiteral("Исполнение: %1").arg(info.deviceSet));
    Print(QStringLiteral("U1: %1  U2: %2").arg(FloatToQStr(info.transfCoefs.U1), FloatToQStr(info.transfCoefs.U2)));
    Print(QStringLiteral("I1: %1  I2: %2").arg(FloatToQStr(info.transfCoefs.I1), FloatToQStr(info.transfCoefs.I2)));
    Print(QStringLiteral("Схема: %1").arg(info.scheme));
    Print(QStringLiteral("Диапазон аналоговых выходов: %1").arg(info.analogOutputRange));
    Print(QStringLiteral("Аналоговые выходы: %1 %2 %3")
              .arg(info.AnalogOut.OutArray[0])
              .arg(info.AnalogOut.OutArray[1])
              .arg(info.AnalogOut.OutArray[2]));
    if (s.cmd.deviceInfoLengthInWords >= TKestCmdManager::kDeviceInfoLength) {
        const TDeviceInfo other = *s.cmd.ParseDeviceInfoNotQx4(*answer);
        Print(QStringLiteral("Масштаб: %1  Разрядов: %2  Код единицы: %3")
                  .arg(FloatToQStr(other.Scale))
                  .arg(other.IntegerDigitCount)
                  .arg(other.UnitCode));
    }
    return 0;
}

int Set(Session &s, const std::vector<std::string> &args)
{
    std::optional<double> ua, ia, angle, freq;
    TKestConfiguration conf;
    conf.ConfigurationName = QStringLiteral("QX4");
    conf.SchemeFlag = true;
    conf.AmperageMax = 5.0;
    conf.AmperageRangeNum = 1;
    conf.AnalogInputNum = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            throw Usage("нет значения для " + args[i]);
        const std::string &name = args[i];
        const double v = NumberArg(args[++i], name);
        if (name == "--ua")
            ua = v;
        else if (name == "--ia")
            ia = v;
        else if (name == "--angle")
            angle = v;
        else if (name == "--freq")
            freq = v;
        else if (name == "--scheme") {
            if (v != 3 && v != 4)
                throw Usage("--scheme: 3 или 4");
            conf.SchemeFlag = v == 4;
        } else if (name == "--range") {
            if (v != 1 && v != 5)
                throw Usage("--range: 1 или 5");
            conf.AmperageMax = v;
            conf.AmperageRangeNum = v > 1 ? 1 : 0;
        } else {
            throw Usage("неизвестный параметр " + name);
        }
    }
    TKestInputParamCmdController controller(&conf, &s.cmd);
    std::vector<TFramePtr> frames{s.cmd.CreateCmdEnableDistantControl(conf)};
    if (ua) {
        frames.push_back(controller.CreateCmdSendToggleAccordingToConfiguration_U(true));
        frames.push_back(controller.CreateCmdSendVoltageAccordingToConfiguration(*ua, *ua, *ua));
    }
    if (ia) {
        frames.push_back(controller.CreateCmdSendToggleAccordingToConfiguration_Ia(true));
        frames.push_back(controller.CreateCmdSendToggleAccordingToConfiguration_Ib(true));
        frames.push_back(controller.CreateCmdSendToggleAccordingToConfiguration_Ic(true));
        TToggleStates toggles;
        frames.push_back(controller.CreateCmdSendAmperageAccordingToConfiguration(*ia, *ia, *ia, true, toggles));
    }
    if (angle)
        frames.push_back(controller.CreateCmdSendAngleAccordingToConfiguration(*angle));
    if (freq)
        frames.push_back(controller.CreateCmdSendFrequencyAccordingToConfiguration(*freq));
    // From here on the outputs may be on: "kestctl off" (or any window taking the port) owes them off.
    TOutputsLedger::MarkOn(s.Port());
    for (const TFramePtr &f : frames)
        s.Exchange(f);
    // The outputs settle before the reference meter shows them.
    TKestParameterController::WaitBeforeGettingOutput(300);
    return Status(s);
}

int Off(Session &s)
{
    const TSwitchOffResult r = s.SwitchOff(TSwitchOffSequence::Disconnect(s.cmd));
    if (!r.confirmed)
        throw EKestError(("Выходы установки не удалось выключить: " + r.Text()).toStdString());
    TOutputsLedger::MarkOff(s.Port());
    Print(QStringLiteral("Выходы выключены, управление отдано."));
    return 0;
}

int Raw(Session &s, const std::vector<std::string> &args)
{
    std::string text;
    for (const std::string &a : args)
        text += a + " ";
    const std::vector<uint8_t> body = ParseHex(text);
    TFramePtr frame = MakeFrame();
    std::copy(body.begin(), body.end(), frame->data.begin());
    TModbusCommands::CloseFrame(*frame, static_cast<int>(body.size()));
    const TFramePtr answer = s.Exchange(frame);
    Print(QString::fromStdString(answer->ToHex()));
    return 0;
}

int Run(const QStringList &argv)
{
    if (argv.size() >= 2 && argv[1] == QStringLiteral("tune")) {
        std::vector<std::string> rest;
        for (int i = 2; i < argv.size(); ++i)
            rest.push_back(argv[i].toStdString());
        return RunTune(rest);
    }
    if (argv.size() < 2 || argv.contains("--help") || argv.contains("-h")) {
        std::fputs(kHelp, stdout);
        std::fputs(kKestctlVerifyHelp, stdout);
        std::fputs(kKestctlLabHelp, stdout);
        std::fputs(kKestctlArshinHelp, stdout);
        return argv.size() < 2 ? 2 : 0;
    }
    if (argv[1] == QStringLiteral("standards") || argv[1] == QStringLiteral("types")
        || argv[1] == QStringLiteral("arshin-export") || argv[1] == QStringLiteral("arshin-status")) {
        KestctlSignals::Release();
        // The registers live in the results journal, shared by the benches of a server journal.
        TConfigController store;
        TJournal journal(TJournalOptions::FromSettings(&store));
        QTextStream out(stdout), err(stderr);
        journal.SetMessageHandler([&err](const QString &text) { err << QStringLiteral("Журнал: ") << text << '\n'; });
        journal.Open();
        const int code = argv[1].startsWith(QStringLiteral("arshin-"))
            ? KestctlArshin(argv.mid(1), journal, store, out, err)
            : KestctlLab(argv.mid(1), journal.Registry(), out, err);
        journal.FlushBeforeExit(5000);
        out.flush();
        err.flush();
        return code;
    }
    Options o = ParseOptions(argv);
    // Only verify and tune stop their run on a signal; the rest end as any command-line tool does.
    if (o.command != "verify")
        KestctlSignals::Release();
    if (o.command.empty())
        throw Usage("нет команды");
    if (!o.trace.empty() && !TFrameTrace::Instance().Open(o.trace))
        throw Usage("не удалось открыть файл трассировки " + o.trace);
    if (o.command == "ports") {
        QStringList ports;
        TSerialPort::EnumComPorts(ports);
        for (const QString &p : ports)
            Print(p);
        return 0;
    }
    if (o.command == "verify")
        return KestctlVerify(argv);
    static const QStringList known{"status", "monitor", "info", "set", "off", "raw"};
    if (!known.contains(QString::fromStdString(o.command)))
        throw Usage("неизвестная команда " + o.command);
    if (o.command == "raw" && o.args.empty())
        throw Usage("raw: нужны байты кадра");
    StoredPort(o);
    Session s(o);
    if (o.command == "status")
        return Status(s);
    if (o.command == "monitor")
        return Monitor(s, o.args);
    if (o.command == "info")
        return Info(s);
    if (o.command == "set")
        return Set(s, o.args);
    if (o.command == "off")
        return Off(s);
    return Raw(s, o.args);
}

} // namespace

int main(int argc, char **argv)
{
    KestctlSignals::Install();
    QCoreApplication app(argc, argv);
    // The ledger of outputs left on is the program's own, beside its settings file.
    if (const QString docs = TConfigController::DocumentsFolder(); !docs.isEmpty())
        TOutputsLedger::SetFolder(docs + QStringLiteral("/Valtrix/KestManager"));
    try {
        return Run(app.arguments());
    } catch (const Usage &e) {
        std::fprintf(stderr, "kestctl: %s\nСправка: kestctl --help\n", e.what());
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
