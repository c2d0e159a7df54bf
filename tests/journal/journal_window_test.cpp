// The archive window "Журнал" on a journal of a few runs: newest first with the result of each,
// filters by device number and by dates, details of the selected run, the actions handed to the
// host, the CSV export read back by the verification tables' own reader, and a screenshot. Then the
// laboratory's side: conclusions and marks in the list, the record in the details, amendments made
// through the dialog as a user would, and a record changed behind the program's back.

#include "journaltesthelpers.h"
#include "testhome.h"

#include "journal/journalwindow.h"
#include "presentation/controls/messageservice.h"
#include "verification/csvmanager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace KestJournalTest;

namespace {

QString OutputFolder()
{
    const char *binary = std::getenv("KEST_BINARY_DIR");
    return binary && *binary ? QString::fromLocal8Bit(binary) : QDir::currentPath();
}

QStringList Column(QTableView *table, int column)
{
    QStringList out;
    for (int r = 0; r < table->model()->rowCount(); ++r)
        out << table->model()->index(r, column).data().toString();
    return out;
}

TEST(JournalWindow, ListsFiltersShowsOpensAndExportsRuns)
{
    const QString folder = KestTestHome::NewFolder();
    TJournalOptions options = TJournalOptions::Local(folder);
    TJournal journal(options);
    ASSERT_TRUE(journal.Open());

    struct TRun {
        const char *started;
        const char *device;
        std::vector<int> points;
        std::optional<TJournalRunEnd> end;
    };
    const TRun runs[] = {
        {"2024-03-01T09:30:00", "151234", {1, 2, 3, 4}, TJournalRunEnd{TJournalOutcome::Finished}},
        {"2024-03-05T10:00:00", "151235", {1, 2, 4}, TJournalRunEnd{TJournalOutcome::Finished}},
        {"2024-03-09T11:00:00", "151236", {1}, TJournalRunEnd{TJournalOutcome::Stopped}},
        {"2024-03-10T12:00:00", "151237", {1, 2}, std::nullopt},
        {"2024-03-12T13:00:00", "151238", {}, TJournalRunEnd{TJournalOutcome::Failed, "Порт не найден"}},
    };
    std::vector<TJournalRunId> ids;
    for (const TRun &r : runs) {
        TJournalRunHeader h = SampleHeader(2, 4, QString::fromUtf8(r.device));
        h.started = QDateTime::fromString(QString::fromUtf8(r.started), Qt::ISODate);
        ids.push_back(journal.BeginRun(h));
        for (int k : r.points) {
            TJournalPoint p = SamplePoint(k, h);
            p.tab = h.planned[size_t(k - 1)].tab;
            ASSERT_TRUE(journal.AddPoint(ids.back(), p));
        }
        if (r.end) {
            ASSERT_TRUE(journal.EndRun(ids.back(), *r.end));
        }
    }
    TJournalTuningHeader tuning = SampleTuningHeader("151234");
    tuning.started = QDateTime::fromString("2024-03-11T08:00:00", Qt::ISODate);
    const TJournalRunId tid = journal.BeginTuning(tuning);
    journal.AddTuningLine(tid, "Сдвиг на 10 вниз");
    journal.SetAsFound(tid, SampleReadback(1));
    journal.EndTuning(tid, {TJournalOutcome::Finished});

    QStringList shown;
    TScopedMessageHandler boxes([&](QWidget *, const TMessageService::TMessage &m) {
        shown << m.text;
        return QMessageBox::Ok;
    });
    TJournalWindow window(&journal);
    std::vector<TJournalRunId> opened, reported;
    window.Logic().SetOpenHandler([&](const TJournalRunId &id) { opened.push_back(id); });
    window.Logic().SetReportHandler([&](const TJournalRunId &id) { reported.push_back(id); });
    window.resize(1000, 620);
    window.show();
    auto *table = window.findChild<QTableView *>("runsTable");
    ASSERT_TRUE(table);
    EXPECT_EQ(window.windowTitle(), QString("Журнал"));
    EXPECT_EQ(window.findChild<QLabel *>("stateLabel")->text(), "Журнал: " + options.localFile);

    EXPECT_EQ(Column(table, 3), (QStringList{"151238", "151234", "151237", "151236", "151235", "151234"}));
    EXPECT_EQ(Column(table, 6),
        (QStringList{"Ошибка: Порт не найден", "Настроен", "Не завершена", "Остановлена", "Пройдена",
            "Не пройдена: точек с превышением 1"}));
    EXPECT_EQ(Column(table, 1)[1], QString("Настройка"));
    EXPECT_EQ(Column(table, 4)[5], QString("Петров П. П."));
    EXPECT_EQ(Column(table, 5)[5], QString("4"));

    auto *device = window.findChild<QLineEdit *>("deviceNumber");
    auto *find = window.findChild<QPushButton *>("findButton");
    device->setText("151234");
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_EQ(Column(table, 6), (QStringList{"Настроен", "Не пройдена: точек с превышением 1"}));
    device->clear();
    window.findChild<QCheckBox *>("dateFilter")->setChecked(true);
    window.findChild<QDateEdit *>("fromDate")->setDate(QDate(2024, 3, 9)); // given in reverse: still a range
    window.findChild<QDateEdit *>("toDate")->setDate(QDate(2024, 3, 5));
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_EQ(Column(table, 3), (QStringList{"151236", "151235"}));
    window.findChild<QCheckBox *>("dateFilter")->setChecked(false);
    QTest::mouseClick(find, Qt::LeftButton);
    ASSERT_EQ(table->model()->rowCount(), 6);

    // The tuning run: its details and log, but nothing to open or report.
    auto *open = window.findChild<QPushButton *>("openButton");
    auto *exportButton = window.findChild<QPushButton *>("exportButton");
    auto *report = window.findChild<QPushButton *>("reportButton");
    auto *details = window.findChild<QPlainTextEdit *>("details");
    table->selectRow(1);
    EXPECT_FALSE(open->isEnabled());
    EXPECT_TRUE(details->toPlainText().contains("Сдвиг на 10 вниз"));
    EXPECT_TRUE(details->toPlainText().contains("KU = 10000/100, KI = 5/1")) << details->toPlainText().toStdString();

    // The oldest run: who verified it, with which coefficients and limits; open and report go to
    // the host with its id.
    table->selectRow(5);
    EXPECT_EQ(window.SelectedRun(), ids[0]);
    const QString text = details->toPlainText();
    for (const char *part :
        {"KU = 100/100, KI = 5/5", "Verifier: Петров П. П.", "базовая 0,2 %", "Точек измерено: 4 из 8"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part << "\n" << text.toStdString();
    ASSERT_TRUE(open->isEnabled() && exportButton->isEnabled() && report->isEnabled());
    QTest::mouseClick(open, Qt::LeftButton);
    QTest::mouseClick(report, Qt::LeftButton);
    EXPECT_EQ(opened, std::vector<TJournalRunId>{ids[0]});
    EXPECT_EQ(reported, std::vector<TJournalRunId>{ids[0]});

    // Export: a scenario file the verification window's reader takes, with every table, title and
    // cell of the run as shown.
    const QString path = folder + "/exported";
    QString suggested;
    window.SetSavePathProvider([&](const QString &s) {
        suggested = s;
        return path;
    });
    QTest::mouseClick(exportButton, Qt::LeftButton);
    EXPECT_TRUE(suggested.endsWith("Поверка 151234 2024-03-01 09-30.csv")) << suggested.toStdString();
    ASSERT_EQ(shown.size(), 1) << shown.join('\n').toStdString();
    EXPECT_TRUE(shown[0].contains(path + ".csv"));
    const auto run = journal.LoadRun(ids[0]);
    ASSERT_TRUE(run);
    TCsvLoadResult result;
    const auto grids = TCsvManager().CsvToGrids(path + ".csv", &result);
    ASSERT_EQ(grids.size(), 2u);
    EXPECT_TRUE(result.Message().isEmpty()) << result.Message().toStdString();
    const auto tables = run->ShownTables();
    for (size_t t = 0; t < 2; ++t) {
        EXPECT_EQ(grids[t]->Title, tables[t].layout->title);
        ASSERT_EQ(grids[t]->RowCount(), int(tables[t].rows.size()) + 1);
        for (size_t r = 0; r < tables[t].rows.size(); ++r)
            for (int c = 0; c < tables[t].rows[r].cells.size(); ++c)
                EXPECT_EQ(grids[t]->Cells(c, int(r) + 1), tables[t].rows[r].cells[c]) << t << "/" << r << "/" << c;
    }
    EXPECT_TRUE(tables[0].rows[2].measured);
    EXPECT_TRUE(grids[0]->Cells(5, 3).endsWith("%")) << "results travel with the export";

    // For a person to look at; the result cells are coloured by outcome.
    table->selectRow(4);
    QTest::qWait(50);
    const QImage image = window.grab().toImage();
    const QString png = OutputFolder() + "/journal_window.png";
    ASSERT_TRUE(image.save(png));
    std::printf("screenshot: %s\n", qPrintable(png));
    auto colourOf = [&](int row) {
        const QRect cell = table->visualRect(table->model()->index(row, 6));
        const QPoint at
            = table->viewport()->mapTo(&window, cell.topLeft() + QPoint(cell.width() - 4, cell.height() / 2));
        return QColor(image.pixel(at * image.devicePixelRatio()));
    };
    EXPECT_EQ(colourOf(3), QColor(255, 240, 190)); // stopped: not selected, neither passed nor failed
    EXPECT_EQ(colourOf(5), QColor(255, 205, 200)); // failed points

    // "Выгрузить в «Аршин»…": the finished verifications of the list, or of the rows selected when more
    // than one is; an open, stopped or tuning run never.
    QStringList handed; // per click, the runs as "A B" by their device numbers
    window.SetArshinHandler([&](const std::vector<TJournalRunId> &runs, bool) {
        QStringList devices;
        for (const TJournalRunId &id : runs)
            devices << journal.LoadRun(id)->header.DeviceNumber();
        handed << devices.join(' ');
    });
    auto *arshin = window.findChild<QPushButton *>("arshinButton");
    table->selectRow(4);
    arshin->click();
    // The list is read again after each export, and its selection goes with it.
    auto select = [&](std::initializer_list<int> rows) {
        table->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(
                table->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    select({4, 2}); // 151235, and 151237 still open
    arshin->click();
    select({5, 2, 4});
    arshin->click();
    select({1, 3}); // a tuning run and a stopped one
    shown.clear();
    arshin->click();
    EXPECT_EQ(handed, (QStringList{"151235 151234", "151235", "151235 151234"}));
    EXPECT_EQ(shown, QStringList{"Среди выделенных нет законченных поверок для выгрузки"});
}

TEST(JournalWindow, ShowsAndAmendsTheLaboratorysRecords)
{
    const QString folder = KestTestHome::NewFolder();
    const TJournalOptions options = TJournalOptions::Local(folder);
    TJournal journal(options);
    ASSERT_TRUE(journal.Open());

    TStandard installation;
    installation.name = "Установка поверочная KEST-01";
    installation.typeNumber = "12345-18";
    installation.serial = "0042";
    installation.fundNumber = "77050.19.1Р.00123456";
    installation.validUntil = QDate(2027, 3, 31);
    TStandard hygrometer;
    hygrometer.name = "Гигрометр ИВА-6";
    hygrometer.kind = TStandardKind::Auxiliary;
    hygrometer.validUntil = QDate(2026, 12, 1);
    ASSERT_TRUE(journal.Registry().SaveStandard(installation) && journal.Registry().SaveStandard(hygrometer));
    TInstrumentType type;
    type.name = "Преобразователь измерительный QX4";
    type.typeNumber = "74910-19";
    type.procedure = "МП 206.1-123-2019";

    // Fit: the ended run with the laboratory's record; Open: still running; Suspect: used the
    // hygrometer, found out of tolerance from its day on.
    auto run = [&](const char *start, const char *device, std::vector<TStandard> standards,
                   std::optional<TVerdict> verdict) {
        TJournalRunHeader h = SampleHeader(1, 3, QString::fromUtf8(device));
        h.started = QDateTime::fromString(QString::fromLatin1(start), Qt::ISODate);
        h.lab.type = type;
        h.lab.modification = "QX4-7";
        h.lab.owner = "АО «Энергия»";
        h.lab.kind = TVerificationKind::Primary;
        h.lab.conditions.temperature = 21.5;
        h.lab.conditions.humidity = 55;
        h.lab.standards = std::move(standards);
        h.lab.lowestAccuracyRatio = 2.5;
        h.lab.lowRatioNotes = {"ток: соотношение 2,5 ниже 3"};
        const TJournalRunId id = journal.BeginRun(h);
        for (int k = 1; k <= 3; ++k)
            EXPECT_TRUE(journal.AddPoint(id, SamplePoint(k, h)));
        if (verdict) {
            TJournalRunEnd end(TJournalOutcome::Finished);
            end.verdict = verdict;
            EXPECT_TRUE(journal.EndRun(id, end));
        }
        return id;
    };
    TVerdict unfit;
    unfit.reasons = {"превышение допускаемой основной погрешности: Ia при 5 A (−0,40 % при пределе ±0,2 %)"};
    TVerdict fit;
    fit.fit = true;
    const TJournalRunId unfitRun = run("2026-06-01T10:00:00", "151001", {installation, hygrometer}, unfit);
    const TJournalRunId openRun = run("2026-06-02T10:00:00", "151002", {installation}, std::nullopt);
    const TJournalRunId suspectRun = run("2026-06-03T10:00:00", "151003", {hygrometer}, fit);
    hygrometer.outOfToleranceSince = QDate(2026, 6, 3);
    ASSERT_TRUE(journal.Registry().SaveStandard(hygrometer));

    QStringList errors, messages;
    TScopedMessageHandler boxes([&](QWidget *, const TMessageService::TMessage &m) {
        (m.kind == TMessageService::TKind::Error ? errors : messages) << m.text;
        return QMessageBox::Ok;
    });
    TJournalWindow window(&journal);
    window.resize(1250, 720);
    window.show();
    auto *table = window.findChild<QTableView *>("runsTable");
    auto *details = window.findChild<QPlainTextEdit *>("details");
    auto *amendButton = window.findChild<QPushButton *>("amendButton");
    ASSERT_TRUE(table && details && amendButton);
    auto rowOf = [&](const TJournalRunId &id) {
        window.findChild<QPushButton *>("findButton")->click();
        for (int r = 0; r < table->model()->rowCount(); ++r) {
            table->selectRow(r);
            if (window.SelectedRun() == id)
                return r;
        }
        ADD_FAILURE() << "not listed";
        return 0;
    };
    // Each run's result, conclusion and marks, and whether it is shown in red.
    auto expectListed = [&](const TJournalRunId &id, const char *result, const char *verdict, const char *marks,
                            bool red, const char *when) {
        const int r = rowOf(id);
        const QAbstractItemModel *m = table->model();
        EXPECT_EQ(m->headerData(7, Qt::Horizontal).toString(), "Заключение");
        EXPECT_EQ(m->index(r, 6).data().toString(), QString::fromUtf8(result)) << when;
        EXPECT_EQ(m->index(r, 7).data().toString(), QString::fromUtf8(verdict)) << when;
        EXPECT_EQ(m->index(r, 8).data().toString(), QString::fromUtf8(marks)) << when;
        EXPECT_EQ(m->index(r, 3).data(Qt::ForegroundRole).value<QColor>() == QColor(200, 0, 0), red) << when;
    };
    const struct {
        TJournalRunId id;
        const char *result, *verdict, *marks;
    } listed[] = {
        {unfitRun, "Не пройдена: точек с превышением 1", "непригоден", ""},
        {openRun, "Не завершена", "", ""},
        {suspectRun, "Не пройдена: точек с превышением 1", "пригоден", "эталон вне допуска"},
    };
    for (const auto &l : listed)
        expectListed(l.id, l.result, l.verdict, l.marks, false, "as journalled");

    // A run whose end still waits in a bench's buffer is not an unfinished one.
    TJournalRunSummary buffered;
    buffered.id = "buffered";
    buffered.endBuffered = true;
    window.ShowRuns({buffered});
    EXPECT_EQ(table->model()->index(0, 6).data().toString(), "конец в буфере стенда");

    rowOf(unfitRun);
    auto expectDetails = [&](std::initializer_list<const char *> parts, const char *when) {
        const QString text = details->toPlainText();
        for (const char *part : parts)
            EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << when << ": " << part << "\n" << text.toStdString();
    };
    expectDetails(
        {"Тип СИ: Преобразователь измерительный QX4, № в ГРСИ 74910-19, методика поверки МП 206.1-123-2019",
            "Модификация: QX4-7", "Владелец: АО «Энергия»", "Вид поверки: первичная",
            "Условия: температура 21,5 °C, относительная влажность 55 %", "Эталоны:",
            "  Установка поверочная KEST-01, № в ГРСИ 12345-18, зав. № 0042, рег. № 77050.19.1Р.00123456, "
            "действителен до 31.03.2027",
            "  Гигрометр ИВА-6, действителен до 01.12.2026", "наименьшее 2,5", "  ток: соотношение 2,5 ниже 3",
            "Заключение: непригоден: превышение допускаемой основной погрешности: Ia при 5 A (−0,40 %",
            "Запись: не изменялась вне программы"},
        "as journalled");
    EXPECT_FALSE(details->toPlainText().contains("Изменения после поверки")) << "none yet";

    // Answers the dialog as a user: the field, the new value, the reason and the author; "Записать".
    QString shot;
    auto amend = [&](const char *field, const char *old, const char *value, const char *reason, const char *who) {
        amendButton->click();
        QPointer<QDialog> dialog = window.findChild<QDialog *>("amendDialog");
        if (!dialog)
            return false;
        auto *fieldBox = dialog->findChild<QComboBox *>("amendField");
        fieldBox->setCurrentText(QString::fromUtf8(field));
        EXPECT_EQ(fieldBox->currentText(), QString::fromUtf8(field));
        EXPECT_EQ(dialog->findChild<QLineEdit *>("amendOldValue")->text(), QString::fromUtf8(old)) << field;
        EXPECT_TRUE(dialog->findChild<QLineEdit *>("amendOldValue")->isReadOnly());
        auto *verdict = dialog->findChild<QComboBox *>("amendVerdict");
        EXPECT_EQ(verdict->isVisible(), QString(field) == "verdict") << "the conclusion is chosen, not typed";
        if (verdict->isVisible())
            verdict->setCurrentText(QString::fromUtf8(value));
        else
            dialog->findChild<QLineEdit *>("amendNewValue")->setText(QString::fromUtf8(value));
        dialog->findChild<QLineEdit *>("amendReason")->setText(QString::fromUtf8(reason));
        if (who)
            dialog->findChild<QLineEdit *>("amendWho")->setText(QString::fromUtf8(who));
        if (shot.isEmpty()) {
            shot = OutputFolder() + "/journal_amend_dialog.png";
            EXPECT_TRUE(dialog->grab().save(shot));
            std::printf("screenshot: %s\n", qPrintable(shot));
        }
        QTest::mouseClick(
            dialog->findChild<QDialogButtonBox *>("amendButtons")->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool closed = !dialog;
        if (dialog)
            dialog->reject(), QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return closed;
    };
    EXPECT_FALSE(amend("verdict", "непригоден", "пригоден", "  ", nullptr)) << "refused without a reason";
    EXPECT_EQ(errors, QStringList{"Укажите причину изменения"});
    EXPECT_TRUE(amend("verdict", "непригоден", "пригоден", "повторное измерение Ia в пределах допуска", nullptr));
    EXPECT_EQ(window.SelectedRun(), unfitRun) << "the run stays selected";
    EXPECT_TRUE(amend("Report/ProtocolNum", "17/2", "17/3", "опечатка в номере", "Иванов И. И."));
    EXPECT_TRUE(amend("Report/ProtocolNum", "17/3", "17/4", "вторая опечатка", "Иванов И. И."))
        << "the old value is the amended one";
    EXPECT_FALSE(amend("conditions/temperature", "21,5", "тепло", "ошибка ввода", nullptr));
    EXPECT_FALSE(amend("owner", "АО «Энергия»", "АО «Энергия»", "без изменения", nullptr));
    EXPECT_FALSE(amend("modification", "QX4-7", "QX4-1", "без автора", " "));
    EXPECT_EQ(errors.mid(1),
        (QStringList{"«тепло» — не число", "Новое значение совпадает с прежним", "Укажите, кто вносит изменение"}));
    expectListed(unfitRun, "Не пройдена: точек с превышением 1", "пригоден", "изменено 3", false, "amended");
    rowOf(unfitRun);
    expectDetails(
        {"Заключение: пригоден", "  заменено: Петров П. П., ", ", повторное измерение Ia в пределах допуска",
            "  при поверке: непригоден: превышение допускаемой основной погрешности", "Изменения после поверки:",
            ", Петров П. П.: verdict «непригоден» → «пригоден» (повторное измерение Ia в пределах допуска)",
            ", Иванов И. И.: Report/ProtocolNum «17/2» → «17/3» (опечатка в номере)",
            ", Иванов И. И.: Report/ProtocolNum «17/3» → «17/4» (вторая опечатка)"},
        "amended");
    const auto stored = journal.LoadRun(unfitRun);
    ASSERT_TRUE(stored && stored->amendments.size() == 3u);
    EXPECT_EQ(JournalValueOf(stored->header.reportData, "ProtocolNum"), "17/2") << "the record itself unchanged";
    EXPECT_EQ(TJournalArchiveLogic::CurrentValue(*stored, "Report/ProtocolNum"), "17/4") << "the last one wins";
    EXPECT_EQ(TJournalArchiveLogic::CurrentValue(*stored, "conditions/pressure"), "") << "not entered";

    // The open run: refused before a dialog, and by the journal when asked directly.
    rowOf(openRun);
    errors.clear();
    amendButton->click();
    EXPECT_EQ(window.findChild<QDialog *>("amendDialog"), nullptr);
    EXPECT_FALSE(window.Logic().Amend(openRun, "owner", "ООО «Другой»", "проверка", "Петров П. П."));
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[0].startsWith("Поверка не завершена")) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].startsWith("Изменение не записано: ") && errors[1].contains("не завершена"))
        << errors[1].toStdString();

    // A point's cells changed in the file behind the program's back.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tamper");
        db.setDatabaseName(options.localFile);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(
            QString("UPDATE journal_points SET cells = '[\"0,1\"]' WHERE run = '%1' AND seq = 2").arg(unfitRun)));
        EXPECT_EQ(q.numRowsAffected(), 1);
    }
    QSqlDatabase::removeDatabase("tamper");
    expectListed(unfitRun, "Не пройдена: точек с превышением 1", "пригоден",
        "запись изменена вне программы; изменено 3", true, "changed outside");
    expectListed(
        suspectRun, "Не пройдена: точек с превышением 1", "пригоден", "эталон вне допуска", false, "changed outside");
    rowOf(unfitRun);
    expectDetails({"Внимание: запись изменена вне программы"}, "changed outside");
    table->selectRow(0); // the changed run in red, not hidden by the selection
    QTest::qWait(50);
    const QString png = OutputFolder() + "/journal_window_lab.png";
    ASSERT_TRUE(window.grab().save(png));
    std::printf("screenshot: %s\n", qPrintable(png));
}

} // namespace
