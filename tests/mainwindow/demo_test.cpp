// The demo as a new user meets it: kest-sim started with the demo's own arguments, the main window
// on its ports with fresh settings and the demo's voltage range, "QX4" chosen, "Подкл.", the upload
// buttons of U and I pressed. Every error shown is
// plausible, the transducer's injected errors are found, red marks exactly the errors beyond the
// permissible one, and the user's stored coefficients are left alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <cmath>
#include <optional>

#include "app/demo.h"
#include "config/configcontroller.h"
#include "config/globalconfig.h"
#include "mainwindow/form1.h"
#include "presentation/controls/customactionbutton.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/numericupdownwithtoggles.h"
#include "presentation/controls/parametergroupcomponent.h"
#include "protocol/numberformat.h"
#include "pty.h"
#include "verification/scenariosettings.h"
#include "verification/window/form2.h"

#ifndef KEST_SIM_EXECUTABLE
#error KEST_SIM_EXECUTABLE must name the kest-sim program
#endif

namespace {

constexpr int kWaitMs = 30000; // generous: two shared cores, sanitizers, a 2 s polling cycle

std::optional<double> Number(const QLineEdit *field)
{
    double v = 0;
    if (!field || !TryStrToFloat(field->text(), v))
        return std::nullopt;
    return v;
}

} // namespace

TEST(Demo, FirstReadoutShowsPlausibleErrorsAndTheInjectedOnes)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8()); // the simulator's announcements go here
    qunsetenv("XDG_DOCUMENTS_DIR");
    QStringList messages;
    TScopedMessageHandler recorder([&](QWidget *, const TMessageService::TMessage &m) {
        messages << m.text;
        return QMessageBox::Ok;
    });

    QProcess sim;
    QString installation, device, error;
    ASSERT_TRUE(KestDemo::StartSimulator(sim, QStringLiteral(KEST_SIM_EXECUTABLE), installation, device, error))
        << error.toStdString();

    {
        TForm1::TOptions options;
        options.verificationWindow = [](TConfigController *store, TConfigurationCode code, QWidget *parent,
                                         const TStartOptions &thisRun) -> QWidget * {
            return CreateVerificationWindow(store, code, parent, nullptr, thisRun);
        };
        options.port1 = installation;
        options.port2 = device;
        options.checkForUpdates = false;
        options.voltage = KestDemo::Voltage();
        TForm1 window(options);
        window.show();

        const int qx4 = window.ConfigurationList()->findText(QStringLiteral("QX4"));
        ASSERT_GE(qx4, 0);
        window.ConfigurationList()->setCurrentIndex(qx4);
        window.ConnectButton()->click();
        ASSERT_TRUE(PumpUntil([&] { return window.ConnectButton()->text() == "Откл." || !messages.empty(); }, kWaitMs))
            << "still " << window.ConnectButton()->text().toStdString();
        ASSERT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
        // The transducer is identified with the program's own coefficients: no "Авто" needed.
        ASSERT_TRUE(PumpUntil([&] { return window.CoefficientLabel()->text() != "---"; }, kWaitMs));
        EXPECT_EQ(window.CoefficientLabel()->text(), "KU = 100/100       KI = 5/5");

        // The demo starts the window on its transducer's 100 V range, with the nominal values preset,
        // so the user only presses the two arrows.
        TGlobalConfig global(&window.Config());
        const double uNominal = StrToFloat(global.ReadU100_4());
        const double iNominal = StrToFloat(global.ReadI5());
        TNumericUpDownWithToggles *u = window.VoltageControl();
        TNumericUpDownWithToggles *i = window.CurrentControl();
        ASSERT_TRUE(PumpUntil([&] { return u->Value() == uNominal && i->Value() == iNominal; }, kWaitMs))
            << "U " << u->Value() << " I " << i->Value();
        ASSERT_TRUE(
            PumpUntil([&] { return u->UploadControl()->isEnabled() && i->UploadControl()->isEnabled(); }, kWaitMs));
        const double uSet = u->Value();
        const double iSet = i->Value();
        QTest::mouseClick(u->UploadControl(), Qt::LeftButton);
        QTest::mouseClick(i->UploadControl(), Qt::LeftButton);

        // The installation delivers them and the transducer reports them (phase C's current is read
        // with its +0,3 %, so it passes the set value).
        auto delivered = [&] {
            const std::optional<double> rsIc = Number(window.Readout(6)->ValueRsField());
            return std::fabs(window.Readout(1)->Value() - uSet) < 0.01 * uSet
                && std::fabs(window.Readout(6)->Value() - iSet) < 0.01 * iSet && rsIc && *rsIc > 0.99 * iSet;
        };
        ASSERT_TRUE(PumpUntil(delivered, kWaitMs))
            << "U " << window.Readout(1)->Value() << " I " << window.Readout(6)->Value();
        // Two more polling cycles, counted by the poll timer's ticks rather than timed: readings and errors
        // from the same cycle.
        int ticks = 0;
        const QMetaObject::Connection counting
            = QObject::connect(&window.Logic().PollTimer(), &QTimer::timeout, [&] { ++ticks; });
        ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, kWaitMs));
        QObject::disconnect(counting);

        const double permissible = StrToFloatDef(global.ReadError(), 0.2);
        EXPECT_EQ(permissible, 0.2) << "a fresh start has the default permissible error";

        int shown = 0;
        for (int p = 1; p <= 33; ++p) {
            TParameterGroupComponent *readout = window.Readout(p);
            if (!readout || !readout->isVisibleTo(&window) || readout->ErrorField()->text() == "---")
                continue;
            const std::optional<double> e = Number(readout->ErrorField());
            ASSERT_TRUE(e) << "parameter " << p << ": " << readout->ErrorField()->text().toStdString();
            ++shown;
            EXPECT_LE(std::fabs(*e), 1.0) << "parameter " << p;
            const bool red = readout->ErrorField()->palette().color(QPalette::Base) == QColor(255, 0, 0);
            if (std::fabs(std::fabs(*e) - permissible) > 0.005) {
                EXPECT_EQ(red, std::fabs(*e) > permissible) << "parameter " << p << " error " << *e;
            }
        }
        EXPECT_GE(shown, 20) << "the QX4 readout shows the errors of most quantities";

        for (const KestDemo::TInjectedError &injected : KestDemo::InjectedErrors()) {
            SCOPED_TRACE(injected.quantity);
            const std::optional<double> e = Number(window.Readout(injected.param)->ErrorField());
            ASSERT_TRUE(e);
            // At the nominal value a gain error shows as itself (the error is reduced to the nominal).
            EXPECT_NEAR(*e, injected.gainPercent, 0.05);
        }
        EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();

        const QByteArray folder = qgetenv("KEST_BINARY_DIR");
        if (!folder.isEmpty()) {
            EXPECT_TRUE(window.grab().save(QString::fromUtf8(folder) + "/demo_qx4.png"));
        }
        window.ConnectButton()->click(); // disconnect: outputs to zero, as a user would leave it
        ASSERT_TRUE(PumpUntil([&] { return window.ConnectButton()->text() == "Подкл."; }, kWaitMs));

        // "Автоповерка" as README walks it: the scenario's output columns ticked, points added, "Запуск":
        // the same plausible errors over the demo's ports and on its 100 V range.
        // The menu opens once the port is let go (the switch-off of the disconnection has ended).
        ASSERT_TRUE(PumpUntil([&] { return window.VerificationAction()->isEnabled(); }, kWaitMs));
        window.VerificationAction()->trigger();
        TForm2 *verification = window.findChild<TForm2 *>();
        ASSERT_TRUE(verification);
        EXPECT_EQ(verification->Logic().Selections().voltage, TVoltageRange::V100);
        QTimer::singleShot(0, [] {
            auto *scenario = qobject_cast<TSuperScenarioSettings *>(QApplication::activeModalWidget());
            if (!scenario)
                return;
            for (int param : {piUa, piIa, piIc, piFreq})
                if (QCheckBox *box = scenario->CheckBoxesParams[size_t(param - 1)]; !box->isChecked())
                    box->click();
            scenario->OkButton->click();
        });
        verification->MenuAction(QStringLiteral("Настройка сценария"))->trigger();
        const TKestAvtopoverkaGrid &grid = verification->Logic().Tabs().Grid(0);
        ASSERT_EQ(grid.ColCount(), grid.InputColumnCount() + 4);
        verification->findChild<QCheckBox *>(QStringLiteral("АвтоИнкр."))->setChecked(false);
        verification->Button(QStringLiteral("Добавить строку"))->click();
        verification->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
        ASSERT_TRUE(PumpUntil([&] { return messages.contains(QStringLiteral("Измерение закончено")); }, 4 * kWaitMs))
            << messages.join(" | ").toStdString();
        EXPECT_EQ(messages, QStringList{QStringLiteral("Измерение закончено")});
        for (const KestDemo::TInjectedError &injected : KestDemo::InjectedErrors()) {
            const int col = grid.OutputColumnOf(injected.param);
            if (col < 0)
                continue;
            SCOPED_TRACE(injected.quantity);
            const QStringList parts = grid.Cells(col, 1).split(TSuperAvtopoverkaGrid::kGap);
            ASSERT_EQ(parts.size(), 3) << grid.Cells(col, 1).toStdString();
            double e = 0;
            ASSERT_TRUE(TryStrToFloat(QString(parts[2]).remove('%'), e)) << parts[2].toStdString();
            EXPECT_NEAR(e, injected.gainPercent, 0.05);
            EXPECT_EQ(grid.IsRedCell(col, 1), std::fabs(e) > permissible);
        }
        verification->close();

        // Nothing of the demo went into the user's settings.
        for (const char *key : {"KU1", "KU2", "KI1", "KI2"})
            EXPECT_FALSE(window.Config().ini.ValueExists("Parameters", key)) << key;
    }
    sim.terminate();
    EXPECT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitCode(), 0);
}
