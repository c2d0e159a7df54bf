// The tuning procedure end to end against kest-sim (the installation and the transducer's own port),
// with the settling times shortened: results, frames, log lines, waits, failure paths and "Стоп".
#include "tuningtestutil.h"

#include "modbusslave.h"

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

using namespace tuningtest;

namespace {

// The frames of a run, stage by stage: configuration, transducer prepared, nominal output, coefficient
// rounds, 90°, the three phases, then the analog outputs or the interface settings, save, outputs off.
QString FramePattern(bool analog, bool rs2)
{
    QString p = QStringLiteral("^K:cfg D:noise D:ext1 D:coefW K:U K:F K:ang K:I (K:read (D:ref ){9}D:refF D:par )+"
                               "K:ang K:read (D:Pa (D:sh )+)+(D:Pb (D:sh )+)+(D:Pc (D:sh )+)+");
    if (analog) {
        // Each decision of the analog stage averages the analog input over kAnalogReadings reads.
        const QString read = QStringLiteral("(K:read ){%1}").arg(TAutoTuning::kAnalogReadings);
        const QString output = QStringLiteral("K:ain (R(D:ash )+)*R(D:ash )?D:mode1 R(D:aref\\d R)*D:mode2 ")
                                   .replace(QLatin1Char('R'), read);
        p += QStringLiteral("D:aouts D:atype D:mode2 (") + output
            + QStringLiteral("){3}D:aouts D:noise D:save D:mode0 ");
    } else {
        p += QStringLiteral("D:rs1 ") + (rs2 ? QStringLiteral("D:rs2 D:rs2cfg ") : QString())
            + QStringLiteral("D:scheme D:adr D:noise D:save ");
    }
    return p + QStringLiteral("K:U K:F K:ang K:I K:6@0 $");
}

QString LogPattern(bool analog)
{
    QString p = QStringLiteral("^") + L(u"Установка конфигурации KEST...")
        + L(u"Обнуление шумов. Запись коэффициентов трансформации в QX4...")
        + L(u"Запись номинальных параметров в KEST...") + QStringLiteral("(") + L(u"Чтение параметров с KEST...")
        + L(u"Установки настроечных параметров QX4...") + L(u"Чтение параметров с QX4...")
        + L(u"Параметры прочитаны с QX4. Вычисление погрешностей...") + QStringLiteral(")+")
        + L(u"Погрешности по коэффициентам в порядке.");
    for (const char16_t *phase :
        {u"Настройка угла по фазе \u0410...", u"Настройка угла по фазе \u0412...", u"Настройка угла по фазе \u0421..."})
        p += QStringLiteral("(") + L(phase) + kErrorLine + kShiftLine + QStringLiteral(")+");
    if (analog) {
        p += L(u"Углы настроены");
        for (const QString n : {"1", "2", "3"}) {
            const QString middle = QStringLiteral("Настройка аналогового выхода ") + n
                + QStringLiteral(" на среднем пределе\\.\\.\\.\\n");
            const QString top = QStringLiteral("Настройка аналогового выхода ") + n
                + QStringLiteral(" на верхнем пределе\\.\\.\\.\\n");
            p += QStringLiteral("(") + L(u"Чтение параметров с KEST...") + QStringLiteral(")?(") + middle + kErrorLine
                + QStringLiteral("(") + kShiftLine + L(u"Чтение параметров с KEST...") + QStringLiteral(")?)+(")
                + kShiftLine + QStringLiteral(")?") + L(u"Чтение параметров с KEST...") + QStringLiteral("(") + top
                + kErrorLine + QStringLiteral("(") + L(u"Чтение параметров с KEST...") + QStringLiteral(")?)+");
        }
        p += L(u"Аналоговые выходы настроены. Сохранение изменений...");
    } else {
        p += L(u"Углы настроены. Сохранение изменений...");
    }
    return p + L(u"Готово.") + QStringLiteral("$");
}

// The installation's block writes as the simulator took them (from the `from`-th request on): the first
// register and the words, decoded as the simulator decodes them.
struct TBlockWrite {
    int reg;
    std::vector<uint16_t> words;
    float Float(size_t k) const { return kestsim::WordsToFloat(words.at(2 * k), words.at(2 * k + 1)); }
};

std::vector<TBlockWrite> InstallationWrites(kestsim::KestSimulator &sim, size_t from)
{
    std::vector<TBlockWrite> out;
    size_t n = 0;
    for (const std::string &line : sim.Log()) {
        if (line.find(" rx ") == std::string::npos || n++ < from || line.find(" installation rx ") == std::string::npos)
            continue;
        std::istringstream hex(line.substr(line.find(" rx ") + 4));
        std::vector<int> b;
        for (std::string byte; hex >> byte;)
            b.push_back(std::stoi(byte, nullptr, 16));
        if (b.size() < 9 || b[1] != 0x10)
            continue;
        TBlockWrite w{b[2] * 256 + b[3], {}};
        for (size_t i = 7; i + 1 < b.size() - 2 && w.words.size() < size_t(b[4] * 256 + b[5]); i += 2)
            w.words.push_back(uint16_t(b[i] * 256 + b[i + 1]));
        out.push_back(w);
    }
    return out;
}

// A field of kest-sim's "state" as text, and a list of numbers ("1,0,1") as numbers.
std::string StateField(const std::string &state, const std::string &name)
{
    std::istringstream in(state);
    for (std::string w; in >> w;)
        if (w.rfind(name + "=", 0) == 0)
            return w.substr(name.size() + 1);
    return {};
}

std::vector<double> Numbers(const std::string &list)
{
    std::vector<double> out;
    std::istringstream in(list);
    for (std::string v; std::getline(in, v, ',');)
        out.push_back(std::stod(v));
    return out;
}

} // namespace

// A mis-calibrated QX4 is tuned to "Готово." without and with its analog outputs: afterwards its readings
// agree with the reference, P at 90° is within tolerance on every phase, each analog output is exact at
// the middle point; the frames and the log lines come in the procedure's order, each settling wait is
// asked for with its prescribed time, the tone sounds, and the installation is left with zero output.
TEST_F(TuningTest, MisCalibratedTransducerIsTuned)
{
    for (const bool analog : {false, true}) {
        SCOPED_TRACE(analog ? "with analog outputs" : "without analog outputs");
        for (const char *c : {"error Ua 0.8", "error Ib -0.5", "error Uab 0.4", "error F 0.05", "phase-error A 0.3",
                 "phase-error B 1.5", "phase-error C -0.8", "reference-response 0.7", "analog-error 1 0.0375 0",
                 "analog-error 2 0.04 0.057", "analog-error 3 -0.6 -0.0234"})
            Sim(c);
        const size_t from = RequestCount(*sim);
        waits.clear();
        beeps.clear();
        rec.outcome.reset();
        tuning->AnalogToggled(analog);
        tuning->Rs2Toggled(!analog);
        tuning->Rs1Chosen(5);
        tuning->NewAdrChanged(analog ? 1 : 9);
        tuning->StartClicked();
        ASSERT_TRUE(rec.running);
        ASSERT_TRUE(RunToEnd()) << JoinedLog().toStdString();
        EXPECT_EQ(rec.outcome->end, TTuningEnd::Done) << JoinedLog().toStdString();
        EXPECT_TRUE(rec.outcome->outputsOff);
        EXPECT_FALSE(rec.running);
        EXPECT_TRUE(rec.errors.isEmpty()) << rec.errors.join('|').toStdString();
        EXPECT_TRUE(OutputsZero(*sim));
        EXPECT_EQ(beeps, std::vector<int>{1000 * 10000 + 1000});
        const QString frames = QString::fromStdString(Requests(*sim, from));
        EXPECT_TRUE(QRegularExpression(FramePattern(analog, !analog)).match(frames).hasMatch()) << frames.toStdString();
        EXPECT_TRUE(QRegularExpression(LogPattern(analog)).match(JoinedLog()).hasMatch()) << JoinedLog().toStdString();
        // The first run needs two coefficient rounds: as found off by 30 % of the error, as left within
        // tolerance. The second starts from that calibration.
        ASSERT_EQ(rec.asFound.size(), size_t(analog ? 2 : 1));
        EXPECT_NEAR(rec.asFound.back().Ua.value, analog ? 57.735 : 57.735 * 1.0024, 0.02);
        EXPECT_NEAR(rec.asLeft.back().Ua.value, 57.735, 0.08);

        const auto memory = Fields(sim->Command("memory"));
        if (analog) {
            // 0,003 mA at the top is accepted (output 1), 0,0032 mA is not (output 2).
            EXPECT_EQ(frames.count("D:aref1 "), 0);
            EXPECT_EQ(frames.count("D:aref2 "), 1);
            const std::map<QString, int> prescribed{{TuningWait::NominalOutput, 5000}, {TuningWait::References, 5000},
                {TuningWait::Angle90, 5000}, {TuningWait::AngleShift, 5000}, {TuningWait::AnalogShift, 5000},
                {TuningWait::AnalogInput, 2000}, {TuningWait::AnalogReference, 2000}, {TuningWait::AnalogTop, 2000}};
            std::map<QString, int> seen;
            for (const auto &[ms, purpose] : waits) {
                ASSERT_TRUE(prescribed.count(purpose)) << purpose.toStdString();
                EXPECT_EQ(ms, prescribed.at(purpose)) << purpose.toStdString();
                ++seen[purpose];
            }
            EXPECT_EQ(seen.size(), prescribed.size());
            EXPECT_EQ(seen[TuningWait::AnalogInput], 3);
            EXPECT_EQ(seen[TuningWait::NominalOutput], 1);
            EXPECT_EQ(seen[TuningWait::Angle90], 1);
            // Each output exact at the middle point, and at the top within the accepted difference.
            TSyncLink device;
            device.Engine().SetPort(sim->DevicePath());
            device.Engine().OpenPort();
            TQx4CmdManager d(1);
            device.Exchange(d.CreateCmdSetAnalogModeAdjustingMiddle());
            for (const auto &[name, value] : Fields(sim->Command("analog"))) {
                if (name != "measured") {
                    EXPECT_NEAR(value, 12, 0.0031) << name;
                }
            }
            device.Exchange(d.CreateCmdSetAnalogModeAdjustingHigh());
            for (const auto &[name, value] : Fields(sim->Command("analog"))) {
                if (name != "measured") {
                    EXPECT_NEAR(value, 20, 0.0031 + 0.0005) << name;
                }
            }
            device.Exchange(d.CreateCmdSetAnalogModeWorking());
        } else {
            // Interface settings: RS 1 38400, RS 2 written, scheme 4-wire, the new address stored.
            EXPECT_EQ(memory.at("rs1"), 5);
            EXPECT_EQ(memory.at("address"), 9);
            EXPECT_EQ(rec.shown.netAdr, 9);
            EXPECT_EQ(TGlobalConfig(config.get()).ReadDeviceNetAdr(), "9");
            EXPECT_EQ(memory.at("noise-zeroing"), 0);
        }
        const std::map<int, double> at0 = ErrorsAfterRun(*sim, 0);
        for (int k : {1, 2, 3, 4, 5, 6, 7, 8, 9, 26})
            EXPECT_LT(std::fabs(at0.at(k)), 0.2) << "quantity " << k;
        const std::map<int, double> at90 = ErrorsAfterRun(*sim, 90);
        for (int k : {10, 11, 12})
            EXPECT_LT(std::fabs(at90.at(k)), 0.2) << "quantity " << k;
        if (!analog) {
            // The next run finds the transducer at its new address again.
            Sim("address 1");
            tuning->NetAdrChanged(1);
        }
    }
}

// A transducer already in tolerance is read back once after one round of references; the angle step
// of the first correction is ten, the next ones are estimated; readings of exactly 0 (noise zeroing)
// still leave every phase within tolerance.
TEST_F(TuningTest, InToleranceTransducerGoesStraightToTheAngles)
{
    Sim("phase-error A 1.8337"); // +3,2 % of P's full scale at 90°
    tuning->StartClicked();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(rec.outcome->end, TTuningEnd::Done);
    const std::string frames = Requests(*sim);
    EXPECT_NE(
        frames.find("K:read D:ref D:ref D:ref D:ref D:ref D:ref D:ref D:ref D:ref D:refF D:par K:ang K:read D:Pa "),
        std::string::npos)
        << frames;
    EXPECT_EQ(QString::fromStdString(frames).count("D:par "), 1);
    const int a = static_cast<int>(rec.log.indexOf(QString::fromUtf16(u"Настройка угла по фазе \u0410...")));
    ASSERT_GE(a, 0);
    EXPECT_EQ(rec.log.mid(a + 1, 5),
        QStringList({"Текущая погрешность: 3,200", "Сдвиг на 10 вниз", "Настройка угла по фазе \u0410...",
            "Текущая погрешность: 0,200", "Сдвиг на 1"}));
    const std::map<int, double> at90 = ErrorsAfterRun(*sim, 90);
    for (int k : {10, 11, 12})
        EXPECT_LT(std::fabs(at90.at(k)), 0.2) << "quantity " << k;
}

// The step estimate of the later corrections, and its two mended edges.
TEST(TuningSteps, EstimateFromTheLastTwoErrors)
{
    struct Row {
        double error, previous;
        int count, steps;
        double floor = 0; // per step, from the first shift
    } rows[] = {
        {0.4, 3.2, 10, 1}, // 0,4 / (2,8 / 10) = 1,43
        {-3.0, 0.0, 10, 10}, // overshoot by the first ten steps
        {0.05, 0.45, 1, 1}, // less than a step left: still one
        {0.5, 0.5, 1, 1}, // equal errors: one step, not a division by zero
        {2.0, 2.0000001, 1, TAutoTuning::kMaxSteps}, // almost equal: bounded
        {-0.043f, 0.057f, 100, 43}, // the errors as the procedure keeps them (32-bit)
        // A step that hardly acted (dead band, noise) is taken to do half of what the first shift's
        // steps did: one step for 0,2 %, not 200.
        {0.2, 0.201, 1, 1, 0.122},
        {-1.5, -1.5, 1, 12, 0.122}, // equal errors, but the first shift told what a step does
        {0.4, 3.2, 10, 1, 0.122}, // a step that acted as expected is not floored
    };
    for (const Row &r : rows)
        EXPECT_EQ(TAutoTuning::EstimateSteps(r.error, r.previous, r.count, r.floor), r.steps)
            << r.error << " " << r.previous;
    EXPECT_EQ(TAutoTuning::FormatError(3.2), "3,200");
    EXPECT_EQ(TAutoTuning::FormatError(-0.0004), "0,000");
    EXPECT_EQ(TAutoTuning::FormatError(-1.2346), "-1,235");
}

// Every way a run can fail ends the same way: the message or log line, the reason kept with the run,
// nothing more sent for the procedure, "Настроить" enabled again, and the installation's outputs at
// zero (confirmed). A refused start sends the transducer nothing at all.
TEST_F(TuningTest, FailurePathsEndWithTheOutputsOff)
{
    const QString refused = QStringLiteral("Установка не приняла дистанционное управление, настройка не начата: ");
    struct Row {
        const char *name;
        std::vector<std::string> setup;
        bool analog;
        QString trigger; // the moment this log line is logged, the `later` commands are given
        std::vector<std::string> later;
        QString line; // the log line, or the message box text, that reports it
        bool outputsOff;
        int readbacks = -1; // transducer readbacks before the end, when it matters
        const char *frames = nullptr; // every request of the run, when it matters
    } rows[] = {
        {"coefficients never converge", {"reference-response 0", "error Ua 0.8"}, false, {}, {},
            "Ошибка при настройке погрешностей по коэффициентам", true, 10},
        {"angle error above 10 %", {"phase-error B 6.5"}, false, {}, {}, "Настройка невозможна на фазе B ", true},
        {"analog output stuck at its limit", {"analog-error 2 0 30"}, true, {}, {},
            "Настройка невозможна на аналоговом выходе 2", true},
        {"transducer silent", {"fault device:noanswer@0x24"}, false, {}, {}, "Нет ответа", true},
        {"installation silent for a while", {"fault noanswer@994#4"}, false, {}, {}, "Нет ответа", true},
        {"remote control answered with something else", {"fault wrongecho@0#1"}, false, {}, {},
            "Установка не подтвердила дистанционное управление: вместо подтверждения пришло «77 10 00 00 00 06 4B 5D»",
            true, 0, "K:cfg K:U K:F K:ang K:I K:6@0 "},
        {"remote control refused, re-sends and all", {"fault exception:4@0#4"}, false, {}, {},
            refused
                + "Невосстанавливаемая ошибка имела место, пока устройство пыталось выполнить затребованное действие.",
            true, 0, "K:cfg K:cfg K:cfg K:cfg K:U K:F K:ang K:I K:6@0 "},
        {"remote control kept off by the installation", {"fault remoteoff#1"}, false, {}, {},
            refused + "на установке дистанционное управление выключено (ответ «77 06 00 00 00 00 82 9C»)", true, 0,
            "K:cfg K:U K:F K:ang K:I K:6@0 "},
        {"installation silent for good", {}, false, "Чтение параметров с QX4...", {"fault noanswer"},
            "Выключение выходов KEST не подтверждено: «напряжение 0»: Нет ответа", false},
        // The transducer's adapter gone (its line hung up, back later under another name) just before
        // its port is opened again at the new speed for the final writes.
        {"transducer's port gone before the final writes", {}, false, "Углы настроены. Сохранение изменений...",
            {"hangup device 300"}, "Порт не найден", true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Sim("clear-faults");
        for (const std::string &c : r.setup)
            Sim(c);
        tuning->KestInterface()->SetResponseTimeOut(400);
        tuning->DeviceInterface()->SetResponseTimeOut(400);
        rec.outcome.reset();
        rec.errors.clear();
        bool triggered = false;
        rec.onLog = [&](const QString &line) {
            if (triggered || r.trigger.isEmpty() || line != r.trigger)
                return;
            triggered = true;
            for (const std::string &c : r.later)
                Sim(c);
        };
        const size_t from = RequestCount(*sim);
        tuning->AnalogToggled(r.analog);
        tuning->StartClicked();
        ASSERT_TRUE(RunToEnd());
        rec.onLog = nullptr;
        EXPECT_EQ(triggered, !r.trigger.isEmpty());
        EXPECT_EQ(rec.outcome->end, TTuningEnd::Failed);
        EXPECT_FALSE(rec.outcome->reason.isEmpty()); // what the journal keeps of why
        EXPECT_EQ(rec.outcome->outputsOff, r.outputsOff);
        EXPECT_TRUE(LogHas(r.line) || rec.errors.contains(r.line))
            << JoinedLog().toStdString() << rec.errors.join('|').toStdString();
        EXPECT_LE(rec.errors.size(), 1) << rec.errors.join('|').toStdString(); // one message, not a cascade
        EXPECT_FALSE(rec.running);
        // Nothing for the procedure after its end; the last frames are the zero output.
        const size_t end = RequestCount(*sim);
        PumpFor(300);
        EXPECT_EQ(RequestCount(*sim), end);
        const std::string frames = Requests(*sim, from);
        const std::string tail = r.outputsOff ? "K:U K:F K:ang K:I K:6@0 " : "K:U K:U K:U K:U ";
        EXPECT_TRUE(EndsWithZeroOutput(frames, tail)) << frames;
        if (r.readbacks >= 0) {
            EXPECT_EQ(QString::fromStdString(frames).count("D:par "), r.readbacks);
        }
        if (r.frames) {
            EXPECT_EQ(frames, r.frames);
        }
        if (r.outputsOff) {
            EXPECT_TRUE(OutputsZero(*sim));
        }
        Sim("clear-faults");
        for (const char *c : {"reference-response 1", "error Ua 0", "phase-error B 0", "analog-error 2 0 0"})
            Sim(c);
        // A line hung up comes back under another name, which the settings then give.
        ASSERT_TRUE(
            PumpUntil([&] { return sim->Command("state").find("device-line=down") == std::string::npos; }, 10000));
        config->WritePort("Port2", QString::fromStdString(sim->DevicePath()));
    }
}

// "Стоп" in any stage: every later answer is ignored, "Настроить" comes back once the zero output is
// confirmed, and the same window can be started again.
TEST_F(TuningTest, StopInEachStage)
{
    Sim("phase-error B 1.5");
    Sim("analog-error 2 0.5 0.04");
    const QString triggers[] = {
        "Установка конфигурации KEST...",
        "Обнуление шумов. Запись коэффициентов трансформации в QX4...",
        "Запись номинальных параметров в KEST...",
        "Чтение параметров с QX4...",
        "Погрешности по коэффициентам в порядке.", // the settling time at 90°
        QString::fromUtf16(u"Настройка угла по фазе \u0412..."),
        "Настройка аналогового выхода 2 на среднем пределе...",
        "Настройка аналогового выхода 2 на верхнем пределе...",
    };
    tuning->AnalogToggled(true);
    for (const QString &trigger : triggers) {
        SCOPED_TRACE(trigger.toStdString());
        rec.outcome.reset();
        tuning->StartClicked();
        ASSERT_TRUE(rec.running);
        ASSERT_TRUE(PumpUntil([&] { return LogHas(trigger); }, 60000));
        tuning->StopClicked();
        EXPECT_TRUE(tuning->IsStopped());
        ASSERT_TRUE(RunToEnd(30000));
        EXPECT_EQ(rec.outcome->end, TTuningEnd::Stopped);
        EXPECT_TRUE(rec.outcome->outputsOff);
        EXPECT_FALSE(rec.running);
        EXPECT_TRUE(OutputsZero(*sim));
        const int lines = static_cast<int>(rec.log.size());
        const size_t end = RequestCount(*sim);
        PumpFor(200);
        EXPECT_EQ(RequestCount(*sim), end);
        EXPECT_EQ(rec.log.size(), lines);
        EXPECT_FALSE(tuning->DeviceInterface()->IsOpen());
        EXPECT_FALSE(tuning->KestInterface()->IsOpen());
        const std::string frames = Requests(*sim);
        EXPECT_TRUE(EndsWithZeroOutput(frames)) << frames;
    }
    EXPECT_TRUE(rec.errors.isEmpty()) << rec.errors.join('|').toStdString();

    // "Стоп" while the installation's read is on the line and will fail, re-sends and all: the switch-off
    // waits for that end, then goes; the outputs are off and remote control released.
    auto reads = [&] { return QString::fromStdString(Requests(*sim)).count("K:read"); };
    tuning->KestInterface()->SetResponseTimeOut(300);
    rec.outcome.reset();
    tuning->StartClicked();
    ASSERT_TRUE(PumpUntil([&] { return LogHas("Запись номинальных параметров в KEST..."); }, 60000));
    const int before = reads();
    Sim("fault noanswer@994#4");
    ASSERT_TRUE(PumpUntil([&] { return reads() > before; }, 60000));
    ASSERT_TRUE(tuning->KestInterface()->IsWaiting());
    tuning->StopClicked();
    ASSERT_TRUE(RunToEnd(30000));
    EXPECT_EQ(rec.outcome->end, TTuningEnd::Stopped);
    EXPECT_TRUE(rec.outcome->outputsOff);
    EXPECT_TRUE(OutputsZero(*sim));
    EXPECT_EQ(Fields(sim->Command("state")).at("remote"), 0);
    const std::string frames = Requests(*sim);
    EXPECT_TRUE(EndsWithZeroOutput(frames)) << frames;
}

// "Найти" fills both address spins; "Прочитать параметры" reads the seven settings in order and shows
// them (also after a run has ended); the coefficients read set the nominal choices; with no transducer
// on the line the search ends in "Нет ответа".
TEST_F(TuningTest, FindAndReadSettings)
{
    Sim("address 7");
    tuning->FindClicked();
    ASSERT_TRUE(PumpUntil([&] { return !tuning->IsSearching(); }, 10000));
    EXPECT_EQ(rec.shown.netAdr, 7);
    EXPECT_EQ(rec.shown.newAdr, 7);
    EXPECT_FALSE(tuning->DeviceInterface()->IsOpen());

    tuning->StartClicked(); // a run stopped at once: reading must still work after it
    tuning->StopClicked();
    ASSERT_TRUE(RunToEnd(30000));
    struct Row {
        const char *coefs;
        int voltage, current;
        const char *label;
    } rows[] = {
        {"coefs 6000 100 300 1", 0, 1, "KU = 6000/100       KI = 300/1"},
        {"coefs 35000 220 150 0.3", 1, 0, "KU = 35000/220       KI = 150/0,3"},
        {"coefs 35000 450 150 7", 1, 0, "KU = 35000/450       KI = 150/7"}, // above the largest: unchanged
    };
    TSyncLink device;
    device.Engine().SetPort(sim->DevicePath());
    device.Engine().OpenPort();
    TQx4CmdManager d(7);
    for (const TFramePtr &f : {d.CreateCmdWriteScheme(0), d.CreateCmdWriteRsRate1(6), d.CreateCmdWriteRsRate2(2),
             d.CreateCmdWriteRsConfig2(1), d.CreateCmdWriteAnalogOuts(9, 10, 25), d.CreateCmdSetAnalogType5()})
        device.Exchange(f);
    device.Engine().ClosePort();
    for (const Row &r : rows) {
        SCOPED_TRACE(r.coefs);
        Sim(r.coefs);
        const size_t from = RequestCount(*sim);
        tuning->ReadSettingsClicked();
        ASSERT_TRUE(PumpUntil(
            [&] { return RequestCount(*sim) >= from + 8 && !tuning->DeviceInterface()->IsWaiting(); }, 10000));
        EXPECT_EQ(Requests(*sim, from), "D:find D:rscheme D:coefR D:rrs1 D:rrs2 D:rrs2cfg D:raouts D:ratype ");
        EXPECT_EQ(rec.label, r.label);
        EXPECT_EQ(rec.shown.voltageIndex, r.voltage);
        EXPECT_EQ(rec.shown.currentIndex, r.current);
        EXPECT_EQ(rec.shown.schemeIndex, 0);
        EXPECT_EQ(rec.shown.rs1Index, 6);
        EXPECT_EQ(rec.shown.rs2Index, 2);
        EXPECT_EQ(rec.shown.rs2ConfigIndex, 1);
        EXPECT_EQ(rec.shown.outputs, (std::array<int, 3>{9, 10, 25}));
        EXPECT_EQ(rec.shown.analogTypeIndex, 0);
        tuning->CloseDevicePort();
    }
    // Not written to the settings.
    EXPECT_EQ(TDeviceSettingsConfig(config.get()).ReadKU1(), "100");

    Sim("unplug");
    tuning->DeviceInterface()->SetResponseTimeOut(200);
    const TScopedWaitScale realTime(1); // the search's own limit is left unshortened: the link ends it
    tuning->FindClicked();
    ASSERT_TRUE(PumpUntil([&] { return !rec.errors.isEmpty(); }, 10000));
    EXPECT_EQ(rec.errors, QStringList{"Нет ответа"});
    EXPECT_FALSE(tuning->DeviceInterface()->IsOpen());
}

// The installation is configured for the nominal output the run sends (the transducer's secondary
// values), whatever was chosen before: its current range carries every current set-point and its
// voltage flag the voltage, the choices shown are the values sent and stay so during the run; a
// secondary value that no range carries is refused before anything is sent.
TEST_F(TuningTest, InstallationRangesFollowTheNominalOutput)
{
    struct Row {
        const char *name;
        int currentChoice, voltageChoice; // before "Настроить"
        const char *ku2, *ki2;
        double current, lineVoltage; // the nominal output; 0: refused
    } rows[] = {
        {"5 A transducer started on 0,5A", 0, 1, "100", "5", 5, 100},
        {"1 A transducer started on 5A, 220 V", 3, 0, "220", "1", 1, 380},
        {"0,3 A transducer started on 2,5A, 400 V", 2, 2, "100", "0,3", 0.5, 100},
        {"secondary current above 5 A", 0, 1, "100", "7", 0, 0},
        {"secondary voltage above 400 V", 3, 1, "450", "5", 0, 0},
        {"secondary current unset", 3, 1, "100", "0", 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TDeviceSettingsConfig coefs(config.get());
        coefs.WriteKU2(QString::fromLatin1(r.ku2));
        coefs.WriteKI2(QString::fromLatin1(r.ki2));
        tuning->CoefficientsEdited();
        tuning->CurrentChosen(r.currentChoice);
        tuning->VoltageChosen(r.voltageChoice);
        rec.outcome.reset();
        rec.errors.clear();
        const size_t from = RequestCount(*sim);
        tuning->StartClicked();
        if (r.current == 0) {
            EXPECT_FALSE(tuning->IsRunning());
            EXPECT_FALSE(rec.running);
            ASSERT_EQ(rec.errors.size(), 1);
            EXPECT_TRUE(LogHas(rec.errors.front()));
            PumpFor(300);
            EXPECT_EQ(RequestCount(*sim), from);
            EXPECT_FALSE(tuning->KestInterface()->IsOpen());
            EXPECT_FALSE(tuning->DeviceInterface()->IsOpen());
            continue;
        }
        ASSERT_TRUE(tuning->IsRunning());
        ASSERT_TRUE(PumpUntil([&] { return LogHas(QStringLiteral("Чтение параметров с KEST...")); }, 60000));
        EXPECT_EQ(TAutoTuning::kCurrents.at(size_t(rec.shown.currentIndex)), r.current);
        EXPECT_EQ(TAutoTuning::kVoltages.at(size_t(rec.shown.voltageIndex)), r.lineVoltage);
        const TTuningChoices shown = rec.shown;
        tuning->CurrentChosen((shown.currentIndex + 1) % 4);
        tuning->VoltageChosen((shown.voltageIndex + 1) % 3);
        EXPECT_EQ(rec.shown.currentIndex, shown.currentIndex);
        EXPECT_EQ(tuning->Choices().voltageIndex, shown.voltageIndex);

        // The installation's 1 A amplifiers carry up to 1 A, the 5 A ones the rest.
        const bool fiveAmp = r.current > 1;
        const double rangeMax = fiveAmp ? 5 : 1;
        const std::string state = sim->Command("state");
        EXPECT_EQ(StateField(state, "range"), fiveAmp ? "5A" : "1A") << state;
        for (double v : Numbers(StateField(state, fiveAmp ? "set-i5" : "set-i")))
            EXPECT_NEAR(v, r.current, 1e-6) << state;
        for (double v : Numbers(StateField(state, fiveAmp ? "set-i" : "set-i5")))
            EXPECT_EQ(v, 0) << state;
        EXPECT_EQ(StateField(state, "voltage-flag"), r.lineVoltage == 100 ? "0" : "1") << state;
        for (double v : Numbers(StateField(state, "set-u")))
            EXPECT_NEAR(v, r.lineVoltage / std::sqrt(3.0), 1e-3) << state;

        tuning->StopClicked();
        ASSERT_TRUE(RunToEnd(30000));
        EXPECT_TRUE(rec.outcome->outputsOff);
        // Every frame of the run: one configuration, and each current set-point on its range.
        int configurations = 0, currents = 0;
        for (const TBlockWrite &w : InstallationWrites(*sim, from)) {
            if (w.reg == 0) {
                ++configurations;
                EXPECT_EQ(w.words.at(1), fiveAmp ? 1 : 0);
            } else if (w.reg == 112 || w.reg == 124) {
                ++currents;
                EXPECT_EQ(w.reg, fiveAmp ? 124 : 112);
                for (size_t k = 0; k < 3; ++k)
                    EXPECT_TRUE(w.Float(k) >= 0 && w.Float(k) <= rangeMax) << w.Float(k);
            }
        }
        EXPECT_EQ(configurations, 1);
        EXPECT_EQ(currents, 2); // the nominal output and the zero output
    }
}

// A search always ends with the transducer's port closed: answered by a frame of another kind (with
// "Прочитать параметры" too, whose reads then do not follow), left unanswered past its own limit (which
// leaves the link's own retries their time), or by "Стоп", silently; nothing is shown or sent later.
TEST_F(TuningTest, SearchAlwaysEnds)
{
    struct Row {
        const char *name;
        const char *fault;
        bool readSettings, stop;
        QString error; // the one message shown; empty: none
    } rows[] = {
        {"answered with a read answer", "fault searchwrong", false, false, TAutoTuning::kSearchAnswerWrong},
        {"the same for the settings", "fault searchwrong", true, false, TAutoTuning::kSearchAnswerWrong},
        {"never answered", "unplug", false, false, TAutoTuning::kSearchNotAnswered},
        {"stopped", "unplug", true, true, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Sim("clear-faults");
        Sim("replug");
        Sim(r.fault);
        rec.errors.clear();
        waits.clear();
        const size_t from = RequestCount(*sim);
        r.readSettings ? tuning->ReadSettingsClicked() : tuning->FindClicked();
        ASSERT_TRUE(tuning->IsSearching());
        if (r.stop)
            tuning->StopClicked();
        ASSERT_TRUE(PumpUntil([&] { return !tuning->IsSearching(); }, 20000));
        EXPECT_FALSE(tuning->DeviceInterface()->IsOpen());
        PumpFor(1000); // past the scaled limit of the search: nothing more
        EXPECT_EQ(rec.errors.join(QStringLiteral(" | ")).toStdString(), r.error.toStdString());
        const std::string frames = Requests(*sim, from);
        EXPECT_TRUE(frames == "D:find " || (r.stop && frames.empty())) << frames; // stopped maybe before it went
        // The limit leaves the link its retries, so that a silent line ends with "Нет ответа" first.
        ASSERT_EQ(waits.size(), 1u);
        EXPECT_EQ(waits[0].second, TuningWait::SearchAnswer);
        EXPECT_GT(waits[0].first,
            (TComInterfaceWithCallback::kMaxResends + 1) * tuning->DeviceInterface()->ResponseTimeOut());
    }
    // After all that a search still finds the transducer.
    Sim("clear-faults");
    Sim("replug");
    Sim("address 3");
    rec.errors.clear();
    tuning->FindClicked();
    ASSERT_TRUE(PumpUntil([&] { return !tuning->IsSearching(); }, 10000));
    EXPECT_EQ(rec.shown.netAdr, 3);
    EXPECT_TRUE(rec.errors.isEmpty());
}
