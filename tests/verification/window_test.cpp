// The verification windows as widgets: opened from the main window's "Автоповерка" for each configuration
// (the right form, modeless, its panels, gone when closed), and the QX4 window driven through its buttons
// against kest-sim: locked while running, the progress line, red cells, the outputs off at the end and
// when the window is closed in the middle of a run. Saves verification_qx4.png in the build folder.
#include <gtest/gtest.h>

#include "charts/errorchartwidget.h"
#include "journal/journalwindow.h"
#include "lab/arshinexport.h"
#include "lab/labconfig.h"
#include "mainwindow/form1.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/numericupdown.h"
#include "runtesthelpers.h"
#include "verification/avtopoverkaconfig.h"
#include "verification/avtopoverkagridview.h"
#include "verification/csvmanager.h"
#include "verification/report/avtopoverkareportconfig.h"
#include "verification/report/ooxmlpackage.h"
#include "verification/window/form2.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace runtest;

namespace {

// The files the window hands to the desktop to open.
class TOpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void Open(const QUrl &url) { urls << url; }
};

QString OutputFolder()
{
    const QByteArray binary = qgetenv("KEST_BINARY_DIR");
    return binary.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(binary);
}

void DeleteClosed()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

struct TMessages {
    QStringList errors, notices, questions;
    QMessageBox::StandardButton answer = QMessageBox::Ok; // to questions; Ok is neither yes nor no
    TScopedMessageHandler handler{[this](QWidget *, const TMessageService::TMessage &m) {
        if (m.kind == TMessageService::TKind::Question) {
            questions << m.text;
            return answer;
        }
        (m.kind == TMessageService::TKind::Error ? errors : notices) << m.text;
        return QMessageBox::Ok;
    }};
};

} // namespace

TEST(VerificationWindow, MainWindowOpensEachConfigurationsFormModeless)
{
    KestTestHome::Root();
    TMessages messages;
    TForm1::TOptions options;
    options.checkForUpdates = false;
    options.verificationWindow = [](TConfigController *store, TConfigurationCode code, QWidget *parent,
                                     const TStartOptions &thisRun) -> QWidget * {
        return CreateVerificationWindow(store, code, parent, nullptr, thisRun);
    };
    TForm1 main(options);
    main.Config().WritePort(QStringLiteral("Port1"), QStringLiteral("/dev/kest-test-no-port"));
    main.show();
    QAction *menu = main.VerificationAction();
    ASSERT_TRUE(menu->isEnabled());
    main.ShowConnection(true);
    EXPECT_FALSE(menu->isEnabled());
    main.ShowConnection(false);
    EXPECT_TRUE(menu->isEnabled());

    struct TCase {
        const char *configuration, *form;
        bool current, voltage, range, readSettings;
    };
    const TCase cases[] = {
        {"I", "TAvtopoverkaI", true, false, false, false},
        {"U", "TAvtopoverkaU", false, true, true, false},
        {"F", "TAvtopoverkaPQ", true, true, false, false},
        {"P", "TAvtopoverkaPQ", true, true, false, false},
        {"Q", "TAvtopoverkaPQ", true, true, false, false},
        {"PQ", "TAvtopoverkaPQ", true, true, false, false},
        {"QX4", "TForm3", true, true, false, true},
        {"QX4E", "TAvtopoverkaQX4E", true, true, false, true},
    };
    for (const TCase &tc : cases) {
        SCOPED_TRACE(tc.configuration);
        main.ConfigurationList()->setCurrentIndex(
            main.ConfigurationList()->findText(QString::fromLatin1(tc.configuration)));
        const auto before = main.findChildren<TForm2 *>();
        menu->trigger();
        const auto after = main.findChildren<TForm2 *>();
        ASSERT_EQ(after.size(), before.size() + 1);
        QPointer<TForm2> window;
        for (TForm2 *w : after)
            if (!before.contains(w))
                window = w;
        ASSERT_TRUE(window);
        EXPECT_STREQ(window->metaObject()->className(), tc.form);
        EXPECT_EQ(window->Code(), *ConfigurationFromName(QString::fromLatin1(tc.configuration)));
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Автоповерка"));
        EXPECT_EQ(window->width(), TForm2::kClientWidth);
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->isModal());
        EXPECT_TRUE(window->isWindow());
        EXPECT_EQ(window->Entry(TEntry::Current)->isVisibleTo(window), tc.current);
        EXPECT_EQ(window->Entry(TEntry::Voltage)->isVisibleTo(window), tc.voltage);
        EXPECT_EQ(window->RangeList()->isVisibleTo(window), tc.range);
        EXPECT_EQ(window->ReadSettingsButton()->isVisibleTo(window), tc.readSettings);
        if (tc.range) {
            EXPECT_EQ(window->RangeList()->count(), 5);
        }
        EXPECT_EQ(window->Tabs()->count(), 1);
        EXPECT_EQ(window->Entry(TEntry::Frequency)->Value(), 51);
        window->close();
        DeleteClosed();
        EXPECT_FALSE(window);
    }
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join(" | ").toStdString();
    // One left open goes when the main window closes, before it.
    menu->trigger();
    QPointer<TForm2> open = main.findChild<TForm2 *>();
    ASSERT_TRUE(open);
    main.close();
    DeleteClosed();
    EXPECT_FALSE(open);
}

TEST(VerificationWindow, Qx4WindowRunThroughItsButtonsAndClosedMidRun)
{
    TScopedWaitScale scale(0.05);
    TMessages messages;
    TBench b("QX4", TConfigurationCode::QX4);
    ASSERT_TRUE(b.started) << b.startError;
    b.store->WritePort(QStringLiteral("Port1"), QString::fromStdString(b.sim->InstallationPath()));
    b.store->WriteRate(QStringLiteral("Port1"), QStringLiteral("115200"));
    TDeviceSettingsConfig d(b.store.get());
    d.WriteKU1(QStringLiteral("10000"));
    d.WriteKU2(QStringLiteral("100"));
    d.WriteKI1(QStringLiteral("100"));
    d.WriteKI2(QStringLiteral("5"));
    TConfigQX4(b.store.get()).WriteTabOutputSet(0, {"1", "4", "7", "22", "26"});
    b.sim->Command("error Ia -0.4");
    b.sim->Command("error Uab 0.25 0.05");
    b.sim->Command("error F 0.1");

    QPointer<TForm2> window = CreateVerificationWindow(b.store.get(), TConfigurationCode::QX4, nullptr);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // The 100 V range, then three points typed into the entries.
    window->findChild<QAbstractButton *>(QStringLiteral("100 V"))->click();
    TNumericUpDown *current = window->Entry(TEntry::Current);
    TNumericUpDown *voltage = window->Entry(TEntry::Voltage);
    EXPECT_EQ(voltage->Value(), 57.74);
    QCheckBox *autoInc = window->findChild<QCheckBox *>(QStringLiteral("АвтоИнкр."));
    autoInc->setChecked(false);
    for (const auto &[i, u] : std::vector<std::pair<QString, QString>>{{"5", "57,74"}, {"2,5", "50"}, {"1", "40"}}) {
        current->ValueControl()->setText(i);
        voltage->ValueControl()->setText(u);
        window->Button(QStringLiteral("Добавить строку"))->click();
    }
    TKestAvtopoverkaGrid &grid = window->Logic().Tabs().Grid(0);
    ASSERT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(grid.Cells(1, 2), QStringLiteral("50"));

    QStringList progress;
    window->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
    EXPECT_FALSE(window->Button(QStringLiteral("Добавить строку"))->isEnabled());
    EXPECT_FALSE(window->Button(QStringLiteral("Запуск (все вкладки)"))->isEnabled());
    EXPECT_TRUE(window->Button(QStringLiteral("Стоп"))->isEnabled());
    EXPECT_TRUE(grid.IsReadOnly());
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (!window->StatusText().isEmpty() && !progress.contains(window->StatusText()))
                progress << window->StatusText();
            return !window->Logic().Driver().IsBusy();
        },
        60000));
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join(" | ").toStdString();
    EXPECT_EQ(messages.notices, QStringList{QStringLiteral("Измерение закончено")});
    EXPECT_TRUE(window->Button(QStringLiteral("Добавить строку"))->isEnabled());
    EXPECT_FALSE(grid.IsReadOnly());
    EXPECT_TRUE(OutputsOff(*b.sim));
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_TRUE(progress.first().startsWith(QStringLiteral("Точка 1 из 3"))) << progress.first().toStdString();
    EXPECT_TRUE(progress.join(' ').contains(QStringLiteral("Точка 3 из 3")));
    int red = 0;
    for (int row = 1; row < grid.RowCount(); ++row)
        for (int col = grid.InputColumnCount(); col < grid.ColCount(); ++col)
            red += grid.IsRedCell(col, row) ? 1 : 0;
    EXPECT_GE(red, 3);
    EXPECT_TRUE(window->CoefficientLabel()->text().startsWith(QStringLiteral("KU = 10000/100")));

    // The error chart under the table: a series per output column, a point per measured cell, red
    // exactly where the table's cells are.
    ASSERT_NE(window->ErrorChart(), nullptr);
    EXPECT_TRUE(window->ErrorChart()->isVisible());
    ASSERT_TRUE(PumpUntil([&] { return window->ErrorChart()->Data().outsideCount == red; }, 5000))
        << window->ErrorChart()->Data().outsideCount << " red points, " << red << " red cells";
    EXPECT_EQ(int(window->ErrorChart()->Data().series.size()), grid.ColCount() - grid.InputColumnCount());
    EXPECT_EQ(window->ErrorChart()->Data().pointCount, 3 * (grid.ColCount() - grid.InputColumnCount()));
    window->MenuAction(QStringLiteral("График погрешностей"))->trigger();
    EXPECT_FALSE(window->ErrorChart()->isVisible());
    window->MenuAction(QStringLiteral("График погрешностей"))->trigger();
    EXPECT_TRUE(window->ErrorChart()->isVisible());

    // "Doc" before any template was chosen: the shipped one serves, the report is written and handed to
    // the desktop to open, the report commands back.
    TOpenedUrls opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "Open");
    window->MenuAction(QStringLiteral("Doc"))->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join(" | ").toStdString();
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_TRUE(opened.urls[0].toLocalFile().endsWith(QStringLiteral(".docx")));
    // The tab's error chart stands after its table, at print resolution, its red points included.
    {
        TOoxmlPackage report;
        report.OpenFile(opened.urls[0].toLocalFile(), QStringLiteral("Отчёт"));
        ASSERT_TRUE(report.HasPart("word/media/kest_chart1.png"));
        EXPECT_FALSE(report.HasPart("word/media/kest_chart2.png")); // the one tab with rows
        const QImage chart = QImage::fromData(report.ReadPart("word/media/kest_chart1.png"), "PNG");
        EXPECT_GE(chart.width(), 1500);
        chart.save(OutputFolder() + QStringLiteral("/report_chart_qx4.png")); // for a look
        int redPixels = 0;
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x) {
                const QColor c = chart.pixelColor(x, y);
                redPixels += c.red() > 225 && c.green() < 30 && c.blue() < 30 ? 1 : 0;
            }
        EXPECT_GT(redPixels, 3 * 60); // three red points of at least 60 pixels each
        const QString body = QString::fromUtf8(report.ReadPart("word/document.xml"));
        EXPECT_FALSE(body.contains(QStringLiteral("#график")));
        EXPECT_LT(body.indexOf(QStringLiteral("</w:tbl>")), body.indexOf(QStringLiteral("kest_chart1")));
    }
    EXPECT_TRUE(window->MenuAction(QStringLiteral("Отчёт"))->isEnabled());
    EXPECT_TRUE(window->MenuAction(QStringLiteral("Настройка отчёта"))->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Row 1 selected, for the picture.
    window->GridView(0)->setFocus();
    grid.SetSelectedRow(1);
    QApplication::processEvents();
    const QString png = OutputFolder() + QStringLiteral("/verification_qx4.png");
    EXPECT_TRUE(window->grab().save(png));

    // Closed in the middle of the next run: switched off first, then gone.
    messages.notices.clear();
    window->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
    ASSERT_TRUE(PumpUntil([&] { return !OutputsOff(*b.sim); }, 30000));
    window->close();
    EXPECT_TRUE(OutputsOff(*b.sim));
    DeleteClosed();
    EXPECT_FALSE(window);
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join(" | ").toStdString();
}

// A bench that keeps the laboratory's records (a standard registered in its journal): each start asks the
// conditions (cancelled: nothing starts), the run records them with the standards, and its end brings the
// conclusion with the failed point named.
TEST(VerificationWindow, BenchWithStandardsAsksTheConditionsAndConcludesTheRun)
{
    TScopedWaitScale scale(0.05);
    TMessages messages;
    TBench b("QX4", TConfigurationCode::QX4);
    ASSERT_TRUE(b.started) << b.startError;
    b.store->WritePort(QStringLiteral("Port1"), QString::fromStdString(b.sim->InstallationPath()));
    b.store->WriteRate(QStringLiteral("Port1"), QStringLiteral("115200"));
    TDeviceSettingsConfig d(b.store.get());
    d.WriteKU1(QStringLiteral("10000"));
    d.WriteKU2(QStringLiteral("100"));
    d.WriteKI1(QStringLiteral("100"));
    d.WriteKI2(QStringLiteral("5"));
    TConfigQX4(b.store.get()).WriteTabOutputSet(0, {"1", "4"});
    b.sim->Command("error Ia -0.4");
    QTemporaryDir folder;
    TJournal journal(TJournalOptions::Local(folder.path()));
    ASSERT_TRUE(journal.Open());
    TStandard kest;
    kest.name = QStringLiteral("Установка KEST-01");
    kest.serial = QStringLiteral("77");
    kest.fundNumber = QStringLiteral("57500.20.1Р.00011");
    kest.validUntil = QDate::currentDate().addYears(1);
    kest.errorLimits = {{TQuantityKind::Voltage, 0.05}, {TQuantityKind::Current, 0.05}};
    ASSERT_TRUE(journal.Registry().SaveStandard(kest));
    TLabConfig(b.store.get()).WriteMinAccuracyRatio(5);
    // The device's type prefers a set of points: the submenu marks it.
    TInstrumentType qx4{{}, "Преобразователь QX4", "74910-19", {}, "МП 2203-0123-2021", 12};
    TAvtopoverkaReportConfig report(b.store.get());
    TReportData header = report.ReadReportData();
    header.DeviceNum = QStringLiteral("151003");
    report.WriteReportData(header);

    QPointer<TForm2> window = CreateVerificationWindow(b.store.get(), TConfigurationCode::QX4, nullptr, &journal);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->findChild<QAbstractButton *>(QStringLiteral("100 V"))->click();
    {
        QMenu *fill = window->MenuAction(QStringLiteral("Заполнить точки"))->menu();
        emit fill->aboutToShow();
        ASSERT_FALSE(fill->actions().isEmpty());
        EXPECT_FALSE(fill->actions().back()->isChecked()); // no type chosen yet
        qx4.pointsSet = fill->actions().back()->text();
        ASSERT_TRUE(journal.Registry().SaveType(qx4));
        TLabConfig(b.store.get()).WriteTypeForDevice(QStringLiteral("151003"), qx4.id);
        emit fill->aboutToShow();
        std::vector<bool> marked;
        for (QAction *action : fill->actions())
            marked.push_back(action->isChecked());
        EXPECT_EQ(std::count(marked.begin(), marked.end(), true), 1);
        EXPECT_TRUE(marked.back());
    }
    window->Entry(TEntry::Current)->ValueControl()->setText("5");
    window->Button(QStringLiteral("Добавить строку"))->click();

    // The dialog answered as a user would: cancelled once, then filled in.
    auto answer = [&](bool accept) {
        QTimer::singleShot(0, [accept] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            EXPECT_EQ(dialog->objectName(), QStringLiteral("TConditionsDialog"));
            for (const auto &[name, value] :
                {std::pair{"temperature", "21,5"}, {"humidity", "55"}, {"pressure", "101,3"}})
                dialog->findChild<QLineEdit *>(QString::fromLatin1(name))->setText(QString::fromUtf8(value));
            dialog->findChild<QAbstractButton *>(accept ? "okButton" : "cancelButton")->click();
        });
    };
    answer(false);
    window->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
    EXPECT_FALSE(window->Logic().Driver().IsBusy());
    EXPECT_TRUE(journal.ListRuns().empty());
    answer(true);
    window->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
    ASSERT_TRUE(PumpUntil([&] { return !window->Logic().Driver().IsBusy(); }, 60000));
    EXPECT_TRUE(OutputsOff(*b.sim));
    EXPECT_TRUE(messages.errors.isEmpty()) << messages.errors.join(" | ").toStdString();
    EXPECT_EQ(messages.notices,
        QStringList{QStringLiteral("Измерение закончено\nЗаключение: непригоден: превышение допускаемой основной "
                                   "погрешности: Ia при 5 A (−0,40 % при пределе ±0,2 %)")})
        << messages.notices.join(" | ").toStdString();

    const std::vector<TJournalRunSummary> runs = journal.ListRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].verdict, QStringLiteral("непригоден"));
    const std::optional<TJournalRun> run = journal.LoadRun(runs[0].id);
    ASSERT_TRUE(run && run->end && run->end->verdict);
    EXPECT_EQ(run->header.lab.conditions.temperature, 21.5);
    EXPECT_EQ(run->header.lab.conditions.pressure, 101.3);
    ASSERT_EQ(run->header.lab.standards.size(), 1u);
    EXPECT_EQ(run->header.lab.standards[0].name, kest.name);
    EXPECT_NEAR(run->header.lab.lowestAccuracyRatio, 4, 1e-9); // 0,2 % against 0,05 %
    // The lab asks for 5: each measured quantity's cells say that the reference falls short.
    EXPECT_EQ(window->GridView(0)->CellTip(4, 1), QStringLiteral("напряжение: соотношение точностей 4 меньше 5"));
    EXPECT_EQ(window->GridView(0)->CellTip(5, 1), QStringLiteral("ток: соотношение точностей 4 меньше 5"));
    EXPECT_TRUE(window->GridView(0)->CellTip(0, 1).isEmpty()); // an input cell
    EXPECT_EQ(TLabConfig(b.store.get()).ReadLastConditions().humidity, 55.0); // offered at the next start

    // "Заключение…": the verifier replaces it, with a reason; the run gets an amendment, not a change.
    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        dialog->findChild<QAbstractButton *>("fitButton")->click();
        dialog->findChild<QPlainTextEdit *>("overrideReason")->setPlainText(QStringLiteral("Ia перемерен: 0,1 %"));
        dialog->findChild<QAbstractButton *>("okButton")->click();
    });
    window->MenuAction(QStringLiteral("Заключение…"))->trigger();
    const std::optional<TJournalRun> amended = journal.LoadRun(runs[0].id);
    ASSERT_TRUE(amended && amended->amendments.size() == 1);
    EXPECT_EQ(amended->amendments[0].field, QStringLiteral("verdict"));
    EXPECT_EQ(amended->amendments[0].oldValue + " → " + amended->amendments[0].newValue,
        QStringLiteral("непригоден → пригоден"));
    EXPECT_EQ(amended->amendments[0].reason, QStringLiteral("Ia перемерен: 0,1 %"));
    EXPECT_FALSE(amended->end->verdict->fit); // the run's own conclusion stays
    EXPECT_EQ(journal.ListRuns()[0].verdict, QStringLiteral("пригоден"));
    window->close();
    DeleteClosed();
}

// The archive and the Federal information fund: a finished verification not sent yet shows its deadline;
// "Выгрузить в «Аршин»…" writes the file of the listed runs (a run lacking its type left out and named), marks
// the sent one, and "не выгружено" then lists only what is left.
TEST(VerificationWindow, ArchiveExportsToTheFundAndTracksWhatWasSent)
{
    KestTestHome::Root();
    TMessages messages;
    QTemporaryDir folder;
    TJournal journal(TJournalOptions::Local(folder.path()));
    ASSERT_TRUE(journal.Open());
    auto run = [&](bool complete) {
        TJournalRunHeader h;
        h.lab.usedAsStandard = !complete; // due in 20 working days instead of 40
        h.configuration = QStringLiteral("QX4");
        h.reportData = {{"DeviceNum", "151003"}, {"Verifier", "Петров П. П."}};
        if (complete)
            h.lab.type = TInstrumentType{{}, "Преобразователь QX4", "74910-19", {}, "МП 2203-0123-2021", 12};
        h.lab.owner = QStringLiteral("АО «Сеть»");
        h.lab.conditions.temperature = 21.5;
        h.lab.conditions.humidity = 55;
        h.lab.conditions.pressure = 101.3;
        TStandard kest;
        kest.name = QStringLiteral("Установка KEST-01");
        kest.fundNumber = QStringLiteral("57500.20.1Р.00011");
        kest.validUntil = QDate::currentDate().addYears(1);
        h.lab.standards = {kest};
        const TJournalRunId id = journal.BeginRun(h);
        TJournalRunEnd end(TJournalOutcome::Finished);
        end.verdict = TVerdict{true, {}};
        EXPECT_TRUE(journal.EndRun(id, end));
        return id;
    };
    const TJournalRunId sent = run(true), lacking = run(false);
    TForm1::TOptions options;
    options.checkForUpdates = false;
    options.journal = &journal;
    // Protocols as the office suite would give them, quickly; one refused, or the user cancelling midway.
    std::vector<TJournalRunId> protocolled;
    TJournalRunId refuse;
    bool cancel = false;
    QPointer<QWidget> archiveWindow;
    options.journalProtocol = [&](TConfigController *, const TJournalRun &r, const QString &pdf, QString *error) {
        if (cancel)
            if (auto *progress = archiveWindow->findChild<QProgressDialog *>(QStringLiteral("arshinProgress")))
                progress->cancel();
        if (r.header.id == refuse) {
            *error = QStringLiteral("не установлен LibreOffice");
            return false;
        }
        QFile f(pdf);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << pdf.toStdString();
        f.write("%PDF-1.4 " + r.header.id.toUtf8());
        protocolled.push_back(r.header.id);
        return true;
    };
    TForm1 main(options);
    TLabConfig(&main.Config()).WriteSignCipher(QStringLiteral("АБВ"));
    TArshinConfig(&main.Config()).WriteHolidaysText(QStringLiteral("01.05.2026, 31.02.2026; 1.5.26"));
    const QString file = folder.path() + QStringLiteral("/аршин.xml");
    main.SetArshinPathChooser([&](const QString &) { return file; });
    main.JournalAction()->trigger();
    TJournalWindow *archive = main.JournalWindow();
    ASSERT_TRUE(archive);
    auto *table = archive->findChild<QTableView *>(QStringLiteral("runsTable"));
    auto fundColumn = [&](const TJournalRunId &id) {
        for (int row = 0; row < table->model()->rowCount(); ++row)
            if (archive->Logic().Runs()[size_t(row)].id == id)
                return table->model()->index(row, table->model()->columnCount() - 1).data().toString();
        return QStringLiteral("нет в списке");
    };
    // A holiday mistyped would be a working day unseen: said once, as the archive opens.
    ASSERT_EQ(messages.notices.size(), 1);
    EXPECT_TRUE(messages.notices[0].contains(QStringLiteral("не даты (нужно дд.ММ.гггг): 31.02.2026, 1.5.26.")))
        << messages.notices[0].toStdString();
    messages.notices.clear();
    EXPECT_TRUE(fundColumn(sent).startsWith(QStringLiteral("до "))) << fundColumn(sent).toStdString();
    const QSet<QDate> holidays = TArshinConfig(&main.Config()).ReadHolidays();
    for (const auto &[id, standard] : {std::pair{sent, false}, std::pair{lacking, true}})
        EXPECT_EQ(fundColumn(id),
            QStringLiteral("до ")
                + ArshinDeadline(QDate::currentDate(), standard, holidays).toString(QStringLiteral("dd.MM.yyyy")))
            << (standard ? "used as a standard" : "an instrument");

    archiveWindow = archive;
    auto *arshinButton = archive->findChild<QPushButton *>(QStringLiteral("arshinButton"));
    archive->findChild<QCheckBox *>(QStringLiteral("arshinProtocols"))->setChecked(true);
    // The run that cannot go is named before anything is made or written, and the user may stop there.
    messages.answer = QMessageBox::No;
    arshinButton->click();
    ASSERT_EQ(messages.questions.size(), 1);
    EXPECT_TRUE(messages.questions[0].contains(QStringLiteral("Поверка ")
        + QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral(" ")))
        << messages.questions[0].toStdString();
    EXPECT_TRUE(messages.questions[0].contains(
                    QStringLiteral(", № 151003 (") + lacking + QStringLiteral("): не выбран тип средства измерений"))
        && messages.questions[0].endsWith(QStringLiteral("Записать остальные (1)?")))
        << messages.questions[0].toStdString();
    EXPECT_TRUE(protocolled.empty() && messages.errors.isEmpty() && messages.notices.isEmpty());
    EXPECT_FALSE(QFile::exists(file));
    messages.answer = QMessageBox::Yes;
    refuse = sent;
    arshinButton->click();
    ASSERT_EQ(messages.errors.size(), 1);
    EXPECT_TRUE(messages.errors[0].contains(QStringLiteral("не установлен LibreOffice")))
        << messages.errors[0].toStdString();
    refuse.clear();
    cancel = true;
    arshinButton->click();
    EXPECT_FALSE(QFile::exists(file)) << "refused or cancelled, nothing is written";
    EXPECT_TRUE(fundColumn(sent).startsWith(QStringLiteral("до "))) << "nor marked as sent";
    EXPECT_EQ(messages.errors.size(), 1);
    EXPECT_TRUE(messages.notices.isEmpty());
    cancel = false;
    protocolled.clear();
    arshinButton->click();
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_EQ(protocolled, std::vector<TJournalRunId>{sent}) << "no protocol made for a run left out";
    {
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        const QByteArray xml = written.readAll();
        EXPECT_TRUE(xml.contains("filename=\"Протокол 151003.pdf\""));
        EXPECT_TRUE(xml.contains(QByteArray("%PDF-1.4 " + sent.toUtf8()).toBase64()));
    }
    ASSERT_EQ(messages.notices.size(), 1) << messages.errors.join(" | ").toStdString();
    EXPECT_TRUE(
        messages.notices[0].startsWith(QStringLiteral("Записано: ")) && messages.notices[0].contains("поверок: 1"))
        << messages.notices[0].toStdString();
    EXPECT_TRUE(messages.notices[0].contains(QStringLiteral("Пропущена поверка ") + lacking));
    EXPECT_TRUE(fundColumn(sent).startsWith(QStringLiteral("выгружено: ") + file)) << fundColumn(sent).toStdString();
    archive->findChild<QCheckBox *>(QStringLiteral("notExportedFilter"))->setChecked(true);
    EXPECT_EQ(fundColumn(sent), QStringLiteral("нет в списке"));
    EXPECT_TRUE(fundColumn(lacking).startsWith(QStringLiteral("до ")));
    main.close();
    DeleteClosed();
}

// The journal in the main window: at start-up each run a killed program left open is offered back
// (declined: recorded as interrupted; accepted: its window with its rows, and when it cannot go on in
// this window it says why and is recorded as interrupted too); "Журнал" lists the runs and opens one read-only (nothing
// can be started until "Копировать для правки").
TEST(VerificationWindow, StartUpOffersUnfinishedRunsAndTheJournalOpensThemReadOnly)
{
    KestTestHome::Root();
    QTemporaryDir folder;
    for (int k : {3, 5}) {
        QProcess helper;
        helper.start(QString::fromLocal8Bit(KEST_JOURNAL_HELPER),
            {"--folder", folder.path(), "--points", QString::number(k), "--hang"});
        ASSERT_TRUE(helper.waitForStarted(10000));
        QString said;
        while (!said.contains("waiting") && helper.waitForReadyRead(30000))
            said += QString::fromUtf8(helper.readAllStandardOutput());
        ASSERT_TRUE(said.contains("waiting")) << said.toStdString();
        helper.kill();
        helper.waitForFinished(10000);
    }
    TJournalOptions journalOptions = TJournalOptions::Local(folder.path());
    TJournal journal(journalOptions);
    ASSERT_TRUE(journal.Open());
    const auto open = journal.UnfinishedRuns();
    ASSERT_EQ(open.size(), 2u);

    QStringList asked;
    QStringList answers{"no", "yes"}; // restore the newer? no; the older? yes
    TScopedMessageHandler handler([&](QWidget *, const TMessageService::TMessage &m) {
        asked << m.text;
        if (m.kind != TMessageService::TKind::Question)
            return QMessageBox::Ok;
        return answers.isEmpty() || answers.takeFirst() == "no" ? QMessageBox::No : QMessageBox::Yes;
    });
    TForm1::TOptions options;
    options.checkForUpdates = false;
    options.journal = &journal;
    options.verificationWindow = [&](TConfigController *store, TConfigurationCode code, QWidget *parent,
                                     const TStartOptions &thisRun) -> QWidget * {
        return CreateVerificationWindow(store, code, parent, &journal, thisRun);
    };
    options.journalledRunWindow = [&](TConfigController *store, const TJournalRun &run, bool readOnly, QWidget *parent,
                                      const TStartOptions &thisRun) -> QWidget * {
        return readOnly ? CreateJournalledRunWindow(store, &journal, run, true, parent, thisRun)
                        : RestoreJournalledRun(store, &journal, run, parent, thisRun);
    };
    TForm1 main(options);
    main.Config().WritePort(QStringLiteral("Port1"), QStringLiteral("/dev/kest-test-no-port"));
    main.show();
    main.OfferUnfinishedRuns();

    ASSERT_GE(asked.size(), 3) << asked.join(" | ").toStdString();
    EXPECT_TRUE(asked[0].contains(QStringLiteral("измерено точек: 5"))) << asked[0].toStdString();
    EXPECT_TRUE(asked[1].contains(QStringLiteral("измерено точек: 3"))) << asked[1].toStdString();
    // Its last tab read analog outputs; this window's settings have it on RS: it cannot go on.
    EXPECT_TRUE(asked[2].contains(QStringLiteral("нельзя продолжить"))) << asked[2].toStdString();
    EXPECT_TRUE(asked[2].contains(QStringLiteral("Интерфейс"))) << asked[2].toStdString();
    EXPECT_TRUE(journal.UnfinishedRuns().empty());
    for (const TJournalRunSummary &s : open) {
        const auto run = journal.LoadRun(s.id);
        ASSERT_TRUE(run && run->end);
        EXPECT_EQ(run->end->outcome, TJournalOutcome::Failed);
        EXPECT_EQ(run->end->error, TJournalRunEnd::Interrupted().error);
    }
    // The restored window holds the three measured rows as journalled, column by column.
    const auto restoredWindows = main.findChildren<TForm2 *>();
    ASSERT_EQ(restoredWindows.size(), 1);
    TForm2 *restored = restoredWindows[0];
    EXPECT_EQ(restored->windowTitle(), QStringLiteral("Автоповерка"));
    EXPECT_EQ(restored->Tabs()->currentIndex(), 1); // the tab of its next point
    EXPECT_TRUE(restored->JournalStateText().contains(folder.path())) << restored->JournalStateText().toStdString();
    const std::optional<TJournalRun> older = journal.LoadRun(open[1].id);
    ASSERT_TRUE(older);
    int compared = 0;
    for (const TJournalPoint &p : older->points) {
        const TJournalTable &layout = older->header.tables[size_t(p.tab)];
        const TKestAvtopoverkaGrid &grid = restored->Logic().Tabs().Grid(p.tab);
        for (int col = layout.inputColumnCount; col < p.cells.size(); ++col) {
            const int at = grid.ColumnOf(layout.columnNames[col]);
            ASSERT_GE(at, 0) << layout.columnNames[col].toStdString();
            EXPECT_EQ(grid.Cells(at, p.row), p.cells[col]);
            EXPECT_EQ(grid.IsRedCell(at, p.row), p.marks[size_t(col)]);
            ++compared;
        }
    }
    EXPECT_GT(compared, 8);
    restored->close();
    DeleteClosed();

    // "Журнал": both runs, the newest first; opened read-only.
    ASSERT_TRUE(main.JournalAction()->isEnabled());
    main.JournalAction()->trigger();
    ASSERT_TRUE(main.JournalWindow());
    const auto &listed = main.JournalWindow()->Logic().Runs();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].id, open[0].id);
    main.JournalWindow()->Logic().Open(listed[1].id);
    const auto windows = main.findChildren<TForm2 *>();
    ASSERT_EQ(windows.size(), 1);
    TForm2 *archived = windows[0];
    EXPECT_TRUE(archived->windowTitle().contains(QStringLiteral("только просмотр")));
    EXPECT_TRUE(archived->Logic().IsReadOnly());
    EXPECT_EQ(archived->Tabs()->currentIndex(), 0); // looked at from its first tab
    for (const char *button : {"Запуск (тек. вкладка)", "Запуск (все вкладки)", "Добавить строку", "Загрузить"})
        EXPECT_FALSE(archived->Button(QString::fromUtf8(button))->isEnabled()) << button;
    // For a person to look at: the archived run as the window shows it (build folder).
    archived->grab().save(OutputFolder() + "/verification_journal_readonly.png");
    QAction *copy = archived->MenuAction(QStringLiteral("Копировать для правки"));
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isVisible());
    copy->trigger();
    EXPECT_FALSE(archived->Logic().IsReadOnly());
    EXPECT_EQ(archived->windowTitle(), QStringLiteral("Автоповерка"));
    EXPECT_TRUE(archived->Button(QStringLiteral("Запуск (все вкладки)"))->isEnabled());
    EXPECT_EQ(journal.ListRuns().size(), 2u); // looking and copying wrote nothing
    archived->close();

    // "Лаборатория" → "Эталоны": the register the journal keeps.
    TStandard standard;
    standard.name = QStringLiteral("Установка KEST-01");
    standard.serial = QStringLiteral("77");
    standard.validUntil = QDate::currentDate().addYears(1);
    ASSERT_TRUE(journal.Registry().SaveStandard(standard));
    QAction *standards = nullptr;
    for (QAction *action : main.findChildren<QAction *>())
        if (action->text() == QStringLiteral("Эталоны"))
            standards = action;
    ASSERT_TRUE(standards && standards->isEnabled());
    standards->trigger();
    ASSERT_TRUE(main.StandardsWindow() && main.StandardsWindow()->isVisible());
    const auto *table = main.StandardsWindow()->findChild<QTableWidget *>(QStringLiteral("standardsTable"));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->rowCount(), 1) << journal.Registry().LastError().toStdString();
    EXPECT_EQ(table->item(0, 0)->text(), standard.name);
    main.close();
    DeleteClosed();
}

// The main window closed while a verification window it opened is in the middle of a run: the run's
// window switches the installation off (confirmed) before the main window goes.
TEST(VerificationWindow, MainWindowClosedDuringARunLeavesTheInstallationOff)
{
    KestTestHome::Root();
    TScopedWaitScale scale(0.05);
    TMessages messages;
    kestsim::SimOptions simOptions;
    simOptions.announce = false;
    simOptions.deviceType = "QX4";
    kestsim::KestSimulator sim(simOptions);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    TForm1::TOptions options;
    options.checkForUpdates = false;
    options.verificationWindow = [](TConfigController *store, TConfigurationCode code, QWidget *parent,
                                     const TStartOptions &thisRun) -> QWidget * {
        return CreateVerificationWindow(store, code, parent, nullptr, thisRun);
    };
    // The port and voltage range of this run, as --port1 or the demo gives them; the settings name another
    // port and keep their 380 V.
    options.port1 = QString::fromStdString(sim.InstallationPath());
    options.voltage = TVoltageRange::V100;
    auto main = std::make_unique<TForm1>(options);
    main->Config().WritePort(QStringLiteral("Port1"), QStringLiteral("/dev/kest-test-no-port"));
    main->Config().WriteRate(QStringLiteral("Port1"), QStringLiteral("115200"));
    TGlobalConfig(&main->Config()).WriteWaitingTime(QStringLiteral("200")); // 10 s at this scale: closed mid-wait
    TConfigQX4(&main->Config()).WriteTabOutputSet(0, {"1", "4"});
    main->show();
    main->ConfigurationList()->setCurrentIndex(main->ConfigurationList()->findText(QStringLiteral("QX4")));
    main->VerificationAction()->trigger();
    QPointer<TForm2> window = main->findChild<TForm2 *>();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->Logic().Selections().voltage, TVoltageRange::V100);
    EXPECT_DOUBLE_EQ(window->Entry(TEntry::Voltage)->Value(), 57.74);
    TEntryValues v;
    v.current = 5;
    v.voltage = 57.74;
    v.angle = 0;
    v.frequency = 50;
    window->Logic().AddRowClicked(v);
    window->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
    ASSERT_TRUE(PumpUntil([&] { return !OutputsOff(sim); }, 30000)) << sim.Command("state");
    main->close();
    EXPECT_TRUE(OutputsOff(sim)) << sim.Command("state");
    main.reset();
    DeleteClosed();
    EXPECT_FALSE(window);
}

// A fresh window's tab names no output column: "Запуск" says that nothing would be measured and offers
// "Настройка сценария" (opened on that tab when the user agrees); nothing is sent either way.
TEST(VerificationWindow, StartWithoutOutputColumnsOffersTheScenarioWindow)
{
    TBench b("QX4", TConfigurationCode::QX4);
    ASSERT_TRUE(b.started) << b.startError;
    b.store->WritePort(QStringLiteral("Port1"), QString::fromStdString(b.sim->InstallationPath()));
    QPointer<TForm2> window = CreateVerificationWindow(b.store.get(), TConfigurationCode::QX4, nullptr);
    window->show();
    TKestAvtopoverkaGrid &grid = window->Logic().Tabs().Grid(0);
    ASSERT_EQ(grid.ColCount(), grid.InputColumnCount());
    window->Button(QStringLiteral("Добавить строку"))->click();
    ASSERT_TRUE(grid.isFirstRowFilled);
    const size_t framesBefore = b.sim->Log().size();

    for (const bool agree : {false, true}) {
        SCOPED_TRACE(agree);
        QStringList questions, opened;
        TScopedMessageHandler handler([&](QWidget *, const TMessageService::TMessage &m) {
            questions << m.text;
            if (agree)
                QTimer::singleShot(0, [&] {
                    if (QWidget *modal = QApplication::activeModalWidget()) {
                        opened << QString::fromLatin1(modal->metaObject()->className());
                        modal->close();
                    }
                });
            return agree ? QMessageBox::Yes : QMessageBox::No;
        });
        window->Button(QStringLiteral("Запуск (тек. вкладка)"))->click();
        QTest::qWait(50);
        ASSERT_EQ(questions.size(), 1);
        EXPECT_TRUE(questions[0].contains(QStringLiteral("нет ни одного выходного столбца")))
            << questions[0].toStdString();
        EXPECT_EQ(opened, agree ? QStringList{QStringLiteral("TScenarioSettingsQX4")} : QStringList());
        EXPECT_FALSE(window->Logic().Driver().IsBusy());
        EXPECT_TRUE(window->Button(QStringLiteral("Добавить строку"))->isEnabled());
    }
    EXPECT_EQ(b.sim->Log().size(), framesBefore) << "nothing sent";
    window->close();
    DeleteClosed();
}

namespace {

QStringList Cells(const TStringGrid &grid, int row)
{
    QStringList cells;
    for (int col = 0; col < grid.ColCount(); ++col)
        cells << grid.Cells(col, row);
    return cells;
}

QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
}

} // namespace

// "Загрузить" and "Загрузить сценарий" in the voltage transducer's window, one after another: a file
// that cannot be used says why and leaves the tab, its results included, as it was; files with the
// window's own columns, in any order, and a scenario saved again by a spreadsheet load.
TEST(VerificationWindow, FilesReplaceATabOnlyWhenTheyCanBeUsed)
{
    QTemporaryDir dir;
    TBench b("U", TConfigurationCode::U);
    ASSERT_TRUE(b.started) << b.startError;
    TAvtopoverkaLogic &logic = b.Open();
    b.AddPoints(0, {{5, 100, 0, 50}, {5, 57.74, 0, 50}});
    TKestAvtopoverkaGrid &grid = logic.Tabs().Current();
    TParametersForGridRow result;
    TParameter ua;
    ua.index = piUa;
    ua.name = "Ua";
    ua.value = 100;
    result.AddParameter(TParameterForGrid(ua, "", 0.1, ua));
    ASSERT_TRUE(grid.AddOutputData(result, 1));
    const QStringList before = Cells(grid, 1);
    QFile big(dir.filePath("big.csv"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(TCsvManager::kMaxFileSize + 1));
    big.close();

    struct TStep {
        const char *what;
        bool scenario;
        QString file;
        const char *error; // in the message when the file is refused; null: it loads
        QStringList row1; // the input cells of row 1 after a load
        QString title;
    };
    const TStep steps[] = {
        {"no table in a scenario", true, WriteFile(dir, "t.csv", "Напр.;Угол;Частота\r\n100;0;50\r\n"),
            "нет ни одной таблицы", {}, {}},
        {"a folder", false, dir.path(), "не является файлом", {}, {}},
        {"a folder as a scenario", true, dir.path(), "не является файлом", {}, {}},
        {"absent", false, dir.filePath("absent.csv"), "не найден", {}, {}},
        {"too large", false, big.fileName(), "слишком большой", {}, {}},
        {"a column missing", false, WriteFile(dir, "m.csv", "Напр.;Угол\r\n100;0\r\n"), "«Частота»", {}, {}},
        {"the window's columns", false, WriteFile(dir, "u.csv", "Напр.;Угол;Частота\r\n220;0;50\r\n57,74;0;45\r\n"),
            nullptr, {"0", "220", "0", "50"}, "1"},
        {"a spreadsheet's scenario", true,
            WriteFile(dir, "s.csv",
                "\"Table\";;;\r\n\"Т1\";;;\r\n\"Частота, Hz\";\"Напр., V\";\"Угол, °\";\r\n55;230;0;\r\n"),
            nullptr, {"0", "230", "0", "55"}, "Т1"},
    };
    for (const TStep &s : steps) {
        SCOPED_TRACE(s.what);
        const qsizetype errors = b.view.errors.size();
        const bool loaded = s.scenario ? logic.LoadScenario(s.file) : logic.LoadTable(s.file);
        EXPECT_EQ(loaded, s.error == nullptr);
        if (s.error) {
            EXPECT_EQ(b.view.errors.size(), errors + 1);
            const QString said = b.view.errors.size() > errors ? b.view.errors.last() : QString();
            EXPECT_TRUE(said.contains(QString::fromUtf8(s.error))) << said.toStdString();
            EXPECT_EQ(grid.RowCount(), 3);
            EXPECT_EQ(Cells(grid, 1), before);
            EXPECT_NE(grid.RowResults(1), nullptr);
            continue;
        }
        EXPECT_EQ(b.view.errors.size(), errors);
        EXPECT_EQ(Cells(grid, 1).mid(0, 4), s.row1);
        EXPECT_EQ(grid.RowResults(1), nullptr);
        EXPECT_EQ(grid.Title, s.title);
        EXPECT_TRUE(grid.RowInputProblem(1).isEmpty()) << grid.RowInputProblem(1).toStdString();
    }
}

// "Заполнить точки": the sets each configuration offers, and the points of one set of each, in the
// order they are appended (current, voltage, angle, frequency).
TEST(VerificationWindow, PointSetsOfEachConfiguration)
{
    struct TCase {
        const char *sim;
        TConfigurationCode code;
        QStringList outputs; // stored output columns of tab 1
        int signal; // "Выходной сигнал, мА" index; -1 as the window starts
        int sets; // how many the menu offers
        int set; // the one filled
        std::vector<double> pct; // percent of the nominal current (or voltage in the U window)
        std::vector<double> angles; // each value at each angle, in this order
        std::vector<double> freqs; // for the frequency set
    };
    const std::vector<double> pct{0, 25, 50, 75, 100, 120};
    const TCase cases[] = {
        {"I", TConfigurationCode::I, {}, -1, 1, 0, pct, {30}, {}},
        {"U", TConfigurationCode::U, {}, -1, 1, 0, pct, {30}, {}},
        {"F", TConfigurationCode::F, {}, -1, 1, 0, {}, {30}, {45, 47.5, 50, 52.5, 55}},
        {"P", TConfigurationCode::P, {}, 0, 5, 2, pct, {60}, {}},
        {"P", TConfigurationCode::P, {}, 0, 5, 4, pct, {0, 180}, {}},
        {"Q", TConfigurationCode::Q, {}, 1, 5, 3, pct, {300}, {}},
        {"Q", TConfigurationCode::Q, {}, 1, 5, 4, pct, {90, 270}, {}},
        {"PQ", TConfigurationCode::PQ, {}, 2, 4, 1, pct, {0}, {}},
        {"PQ", TConfigurationCode::PQ, {}, 0, 6, 5, pct, {90, 270}, {}},
        {"QX4", TConfigurationCode::QX4, {"1", "4"}, 0, 1, 0, pct, {30}, {}},
        {"QX4", TConfigurationCode::QX4, {"4", "22"}, 4, 4, 3, pct, {300}, {}},
        {"QX4E", TConfigurationCode::QX4E, {"23"}, 1, 6, 4, pct, {0, 180}, {}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(std::string(c.sim) + " set " + std::to_string(c.set));
        TBench b(c.sim, c.code);
        ASSERT_TRUE(b.started) << b.startError;
        if (!c.outputs.isEmpty())
            CreateAvtopoverkaConfig(c.code, b.store.get())->WriteTabOutputSet(0, c.outputs);
        TAvtopoverkaLogic &logic = b.Open();
        if (c.signal >= 0)
            logic.OutputSignalChosen(c.signal);
        ASSERT_EQ(logic.PointSetCaptions().size(), c.sets) << logic.PointSetCaptions().join(" | ").toStdString();
        const TEntryValues entered{1, 57.74, 30, 51, 1};
        logic.FillPointsClicked(entered, c.set);
        std::vector<std::array<double, 4>> expected;
        for (const double angle : c.angles) {
            for (const double p : c.pct) {
                const bool u = c.code == TConfigurationCode::U;
                expected.push_back({u ? entered.current : logic.NominalI() * p / 100,
                    u ? logic.NominalU() * p / 100 : entered.voltage, angle, entered.frequency});
            }
            for (const double f : c.freqs)
                expected.push_back({entered.current, entered.voltage, angle, f});
        }
        std::vector<std::array<double, 4>> sent; // the points a run of the tab sends, as the rows hold them
        for (const TRunPoint &p : logic.PlanOf(TRunScope::CurrentTab))
            sent.push_back({p.input.Ia.value, p.input.Ua.value, p.input.Angle.value, p.input.Freq.value});
        ASSERT_EQ(sent.size(), expected.size());
        for (size_t k = 0; k < sent.size(); ++k)
            for (size_t j = 0; j < 4; ++j)
                EXPECT_NEAR(sent[k][j], expected[k][j], 1e-9) << "point " << k << ", input " << j;
    }

    // The window's submenu offers the logic's sets and fills with the one chosen.
    TMessages messages;
    TBench b("QX4", TConfigurationCode::QX4);
    CreateAvtopoverkaConfig(TConfigurationCode::QX4, b.store.get())->WriteTabOutputSet(0, {"22"});
    QPointer<TForm2> window = CreateVerificationWindow(b.store.get(), TConfigurationCode::QX4, nullptr);
    ASSERT_TRUE(window);
    QMenu *fill = window->MenuAction(QStringLiteral("Заполнить точки"))->menu();
    ASSERT_NE(fill, nullptr);
    emit fill->aboutToShow();
    QStringList captions;
    for (QAction *a : fill->actions())
        captions << a->text();
    EXPECT_EQ(captions, window->Logic().PointSetCaptions());
    ASSERT_EQ(captions.size(), 6);
    fill->actions()[2]->trigger();
    const auto plan = window->Logic().PlanOf(TRunScope::CurrentTab);
    ASSERT_EQ(plan.size(), 6u);
    EXPECT_EQ(plan[1].input.Angle.value, 60);
    EXPECT_NEAR(plan[5].input.Ia.value, 1.2 * window->Logic().NominalI(), 1e-9);
    window->close();
    DeleteClosed();
    EXPECT_FALSE(window);
}

#include "window_test.moc"
