// The archive window "Журнал" on a journal of a few runs: newest first with the result of each,
// filters by device number and by dates, details of the selected run, the actions handed to the
// host, the CSV export read back by the verification tables' own reader, and a screenshot.

#include "journaltesthelpers.h"
#include "testhome.h"

#include "journal/journalwindow.h"
#include "presentation/controls/messageservice.h"
#include "verification/csvmanager.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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
}

} // namespace
