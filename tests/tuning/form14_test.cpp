// The tuning window and the identity window offscreen (and under Xvfb for the screenshot), against
// kest-sim on the ports of the settings file.
#include "tuningtestutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "journal/journal.h"
#include "mainwindow/form1.h"
#include "presentation/controls/floatspinedit.h"
#include "presentation/controls/form13.h"
#include "presentation/controls/messageservice.h"
#include "tuning/autotuningconfig.h"
#include "tuning/form14.h"
#include "tuning/form15.h"

using namespace tuningtest;

namespace {

class Form14Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        sim = std::make_unique<kestsim::KestSimulator>(o);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        config = std::make_unique<TConfigController>(
            KestTestHome::NewFolder(), "/Valtrix", "/KestManager", "/Settings.txt");
        config->WritePort("Port1", QString::fromStdString(sim->InstallationPath()));
        config->WritePort("Port2", QString::fromStdString(sim->DevicePath()));
        TAutoTuningConfig(config.get()).WritePlaySoundOnFinish(false);
        window = new TForm14();
        window->InitKestCommunication(config.get());
        window->InitDeviceCommunication();
        window->Logic().SetBeep(nullptr);
        window->show();
    }
    void TearDown() override
    {
        delete window.data();
        sim.reset();
    }
    template<typename T> T *Find(const QString &name) const
    {
        T *w = window->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QPushButton *Button(const QString &caption) const { return Find<QPushButton>(caption); }
    QString LastLogLine() const { return Find<QPlainTextEdit>("log")->toPlainText().split('\n').last(); }

    TScopedWaitScale scale{0.01};
    TScopedMessageHandler messages{[this](QWidget *, const TMessageService::TMessage &m) {
        shown << m.text;
        return QMessageBox::Ok;
    }};
    QStringList shown;
    std::unique_ptr<kestsim::KestSimulator> sim;
    std::unique_ptr<TConfigController> config;
    QPointer<TForm14> window;
};

// The journal outlives the window, whichever way a test ends.
class Form14JournalTest : public Form14Test {
protected:
    QTemporaryDir dir;
    TJournal journal{TJournalOptions::Local(dir.path())};
};

} // namespace

// Every control with its caption and first choice; the check boxes enable their lists; the sound check
// box is stored at every click; the coefficient label shows the stored coefficients.
TEST_F(Form14Test, ControlsAndTheirFirstChoices)
{
    EXPECT_EQ(window->windowTitle(), "Автонастройка");
    for (const char *caption : {"Прочитать параметры", "Дополнительные настройки", "Найти", "Настроить", "Стоп"})
        EXPECT_TRUE(Button(caption)->isEnabled()) << caption;
    for (const char *radio : {"100 V", "380 V", "400 V", "0,5A", "1A", "2,5A", "5A", "3-х", "4-х"})
        EXPECT_EQ(Find<QRadioButton>(radio)->isChecked(), QStringList({"380 V", "5A", "4-х"}).contains(radio)) << radio;
    struct Row {
        const char *list;
        int count;
        QString current;
        bool enabled;
    } rows[] = {
        {"Скорость RS 1", 8, "9600", true},
        {"Скорость RS 2", 8, "9600", false},
        {"Конф-ция RS 2", 2, "Информ. канал", false},
        {"Вых/Инд 1", 33, "Ua", true},
        {"Вых/Инд 2", 33, "Ub", true},
        {"Вых/Инд 3", 33, "Uc", true},
        {"Выходной сигнал, мА", 2, "4 - 12 - 20 мА", false},
    };
    for (const Row &r : rows) {
        QComboBox *list = Find<QComboBox>(r.list);
        EXPECT_EQ(list->count(), r.count) << r.list;
        EXPECT_EQ(list->currentText(), r.current) << r.list;
        EXPECT_EQ(list->isEnabled(), r.enabled) << r.list;
    }
    EXPECT_EQ(Find<QComboBox>("Вых/Инд 1")->itemText(32), "Wr");
    Find<QCheckBox>("RS 2")->click();
    EXPECT_TRUE(Find<QComboBox>("Скорость RS 2")->isEnabled());
    EXPECT_TRUE(Find<QComboBox>("Конф-ция RS 2")->isEnabled());
    Find<QCheckBox>("Настроить аналоговые выходы")->click();
    EXPECT_TRUE(Find<QComboBox>("Выходной сигнал, мА")->isEnabled());
    EXPECT_TRUE(window->Logic().Choices().analogEnabled && window->Logic().Choices().rs2Enabled);

    QCheckBox *sound = Find<QCheckBox>("Звуковой сигнал по завершению");
    EXPECT_FALSE(sound->isChecked());
    sound->click();
    EXPECT_TRUE(TAutoTuningConfig(config.get()).ReadPlaySoundOnFinish());
    sound->click();
    EXPECT_FALSE(TAutoTuningConfig(config.get()).ReadPlaySoundOnFinish());
    EXPECT_EQ(Find<QLabel>("coefficients")->text(), "KU = 100/100       KI = 5/5");
    Find<QSpinBox>("Сетевой адрес")->setValue(12);
    EXPECT_EQ(window->Logic().DeviceCmdManager()->netAdr, 12);
}

// A tuning through the window: the log fills, "Настроить" is disabled while it runs and comes back at
// "Готово."; the picture of the window is saved. Then a run closed half-way: the window stays until
// the installation has confirmed its zero output, then goes.
TEST_F(Form14Test, TuningThroughTheWindowAndClosingDuringARun)
{
    for (const char *c : {"error Ua 0.8", "error Ib -0.5", "phase-error B 1.5"})
        ASSERT_EQ(sim->Command(c), "ok");
    Button("Настроить")->click();
    EXPECT_FALSE(Button("Настроить")->isEnabled());
    EXPECT_FALSE(Button("Найти")->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return Button("Настроить")->isEnabled(); }, 120000));
    EXPECT_EQ(LastLogLine(), "Готово.");
    EXPECT_TRUE(shown.isEmpty()) << shown.join('|').toStdString();
    EXPECT_TRUE(OutputsZero(*sim));
    // The picture a person looks at comes from the run on a real X server; the offscreen one is kept apart.
    const QString png = qEnvironmentVariable("KEST_BINARY_DIR", QDir::currentPath()) + "/tuning_form14"
        + (QGuiApplication::platformName() == "offscreen" ? "_offscreen" : "") + ".png";
    EXPECT_TRUE(window->grab().save(png));

    Button("Настроить")->click();
    ASSERT_TRUE(PumpUntil(
        [&] { return window->Logic().Log().contains(QString::fromUtf16(u"Настройка угла по фазе \u0412...")); },
        60000));
    window->close();
    EXPECT_FALSE(window.isNull()); // still there: the outputs are not off yet
    ASSERT_TRUE(PumpUntil([&] { return window.isNull(); }, 30000));
    EXPECT_TRUE(OutputsZero(*sim));
    const std::string frames = Requests(*sim);
    EXPECT_TRUE(EndsWithZeroOutput(frames)) << frames;
}

// The coefficient window from the group, the identity window from "Дополнительные настройки" (modal,
// on the tuning window's link, the port closed afterwards), "Найти" filling both spins.
TEST_F(Form14Test, AuxiliaryWindows)
{
    QTimer::singleShot(100, [] {
        auto *f = qobject_cast<TForm13 *>(QApplication::activeModalWidget());
        ASSERT_NE(f, nullptr);
        f->KU1()->SetValue(6000);
        f->KI2()->SetValue(1);
        f->OkButton()->click();
    });
    QTest::mouseClick(Find<QLabel>("coefficients"), Qt::LeftButton);
    EXPECT_EQ(Find<QLabel>("coefficients")->text(), "KU = 6000/100       KI = 5/1");

    ASSERT_EQ(sim->Command("address 5"), "ok");
    Button("Найти")->click();
    ASSERT_TRUE(PumpUntil([&] { return Find<QSpinBox>("Новый адрес")->value() == 5; }, 10000));
    EXPECT_EQ(Find<QSpinBox>("Сетевой адрес")->value(), 5);

    QString factory, modification;
    QTimer::singleShot(100, [&] {
        auto *f = qobject_cast<TForm15 *>(QApplication::activeModalWidget());
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->windowTitle(), "Form15");
        f->ReadButton()->click();
        PumpUntil(
            [&] { return !f->FactoryNumber()->text().isEmpty() && !f->Relays()->currentText().isEmpty(); }, 10000);
        PumpFor(100);
        factory = f->FactoryNumber()->text();
        modification = f->Modification()->currentText();
        f->FactoryNumber()->clear();
        f->WriteButton()->click();
        f->reject();
    });
    window->ExtraSettingsClicked();
    EXPECT_EQ(factory, "151234");
    EXPECT_EQ(modification, "5");
    EXPECT_EQ(shown, QStringList{"Неверный формат данных"});
    EXPECT_FALSE(window->Logic().DeviceInterface()->IsOpen());
}

// A run ended because the window is destroyed (its owner going first) goes into the journal the
// window was given, stopped, with every line the window logged.
TEST_F(Form14JournalTest, RunEndedByTheWindowGoingIsJournalled)
{
    ASSERT_TRUE(journal.Open());
    window->SetJournal(&journal);
    Button("Настроить")->click();
    const QString phaseB = QString::fromUtf16(u"Настройка угла по фазе \u0412...");
    ASSERT_TRUE(PumpUntil([&] { return window->Logic().Log().contains(phaseB); }, 60000));
    const QStringList logged = window->Logic().Log(); // ending it this way logs nothing more
    delete window.data(); // returns once the outputs are off
    EXPECT_TRUE(OutputsZero(*sim));
    const std::vector<TJournalRunSummary> runs = journal.ListRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].outcome, TJournalOutcome::Stopped);
    const std::optional<TJournalTuningRun> run = journal.LoadTuning(runs[0].id);
    ASSERT_TRUE(run.has_value());
    QStringList lines;
    for (const TJournalLogLine &l : run->lines)
        lines << l.text;
    EXPECT_EQ(lines, logged);
    EXPECT_TRUE(run->asFound.has_value());
}

// The main window goes while the tuning window it opened is in the middle of a run: closed by the user,
// or destroyed without a close (the program quitting on a signal). Either way the installation's
// outputs are off (the zero output confirmed) by the time the main window is gone, the tuning window
// goes with it, and the run is journalled as stopped with every line it logged.
TEST(TuningWindowOwner, MainWindowGoingDuringARunLeavesTheInstallationOff)
{
    for (const bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "main window closed" : "main window destroyed");
        TScopedWaitScale scale{0.01};
        TScopedMessageHandler messages{[](QWidget *, const TMessageService::TMessage &) { return QMessageBox::Ok; }};
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        kestsim::KestSimulator sim(o);
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        QTemporaryDir dir;
        TJournal journal{TJournalOptions::Local(dir.path())};
        ASSERT_TRUE(journal.Open());
        TForm1::TOptions options;
        options.checkForUpdates = false;
        options.port1 = QString::fromStdString(sim.InstallationPath());
        options.port2 = QString::fromStdString(sim.DevicePath());
        options.tuningWindow
            = [&journal](TConfigController *store, QWidget *parent, const TStartOptions &thisRun) -> QWidget * {
            return CreateTuningWindow(store, &journal, parent, thisRun.port1, thisRun.port2);
        };
        auto main = std::make_unique<TForm1>(options);
        main->show();
        main->TuningAction()->trigger();
        QPointer<TForm14> window = qobject_cast<TForm14 *>(main->TuningForm());
        ASSERT_TRUE(window);
        window->Logic().SetBeep(nullptr);
        window->findChild<QPushButton *>(QStringLiteral("Настроить"))->click();
        const QString phaseB = QString::fromUtf16(u"Настройка угла по фазе \u0412...");
        ASSERT_TRUE(PumpUntil([&] { return window && window->Logic().Log().contains(phaseB); }, 60000));
        ASSERT_FALSE(OutputsZero(sim));
        const QStringList logged = window->Logic().Log(); // ending it this way logs nothing more
        if (closed) {
            main->close();
            EXPECT_TRUE(OutputsZero(sim)); // within the close
        }
        main.reset();
        EXPECT_FALSE(window);
        EXPECT_TRUE(OutputsZero(sim)) << sim.Command("state");
        const std::string frames = Requests(sim);
        EXPECT_TRUE(EndsWithZeroOutput(frames)) << frames;
        const std::vector<TJournalRunSummary> runs = journal.ListRuns();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].outcome, TJournalOutcome::Stopped);
        const std::optional<TJournalTuningRun> run = journal.LoadTuning(runs[0].id);
        ASSERT_TRUE(run.has_value());
        QStringList lines;
        for (const TJournalLogLine &l : run->lines)
            lines << l.text;
        EXPECT_EQ(lines, logged);
    }
}
