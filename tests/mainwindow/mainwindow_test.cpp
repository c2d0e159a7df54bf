// The main window end to end, offscreen, against the simulated installation over pseudo-terminals.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstring>

#include "charts/vectordiagramform.h"
#include "charts/vectordiagramwidget.h"
#include "config/configcontroller.h"
#include "config/devicesettingsconfig.h"
#include "config/globalconfig.h"
#include "config/settingsform.h"
#include "kestsimulator.h"
#include "mainwindow/form1.h"
#include "presentation/controls/floatspinedit.h"
#include "presentation/controls/form13.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/numericupdownwithtoggles.h"
#include "presentation/controls/parametergroupcomponent.h"
#include "protocol/switchoff.h"
#include "pty.h"
#include "tuning/form14.h"

namespace {

// One request of the simulator's log: function and register, e.g. {0x06, 14}.
struct Request {
    int function = 0;
    int reg = 0;
    std::vector<uint8_t> bytes;
};

std::vector<Request> InstallationRequests(kestsim::KestSimulator &sim)
{
    std::vector<Request> out;
    for (const std::string &line : sim.Log()) {
        const size_t at = line.find("installation rx ");
        if (at == std::string::npos)
            continue;
        Request r;
        std::string hex = line.substr(at + 16);
        for (size_t i = 0; i + 1 < hex.size(); i += 3)
            r.bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        if (r.bytes.size() >= 4) {
            r.function = r.bytes[1];
            r.reg = r.bytes[2] * 256 + r.bytes[3];
        }
        out.push_back(r);
    }
    return out;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
        qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
        qunsetenv("XDG_DOCUMENTS_DIR");
        messages.clear();
        handler = std::make_unique<TScopedMessageHandler>([this](QWidget *, const TMessageService::TMessage &m) {
            messages.push_back(m.text);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override
    {
        window.reset();
        sim.reset();
        handler.reset();
    }

    void StartSim(const std::string &type = "QX4")
    {
        kestsim::SimOptions options;
        options.announce = false;
        options.deviceType = type;
        sim = std::make_unique<kestsim::KestSimulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
    }

    // Settings written before the window starts, as a user would have them.
    template<typename F> void Preset(F write)
    {
        TConfigController config;
        TGlobalConfig global(&config);
        TDeviceSettingsConfig device(&config);
        write(global, device);
    }

    void Open(const QString &port1 = QString())
    {
        TForm1::TOptions options;
        options.port1 = port1.isEmpty() && sim ? QString::fromStdString(sim->InstallationPath()) : port1;
        options.checkForUpdates = false;
        options.tuningWindow
            = [](TConfigController *store, QWidget *parent, const TStartOptions &thisRun) -> QWidget * {
            return CreateTuningWindow(store, nullptr, parent, thisRun.port1, thisRun.port2);
        };
        window = std::make_unique<TForm1>(options);
        window->Logic().PollTimer().setInterval(300);
        window->show();
    }

    void SelectConfiguration(const QString &name)
    {
        window->ConfigurationList()->setCurrentIndex(TMainLogic::kConfigurations.indexOf(name));
    }

    bool Connect()
    {
        window->ConnectButton()->click();
        return PumpUntil([&] { return window->Logic().IsDistantControlEnabled() || !messages.empty(); }, 5000)
            && window->Logic().IsDistantControlEnabled();
    }

    bool WaitIdentified(int ms = 6000)
    {
        return PumpUntil([&] { return window->Logic().DevInfo().has_value(); }, ms);
    }

    // Status reads (the poll) the simulated installation has received so far.
    size_t Polls()
    {
        size_t n = 0;
        for (const Request &r : InstallationRequests(*sim))
            n += r.function == 0x03 && r.reg == 994 ? 1 : 0;
        return n;
    }

    // Runs the event loop until n more polls have reached the installation. Counted, not timed: a loaded
    // machine makes the wait longer, never the number of polls smaller.
    bool PumpPolls(size_t n, int limitMs = 60000)
    {
        const size_t target = Polls() + n;
        QElapsedTimer clock;
        clock.start();
        while (Polls() < target && clock.elapsed() < limitMs)
            PumpFor(50);
        return Polls() >= target;
    }

    // Runs the event loop until the installation's line has nothing in flight and nothing queued.
    bool WaitIdle(int ms = 10000)
    {
        return PumpUntil(
            [&] {
                return !window->Logic().DevInterface()->IsWaiting() && window->Logic().DevInterface()->IsQueueEmpty();
            },
            ms);
    }

    QString RsText(int param) { return window->Readout(param)->ValueRsField()->text(); }
    QString ErrorText(int param) { return window->Readout(param)->ErrorField()->text(); }

    QTemporaryDir home;
    std::unique_ptr<kestsim::KestSimulator> sim;
    std::unique_ptr<TForm1> window;
    std::vector<QString> messages;
    std::unique_ptr<TScopedMessageHandler> handler;
};

} // namespace

TEST_F(MainWindow, FreshStartShowsTheDefaults)
{
    Open("/dev/kest-none");
    EXPECT_EQ(window->windowTitle(), "KestManager 1.18");
    EXPECT_EQ(window->ConfigurationList()->currentText(), "U");
    EXPECT_EQ(window->findChild<QComboBox *>("SpeedList")->currentText(), "9600");
    EXPECT_EQ(window->findChild<QComboBox *>("AnalogRangeList")->currentIndex(), 0);
    EXPECT_EQ(window->pos(), QPoint(100, 100));
    EXPECT_TRUE(QDir(home.path() + "/Documents/Valtrix/KestManager").exists());
    EXPECT_EQ(window->ConnectButton()->text(), "Подкл.");
    EXPECT_FALSE(window->PauseButton()->isEnabled());
    EXPECT_EQ(window->CoefficientLabel()->text(), "---");
    EXPECT_EQ(RsText(1), "---");
    EXPECT_TRUE(window->SettingsAction()->isEnabled());
    // "Автонастройка" opens the tuning window, one at a time.
    ASSERT_TRUE(window->TuningAction()->isEnabled());
    window->TuningAction()->trigger();
    ASSERT_NE(window->TuningForm(), nullptr);
    auto *tuning = qobject_cast<TForm14 *>(window->TuningForm());
    ASSERT_NE(tuning, nullptr);
    EXPECT_TRUE(tuning->isVisible());
    EXPECT_EQ(tuning->windowTitle(), "Автонастройка");
    window->TuningAction()->trigger();
    EXPECT_EQ(window->TuningForm(), tuning);
    EXPECT_TRUE(messages.empty());
    // Closing stores the position.
    window->move(140, 160);
    window->close();
    TConfigController config;
    EXPECT_EQ(config.ReadMainWindowCoordX(), window->x());
}

TEST_F(MainWindow, ConnectingToAMissingPortSaysPortNotFound)
{
    Open("/dev/kest-no-such-port");
    window->ConnectButton()->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Порт не найден");
    EXPECT_FALSE(window->Logic().IsDistantControlEnabled());
    EXPECT_EQ(window->ConnectButton()->text(), "Подкл.");
    EXPECT_TRUE(window->ConnectButton()->isEnabled());
    EXPECT_FALSE(window->Logic().DevInterface()->IsOpen());
}

TEST_F(MainWindow, ConnectingInPQSendsTheFramesInOrderThenPolls)
{
    StartSim("PQ");
    sim->Command("protocol modbus");
    Open();
    SelectConfiguration("PQ");
    ASSERT_TRUE(Connect()) << (messages.empty() ? "" : messages[0].toStdString());
    EXPECT_EQ(window->ConnectButton()->text(), "Откл.");
    ASSERT_TRUE(WaitIdentified());
    // Let a few polls with their transducer reads go by (the last one's read may still be on the line).
    ASSERT_TRUE(PumpPolls(4));
    PumpUntil([&] { return !window->Logic().DevInterface()->IsWaiting(); }, 5000);
    const auto requests = InstallationRequests(*sim);
    ASSERT_GE(requests.size(), 12u);
    struct Expected {
        int function;
        int reg;
        int value; // for single-register writes; -1 = any
    };
    const Expected order[] = {
        {0x10, 0, -1}, // remote control with the configuration
        {0x06, 1996, 0}, // automatic mode on (sent inverted)
        {0x06, 14, 3}, // RS-485 speed "9600"
        {0x06, 16, 1}, // RS parameter number, its current value
        {0x06, 16, 2}, // then 2 for "Modbus"
        {0x10, 124, -1}, // current 0 (5 A range)
        {0x10, 100, -1}, // voltage 0
        {0x06, 1998, 1}, // the address, "Авто" being hidden here
        {0x03, 994, -1}, // the first poll
    };
    for (size_t i = 0; i < std::size(order); ++i) {
        EXPECT_EQ(requests[i].function, order[i].function) << "request " << i;
        EXPECT_EQ(requests[i].reg, order[i].reg) << "request " << i;
        if (order[i].value >= 0 && requests[i].bytes.size() >= 6) {
            EXPECT_EQ(requests[i].bytes[4] * 256 + requests[i].bytes[5], order[i].value) << "request " << i;
        }
    }
    // The transducer appears: identified with the 19-register block, then every poll is followed by its read.
    size_t info = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
        if (requests[i].function == 0x03 && requests[i].reg == 700) {
            info = i;
            break;
        }
    }
    ASSERT_GT(info, 0u);
    EXPECT_EQ(requests[info].bytes[5], 19);
    int polls = 0;
    for (size_t i = info + 1; i + 1 < requests.size(); ++i) {
        // A poll re-sent by the engine (its answer late on a loaded machine) is the same request again.
        if (requests[i].reg == 994 && requests[i + 1].bytes != requests[i].bytes) {
            ++polls;
            EXPECT_EQ(requests[i + 1].reg, 1996) << "poll " << i << " not followed by the transducer read";
        }
    }
    EXPECT_GE(polls, 2);
    EXPECT_TRUE(messages.empty());
    // P and Q read together in "PQ" with "Modbus": both show values.
    EXPECT_NE(RsText(22), "---");
    EXPECT_NE(RsText(23), "---");
}

TEST_F(MainWindow, QX4ReadoutErrorsAndCoefficients)
{
    StartSim("QX4");
    ASSERT_EQ(sim->Command("error Ia 0.5"), "ok");
    Preset([](TGlobalConfig &g, TDeviceSettingsConfig &) { g.WriteError("0,2"); });
    Open();
    SelectConfiguration("QX4");
    window->AutoBox()->setChecked(true);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitIdentified());
    // The transducer's own coefficients (type 1 with "Авто").
    EXPECT_EQ(window->CoefficientLabel()->text(), "KU = 10000/100       KI = 100/5");
    // Nominal current and voltage, as a user would set them.
    window->Logic().ActionU(57.735);
    window->Logic().ActionI(5);
    window->Logic().DevInterface()->SendNextCmd();
    ASSERT_TRUE(PumpUntil([&] { return RsText(4) != "---" && window->Readout(4)->Value() > 4.9; }, 8000));
    ASSERT_TRUE(PumpPolls(3)); // readings and errors from one cycle at the new output
    bool ok = false;
    const double errorIa = ErrorText(4).replace(',', '.').toDouble(&ok);
    ASSERT_TRUE(ok) << ErrorText(4).toStdString();
    EXPECT_NEAR(errorIa, 0.5, 0.1);
    EXPECT_EQ(window->Readout(4)->ErrorField()->palette().color(QPalette::Base), QColor(255, 0, 0));
    // Phase B has no gain error: small and on white.
    const double errorIb = ErrorText(5).replace(',', '.').toDouble(&ok);
    ASSERT_TRUE(ok);
    EXPECT_LT(std::abs(errorIb), 0.2);
    EXPECT_EQ(window->Readout(5)->ErrorField()->palette().color(QPalette::Base), QColor(255, 255, 255));
    // Every group of the four-wire QX4 layout is filled.
    for (int p : {1, 2, 3, 7, 8, 9, 10, 13, 16, 19, 22, 23, 24, 25, 26, 30, 31})
        EXPECT_NE(RsText(p), "---") << "parameter " << p;
    EXPECT_TRUE(window->ReadoutGroup("Фазные напряжения")->isVisible());
    EXPECT_EQ(window->ReadoutGroup("Токи")->geometry(), QRect(8, 177, 565, 98));
    EXPECT_TRUE(messages.empty());

    // Screenshot for a person to look at.
    const QString shot = QString::fromUtf8(qgetenv("KEST_BINARY_DIR")) + "/mainwindow_qx4.png";
    if (!qgetenv("KEST_BINARY_DIR").isEmpty()) {
        EXPECT_TRUE(window->grab().save(shot));
    }

    // The vector diagram follows the poll: a phase error of the transducer on B turns its current Ib.
    sim->Command("phase-error B 15");
    window->VectorDiagramAction()->trigger();
    ASSERT_NE(window->VectorDiagram(), nullptr);
    EXPECT_EQ(window->VectorDiagram()->windowTitle(), "Векторная диаграмма");
    const TVectorDiagramWidget *diagram = window->VectorDiagram()->Diagram();
    auto turned = [&] {
        const TPhasor *ib = diagram->Diagram().Find(TPhasorSource::Transducer, piIb);
        const TPhasor *ref = diagram->Diagram().Find(TPhasorSource::Installation, piIb);
        return ib && ref && std::abs(NormalizeAngle(ib->angle - ref->angle)) > 5;
    };
    ASSERT_TRUE(PumpUntil(turned, 8000));
    EXPECT_NE(diagram->Diagram().Find(TPhasorSource::Installation, piUa), nullptr);
    EXPECT_FALSE(diagram->Diagram().mismatches.isEmpty());
    if (!qgetenv("KEST_BINARY_DIR").isEmpty()) {
        EXPECT_TRUE(window->VectorDiagram()->grab().save(
            QString::fromUtf8(qgetenv("KEST_BINARY_DIR")) + "/vectordiagram_main_phase_error.png"));
    }
    // Disconnected: nothing drawn.
    window->ConnectButton()->click();
    ASSERT_TRUE(PumpUntil([&] { return !window->Logic().DevInterface()->IsOpen(); }, 5000));
    EXPECT_EQ(diagram->Diagram().Find(TPhasorSource::Installation, piUa), nullptr);
}

TEST_F(MainWindow, PrimaryUnitsAndTheCoefficientWindow)
{
    StartSim("QX4");
    Preset([](TGlobalConfig &g, TDeviceSettingsConfig &d) {
        g.WriteUseTransfCoefsForKestParams(true);
        d.WriteKU1("1000");
        d.WriteKU2("100");
    });
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitIdentified());
    EXPECT_EQ(window->CoefficientLabel()->text(), "KU = 1000/100       KI = 5/5");
    window->Logic().ActionU(100);
    window->Logic().DevInterface()->SendNextCmd();
    ASSERT_TRUE(PumpUntil([&] { return window->Readout(7)->Value() > 150; }, 8000));
    ASSERT_TRUE(PumpPolls(2));
    // A line voltage of 173,2 V secondary shows as 1732 primary; the stored value stays secondary.
    EXPECT_NEAR(window->Readout(7)->Value(), 173.2, 0.2);
    bool ok = false;
    const double shown = window->Readout(7)->ValueField()->text().replace(',', '.').toDouble(&ok);
    ASSERT_TRUE(ok) << window->Readout(7)->ValueField()->text().toStdString();
    EXPECT_NEAR(shown, 1732, 2);

    // The coefficient window: "OK" stores its values, which then apply.
    QTimer::singleShot(100, [&] {
        auto *form = window->findChild<TForm13 *>();
        ASSERT_NE(form, nullptr);
        form->KU1()->SetValue(2000);
        form->OkButton()->click();
    });
    window->OpenCoefficientWindow(QPoint(10, 10));
    EXPECT_EQ(window->CoefficientLabel()->text(), "KU = 2000/100       KI = 5/5");
    TConfigController config;
    EXPECT_EQ(TDeviceSettingsConfig(&config).ReadKU1(), "2000");
    // Closed without "OK": what is stored applies again.
    QTimer::singleShot(100, [&] {
        auto *form = window->findChild<TForm13 *>();
        ASSERT_NE(form, nullptr);
        form->KU1()->SetValue(5000);
        form->reject();
    });
    window->OpenCoefficientWindow(QPoint(10, 10));
    EXPECT_EQ(window->CoefficientLabel()->text(), "KU = 2000/100       KI = 5/5");
}

TEST_F(MainWindow, TransducerUnpluggedAndReplugged)
{
    StartSim("QX4");
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitIdentified());
    sim->Command("unplug");
    ASSERT_TRUE(PumpUntil([&] { return !window->Logic().DevInfo().has_value(); }, 5000));
    EXPECT_FALSE(window->Logic().IsDeviceConnected());
    EXPECT_EQ(window->CoefficientLabel()->text(), "---");
    EXPECT_EQ(RsText(4), "---");
    sim->Command("replug");
    ASSERT_TRUE(WaitIdentified());
    EXPECT_TRUE(window->Logic().IsDistantControlEnabled());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, SilentInstallationDisconnectsWithNoAnswer)
{
    StartSim("QX4");
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    window->Logic().DevInterface()->SetResponseTimeOut(150);
    sim->Command("fault installation:noanswer");
    ASSERT_TRUE(PumpUntil([&] { return !messages.empty(); }, 8000));
    EXPECT_EQ(messages[0], "Нет ответа");
    EXPECT_FALSE(window->Logic().IsDistantControlEnabled());
    EXPECT_FALSE(window->Logic().IsPolling());
    EXPECT_EQ(window->ConnectButton()->text(), "Подкл.");
    // The switch-off is still tried; the silent installation cannot confirm it, and that is said once.
    ASSERT_TRUE(PumpUntil([&] { return !window->Logic().DevInterface()->IsOpen(); }, 8000));
    PumpFor(800);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].contains("Выходы установки не удалось выключить")) << messages[1].toStdString();
    EXPECT_TRUE(window->ConnectButton()->isEnabled());
}

TEST_F(MainWindow, AmplifierFailureIsReportedOncePerEpisode)
{
    StartSim("QX4");
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    sim->Command("amplifier 3");
    ASSERT_TRUE(PumpUntil([&] { return !messages.empty(); }, 5000));
    ASSERT_TRUE(PumpPolls(4)); // several more polls with the failure
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Усилитель не отвечает: 3");
    sim->Command("amplifier 0");
    ASSERT_TRUE(PumpPolls(2)); // the episode ends with a poll that finds the amplifiers well
    sim->Command("amplifier 5");
    ASSERT_TRUE(PumpUntil([&] { return messages.size() >= 2; }, 5000));
    EXPECT_EQ(messages[1], "Усилитель не отвечает: 5");
    EXPECT_TRUE(window->Logic().IsDistantControlEnabled());
}

TEST_F(MainWindow, OlderIdentityBlockIsReadWithoutAMessage)
{
    StartSim("QX4");
    sim->Command("old-devinfo on");
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    window->Logic().DevInterface()->SetResponseTimeOut(200);
    ASSERT_TRUE(WaitIdentified(10000));
    EXPECT_EQ(window->Logic().CmdManager().deviceInfoLengthInWords, 15);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(window->Logic().IsDistantControlEnabled());
}

TEST_F(MainWindow, DisconnectSwitchesOffThenReleasesThenCloses)
{
    StartSim("QX4");
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    PumpFor(400);
    const size_t before = InstallationRequests(*sim).size();
    window->ConnectButton()->click();
    EXPECT_FALSE(window->Logic().IsPolling());
    ASSERT_TRUE(PumpUntil([&] { return !window->Logic().DevInterface()->IsOpen(); }, 5000));
    const auto requests = InstallationRequests(*sim);
    ASSERT_GE(requests.size(), before + 2);
    // The last two: amplifiers off (registers 100..119), then remote control off.
    const Request &off = requests[requests.size() - 2];
    const Request &release = requests.back();
    EXPECT_EQ(off.function, 0x10);
    EXPECT_EQ(off.reg, 100);
    EXPECT_EQ(off.bytes[5], 0x14);
    EXPECT_EQ(release.function, 0x06);
    EXPECT_EQ(release.reg, 0);
    EXPECT_NE(sim->Command("state").find("remote=0"), std::string::npos);
    EXPECT_EQ(window->ConnectButton()->text(), "Подкл.");
    EXPECT_TRUE(messages.empty());
}

// The voltage selectors leave the wiring as the scheme selector shows it; two clicks asking for "off" leave
// the toggle off; closing the window while connected switches the installation off and releases it.
TEST_F(MainWindow, VoltageKeepsTheSchemeTogglesFollowRequestsClosingSwitchesOff)
{
    StartSim("QX4");
    Open();
    SelectConfiguration("QX4");
    window->findChild<QRadioButton *>("4-x")->click();
    window->findChild<QRadioButton *>("100")->click();
    EXPECT_TRUE(window->findChild<QRadioButton *>("4-x")->isChecked());
    EXPECT_TRUE(window->Logic().Selections().scheme4);
    EXPECT_NE(window->CurrentControl()->GetToggle("Ib"), nullptr);
    EXPECT_NEAR(window->Logic().NominalU(), 57.74, 1e-9);
    EXPECT_NEAR(window->VoltageControl()->Max(), 1.25 * 57.74, 1e-9);

    ASSERT_TRUE(Connect());
    EXPECT_FALSE(window->TuningAction()->isEnabled()); // the port is this window's now
    window->Logic().PollTimer().stop();
    ASSERT_TRUE(WaitIdle());
    TToggle *ia = window->CurrentControl()->GetToggle("Ia");
    ASSERT_NE(ia, nullptr);
    window->Logic().ToggleRequested("Ia", false);
    window->Logic().ToggleRequested("Ia", false);
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(ia->State());
    EXPECT_FALSE(window->Logic().ToggleState("Ia"));

    window->Logic().ActionU(57.74);
    window->Logic().ActionI(1);
    window->Logic().DevInterface()->SendNextCmd();
    ASSERT_TRUE(PumpUntil([&] { return sim->Command("state").find(" ua=57.74") != std::string::npos; }, 5000));
    window->close();
    const std::string state = sim->Command("state");
    EXPECT_NE(state.find("remote=0"), std::string::npos) << state;
    EXPECT_NE(state.find(" ua=0 "), std::string::npos) << state;
    EXPECT_NE(state.find(" ic=0 "), std::string::npos) << state;
    EXPECT_FALSE(window->Logic().DevInterface()->IsOpen());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, TogglesShowOnlyConfirmedStates)
{
    StartSim("QX4");
    Open();
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    window->Logic().PollTimer().stop();
    ASSERT_TRUE(WaitIdle());
    TToggle *ia = window->CurrentControl()->GetToggle("Ia");
    ASSERT_NE(ia, nullptr);
    ASSERT_TRUE(ia->State());
    window->Logic().ToggleRequested("Ia", false);
    // Not yet confirmed.
    EXPECT_TRUE(ia->State());
    ASSERT_TRUE(PumpUntil([&] { return !ia->State(); }, 3000));
    EXPECT_NE(sim->Command("state").find("switches="), std::string::npos);

    // "Ib" in the four-wire scheme without "OptionIb": nothing is sent, nothing changes.
    TToggle *ib = window->CurrentControl()->GetToggle("Ib");
    ASSERT_NE(ib, nullptr);
    const size_t before = InstallationRequests(*sim).size();
    window->Logic().ToggleRequested("Ib", false);
    PumpFor(500);
    EXPECT_EQ(InstallationRequests(*sim).size(), before);
    EXPECT_TRUE(ib->State());
}

TEST_F(MainWindow, AruCountsCyclesAndConverges)
{
    StartSim("QX4");
    // The transducer reads its phase A voltage 2 % high; range control must bring its reading onto the
    // requested value by lowering what the installation outputs.
    ASSERT_EQ(sim->Command("error Ua 2"), "ok");
    Open();
    SelectConfiguration("QX4");
    window->AutoBox()->setChecked(true);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitIdentified());
    window->Logic().ActionU(57.735);
    window->Logic().ActionI(5);
    window->Logic().DevInterface()->SendNextCmd();
    auto reading = [&](const char *name) {
        const std::string readings = sim->Command("readings");
        const size_t at = readings.find(std::string(" ") + name + "=");
        return at == std::string::npos ? -1.0 : std::stod(readings.substr(at + std::strlen(name) + 2));
    };
    // Waited for by what the transducer reads, not by time: a loaded machine only makes it later.
    ASSERT_TRUE(PumpUntil([&] { return reading("Ua") > 5000; }, 10000)) << sim->Command("state");
    // Primary units (10000/100): 57,735 V asked is 5773,5 V read; 2 % high before the correction.
    EXPECT_NEAR(reading("Ua"), 5773.5 * 1.02, 5);

    window->AruBox()->setChecked(true);
    EXPECT_FALSE(window->Logic().IsPolling());
    // Each cycle waits 5 s for the outputs to settle.
    ASSERT_TRUE(PumpUntil([&] { return std::abs(reading("Ua") - 5773.5) < 5773.5 * 0.002; }, 40000))
        << sim->Command("state");
    EXPECT_GE(window->Logic().AruCycles(), 2);
    EXPECT_EQ(window->CyclesLabel()->text(), QString("Циклы: %1").arg(window->Logic().AruCycles()));
    // Phase B had nothing to correct.
    EXPECT_NEAR(reading("Ub"), 5773.5, 5);
    window->AruBox()->setChecked(false);
    EXPECT_EQ(window->CyclesLabel()->text(), "Циклы: 0");
    EXPECT_TRUE(window->Logic().IsPolling());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, AnalogOutputReadoutAndSelectors)
{
    StartSim("QX4");
    Preset([](TGlobalConfig &g, TDeviceSettingsConfig &) { g.WriteEnableAnalog(true); });
    Open();
    SelectConfiguration("QX4");
    window->AutoBox()->setChecked(true);
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitIdentified());
    window->Logic().ActionU(57.735);
    window->Logic().ActionI(5);
    window->Logic().DevInterface()->SendNextCmd();
    // The identity assigns parameters to the three outputs; output 1 is selected and measured.
    auto *selector2 = window->findChild<QPushButton *>("AnalogSelector2");
    ASSERT_NE(selector2, nullptr);
    EXPECT_TRUE(selector2->isVisibleTo(window.get()))
        << selector2->text().toStdString() << " hidden=" << selector2->isHidden();
    EXPECT_NE(selector2->text(), "---");
    ASSERT_TRUE(PumpUntil(
        [&] {
            const QString t = window->AnalogReadout()->ErrorField()->text();
            return !t.isEmpty() && t != "---";
        },
        6000));
    bool ok = false;
    window->AnalogReadout()->ErrorField()->text().replace(',', '.').toDouble(&ok);
    EXPECT_TRUE(ok) << window->AnalogReadout()->ErrorField()->text().toStdString();

    // Choosing output 2 tells the installation which output to measure, at once.
    const size_t before = InstallationRequests(*sim).size();
    selector2->click();
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (const Request &r : InstallationRequests(*sim))
                if (r.function == 0x06 && r.reg == 6 && r.bytes.size() >= 6 && r.bytes[5] == 2)
                    return true;
            return false;
        },
        3000));
    EXPECT_GT(InstallationRequests(*sim).size(), before);
    EXPECT_TRUE(selector2->isChecked());
    EXPECT_EQ(window->Logic().Selections().analogOutput, 2);

    // "Вкл." cleared: dashes, and the choice is stored.
    for (QCheckBox *box : window->findChildren<QCheckBox *>())
        if (box->text() == "Вкл.")
            box->setChecked(false);
    EXPECT_EQ(window->AnalogReadout()->ValueField()->text(), "---");
    TConfigController config;
    EXPECT_FALSE(TGlobalConfig(&config).ReadEnableAnalog());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, SettingsDialogOpensModelessAndReadSettingsAppliesTheTransducer)
{
    StartSim("QX4");
    Open();
    window->SettingsAction()->trigger();
    ASSERT_NE(window->SettingsForm(), nullptr);
    EXPECT_TRUE(window->SettingsForm()->isVisible());
    EXPECT_FALSE(window->SettingsForm()->isModal());
    window->SettingsForm()->reject();

    // "Прочитать настройки": the scheme from the identity (three-wire here), the ranges from the
    // coefficients, then the connection set-up again.
    sim->Command("coefs 380 100 5 1");
    SelectConfiguration("QX4");
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(WaitIdentified());
    EXPECT_TRUE(window->ReadSettingsButton()->isEnabled());
    window->Logic().PollTimer().stop();
    ASSERT_TRUE(WaitIdle());
    TConfigController config;
    TDeviceSettingsConfig device(&config);
    device.WriteKI2("1");
    device.WriteKU2("100");
    window->Logic().ApplyStoredCoefficients();
    const size_t before = InstallationRequests(*sim).size();
    window->ReadSettingsButton()->click();
    // Done when the ranges have been taken from the identity and the set-up has been sent again, however
    // long a loaded machine takes.
    auto setUpAgain = [&] {
        const auto sent = InstallationRequests(*sim);
        for (size_t i = before; i < sent.size(); ++i)
            if (sent[i].function == 0x10 && sent[i].reg == 0)
                return true;
        return false;
    };
    ASSERT_TRUE(PumpUntil(
        [&] { return window->Logic().Selections().currentRange == TCurrentRange::A1 && setUpAgain(); }, 10000));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(window->Logic().Selections().currentRange, TCurrentRange::A1);
    EXPECT_EQ(window->Logic().Selections().voltage, TVoltageRange::V100);
    const auto requests = InstallationRequests(*sim);
    bool enable = false;
    for (size_t i = before; i < requests.size(); ++i)
        enable = enable || (requests[i].function == 0x10 && requests[i].reg == 0);
    EXPECT_TRUE(enable) << "the connection set-up was not sent again";
    EXPECT_TRUE(messages.empty());
}

// Every way the main window's connection can end with the outputs on leaves the installation off, judged
// by kest-sim's own state; a silent installation is said to be unconfirmed and gets the switch-off first
// when it answers again; a program that went without switching off is made good at the next start-up.
TEST_F(MainWindow, EveryEndingWithTheOutputsOnLeavesTheInstallationOff)
{
    enum class End {
        Disconnect,
        DisconnectFailingInFlight,
        LineError,
        WrongEchoAtConnect,
        WindowClosed,
        SilentThenBack,
        Killed
    };
    const struct {
        const char *name;
        End end;
        int messages; // messages the user is shown
    } cells[] = {
        {"disconnect", End::Disconnect, 0},
        {"disconnect while a failing poll is on the line", End::DisconnectFailingInFlight, 0},
        {"a line error", End::LineError, 1},
        {"wrong echo of remote control", End::WrongEchoAtConnect, 1},
        {"window closed", End::WindowClosed, 0},
        {"installation silent, then back", End::SilentThenBack, 2},
        {"program gone without switching off, then started again", End::Killed, 1},
    };
    auto off = [&] {
        const std::string s = sim->Command("state");
        for (const char *k : {"remote=0", " ua=0 ", " ub=0 ", " uc=0 ", " ia=0 ", " ib=0 ", " ic=0 "})
            if (s.find(k) == std::string::npos)
                return ::testing::AssertionFailure() << k << " not in " << s;
        return ::testing::AssertionSuccess();
    };
    auto polls = [&] {
        int n = 0;
        for (const Request &r : InstallationRequests(*sim))
            n += r.reg == 994 ? 1 : 0;
        return n;
    };
    for (const auto &cell : cells) {
        SCOPED_TRACE(cell.name);
        messages.clear();
        StartSim("QX4");
        Open();
        SelectConfiguration("QX4");
        window->findChild<QRadioButton *>("100")->click();
        if (cell.end == End::WrongEchoAtConnect) {
            sim->Command("fault wrongecho@0#1");
            window->ConnectButton()->click();
            ASSERT_TRUE(PumpUntil([&] { return !window->Logic().DevInterface()->IsOpen(); }, 8000));
        } else {
            ASSERT_TRUE(Connect());
            window->Logic().DevInterface()->SetResponseTimeOut(200);
            window->Logic().ActionU(57.74);
            window->Logic().ActionI(1);
            ASSERT_TRUE(PumpUntil([&] { return sim->Command("state").find(" ia=1 ") != std::string::npos; }, 8000))
                << sim->Command("state");
        }
        const QString port = QString::fromStdString(sim->InstallationPath());
        switch (cell.end) {
        case End::Disconnect:
            window->ConnectButton()->click();
            break;
        case End::DisconnectFailingInFlight: {
            const int before = polls();
            sim->Command("fault noanswer@994#4");
            ASSERT_TRUE(PumpUntil([&] { return polls() > before; }, 8000));
            ASSERT_TRUE(window->Logic().DevInterface()->IsWaiting());
            window->ConnectButton()->click();
            break;
        }
        case End::LineError:
            sim->Command("fault crc@994#4");
            break;
        case End::WindowClosed:
            window->close();
            break;
        case End::SilentThenBack:
            sim->Command("fault noanswer");
            break;
        case End::Killed:
            // Gone without its closing: nothing switched off, the ledger still says the outputs are on.
            window.reset();
            EXPECT_FALSE(off());
            Open();
            window->OfferUnfinishedRuns();
            break;
        default:
            break;
        }
        ASSERT_TRUE(PumpUntil(
            [&] { return !window->Logic().DevInterface()->IsOpen() && int(messages.size()) >= cell.messages; }, 15000));
        PumpFor(300);
        EXPECT_EQ(int(messages.size()), cell.messages);
        EXPECT_FALSE(window->Logic().IsDistantControlEnabled());
        EXPECT_TRUE(window->ConnectButton()->isEnabled());
        if (cell.end == End::SilentThenBack) {
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_TRUE(messages[1].contains("Выходы установки не удалось выключить")) << messages[1].toStdString();
            EXPECT_TRUE(TOutputsLedger::IsOn(port));
            sim->Command("clear-faults");
            const size_t from = InstallationRequests(*sim).size();
            messages.clear();
            ASSERT_TRUE(Connect());
            const auto requests = InstallationRequests(*sim);
            ASSERT_GE(requests.size(), from + 3);
            EXPECT_EQ(requests[from].reg, 100); // amplifiers off
            EXPECT_EQ(requests[from + 1].reg, 0); // remote control released
            EXPECT_EQ(requests[from + 1].function, 0x06);
            EXPECT_EQ(requests[from + 2].function, 0x10); // then remote control taken anew
            window->ConnectButton()->click();
            ASSERT_TRUE(PumpUntil([&] { return !window->Logic().DevInterface()->IsOpen(); }, 8000));
        }
        EXPECT_TRUE(off());
        EXPECT_FALSE(TOutputsLedger::IsOn(port));
        window.reset();
        sim.reset();
    }
}
