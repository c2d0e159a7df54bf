// The results journal against a SQLite file and against a real PostgreSQL server started for this
// program: runs and points back field for field, the archive's filters, a process killed after k
// points, damaged files, older and newer schemas, a full disk and a read-only folder, the server
// stopped in the middle of a run, and the password file.

#include "journaltesthelpers.h"
#include "testhome.h"

#include "config/configcontroller.h"
#include "journal/journalcodec.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include <unistd.h>

using namespace KestJournalTest;

namespace {

class TPgEnvironment : public ::testing::Environment {
public:
    void TearDown() override { TPgServer::Instance().Stop(); }
};
[[maybe_unused]] const auto *const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new TPgEnvironment);

enum class TBackend { File, Server };

std::string BackendName(const ::testing::TestParamInfo<TBackend> &info)
{
    return info.param == TBackend::File ? "File" : "Server";
}

QByteArray Hash(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

struct TOpened {
    std::unique_ptr<TJournal> journal;
    QStringList messages;
};

class JournalTest : public ::testing::TestWithParam<TBackend> {
protected:
    void SetUp() override
    {
        folder_ = KestTestHome::NewFolder();
        if (Server()) {
            ASSERT_TRUE(TPgServer::Instance().Start()) << TPgServer::Instance().Error().toStdString();
            connection_ = TPgServer::Instance().NewDatabase();
            ASSERT_TRUE(TPgServer::Instance().Error().isEmpty()) << TPgServer::Instance().Error().toStdString();
        }
    }
    bool Server() const { return GetParam() == TBackend::Server; }
    TJournalOptions Options() const
    {
        TJournalOptions o = TJournalOptions::Local(folder_);
        o.retrySeconds = 0;
        if (Server())
            o.server = connection_;
        return o;
    }
    // A journal as the program opens it, with the messages it gave.
    TOpened Open(TJournalOptions options) const
    {
        TOpened o;
        o.journal = std::make_unique<TJournal>(std::move(options));
        auto *messages = &o.messages;
        o.journal->SetMessageHandler([messages](const QString &m) { messages->append(m); });
        o.journal->Open();
        return o;
    }
    TOpened Open() const { return Open(Options()); }
    QString JournalFile() const { return folder_ + "/journal.sqlite"; }
    // The journal's own database: the file, or the server's database.
    TJournalConnection StoreConnection() const
    {
        TJournalConnection c = connection_;
        if (!Server()) {
            c.dialect = TJournalDialect::SQLite;
            c.file = JournalFile();
        }
        return c;
    }
    // Statements on the journal's own database.
    bool Sql(const QStringList &statements)
    {
        TJournalStore store(StoreConnection());
        if (!store.Open(false)) {
            ADD_FAILURE() << store.LastError().toStdString();
            return false;
        }
        QSqlDatabase db = store.Database();
        for (const QString &s : statements) {
            QSqlQuery q(db);
            if (!q.exec(s)) {
                ADD_FAILURE() << s.toStdString();
                return false;
            }
        }
        return true;
    }

    QString folder_;
    TJournalConnection connection_;
};

TEST_P(JournalTest, RunsAndTuningComeBackFieldForField)
{
    TOpened a = Open();
    ASSERT_TRUE(a.journal->State().journalling) << a.journal->State().Text().toStdString();
    EXPECT_TRUE(a.messages.isEmpty()) << a.messages.join('\n').toStdString();
    EXPECT_EQ(a.journal->State().backend, Server() ? TJournalBackend::Server : TJournalBackend::File);

    TJournalRunHeader header = SampleHeader(2, 6);
    header.started = QDateTime::fromMSecsSinceEpoch(1700000000000LL);
    const TJournalRunId id = a.journal->BeginRun(header);
    ASSERT_FALSE(id.isEmpty());
    std::vector<TJournalPoint> written;
    for (int k = 1; k <= 8; ++k) {
        written.push_back(SamplePoint(k, header));
        EXPECT_TRUE(a.journal->AddPoint(id, written.back())) << k;
    }
    if (!Server()) {
        EXPECT_TRUE(QFile::exists(JournalFile() + "-wal")) << "the file is not in write-ahead logging";
    }

    // While this process writes the run, nobody is offered to restore it.
    TOpened b = Open();
    EXPECT_TRUE(b.journal->UnfinishedRuns().empty());
    EXPECT_TRUE(a.journal->EndRun(id, {TJournalOutcome::Stopped, QString()}));

    const auto run = b.journal->LoadRun(id);
    ASSERT_TRUE(run) << b.journal->LastReadError().toStdString();
    header.id = id;
    header.programVersion = TJournal::ProgramVersion();
    header.bench = TJournal::BenchName();
    EXPECT_EQ(Difference(header, run->header), QString());
    ASSERT_EQ(run->points.size(), written.size());
    int failed = 0;
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(run->points[i].seq, int(i) + 1);
        EXPECT_EQ(Difference(written[i], run->points[i]), QString()) << "point " << i + 1;
        failed += written[i].HasOverLimit() ? 1 : 0;
    }
    ASSERT_TRUE(run->end);
    EXPECT_EQ(run->end->outcome, TJournalOutcome::Stopped);

    // The tables as they stood: tab 1 fully measured, tab 2 up to its second row; the plan goes on
    // after point 8.
    const auto tables = run->ShownTables();
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[1].layout->title, header.tables[1].title);
    EXPECT_EQ(tables[1].rows[1].cells, written[7].cells);
    EXPECT_EQ(tables[1].rows[1].marks, written[7].marks);
    EXPECT_FALSE(tables[1].rows[2].measured);
    EXPECT_EQ(tables[1].rows[2].cells, header.tables[1].rows[2]);
    EXPECT_EQ(run->ResumePosition(), 8);

    // A later process takes the run up again: its numbering goes on.
    TOpened c = Open();
    EXPECT_TRUE(c.journal->AddPoint(id, SamplePoint(9, header)));
    const auto resumed = c.journal->LoadRun(id);
    ASSERT_TRUE(resumed);
    ASSERT_EQ(resumed->points.size(), 9u);
    EXPECT_EQ(resumed->points.back().seq, 9);

    // A tuning run: log lines in order, the first and the last readback, its end.
    TJournalTuningHeader tuning = SampleTuningHeader("777");
    tuning.started = header.started.addSecs(60);
    const TJournalRunId tid = c.journal->BeginTuning(tuning);
    for (const char *line : {"Настройка начата", "Сдвиг на 10 вниз", "Готово."})
        EXPECT_TRUE(c.journal->AddTuningLine(tid, QString::fromUtf8(line)));
    EXPECT_TRUE(c.journal->SetAsFound(tid, SampleReadback(1)));
    EXPECT_TRUE(c.journal->SetAsLeft(tid, SampleReadback(2)));
    EXPECT_TRUE(c.journal->SetAsLeft(tid, SampleReadback(3)));
    EXPECT_TRUE(c.journal->EndTuning(tid, {TJournalOutcome::Finished}));
    const auto t = b.journal->LoadTuning(tid);
    ASSERT_TRUE(t) << b.journal->LastReadError().toStdString();
    ASSERT_EQ(t->lines.size(), 3u);
    EXPECT_EQ(t->lines[1].text, QString("Сдвиг на 10 вниз"));
    ASSERT_TRUE(t->asFound && t->asLeft);
    EXPECT_EQ(t->asFound->device, SampleReadback(1).device);
    EXPECT_EQ(t->asLeft->device, SampleReadback(3).device);
    EXPECT_EQ(t->asLeft->errors, SampleReadback(3).errors);
    EXPECT_EQ(t->header.device.factoryNumber, QString("777"));
    ASSERT_TRUE(t->end);

    const auto list = b.journal->ListRuns();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, tid); // newest first
    EXPECT_EQ(list[0].kind, TJournalRunKind::Tuning);
    EXPECT_EQ(list[0].ResultText(), QString("Настроен"));
    EXPECT_EQ(list[1].points, 9);
    EXPECT_EQ(list[1].failedPoints, failed + (SamplePoint(9, header).HasOverLimit() ? 1 : 0));
    EXPECT_EQ(list[1].deviceNumber, QString("151234"));
    EXPECT_EQ(list[1].verifier, QString("Петров П. П."));
    EXPECT_EQ(list[1].configuration, QString("QX4"));
    EXPECT_EQ(list[1].ResultText(), QString("Остановлена"));
    TJournalFilter tuningOnly;
    tuningOnly.kind = TJournalRunKind::Tuning;
    EXPECT_EQ(b.journal->ListRuns(tuningOnly).size(), 1u);

    // Each kind of run is read only as itself, and an unreadable header is named after its kind.
    ASSERT_TRUE(Sql({"UPDATE journal_headers SET header = 'x'"}));
    TJournalStore store(StoreConnection());
    ASSERT_TRUE(store.Open(false)) << store.LastError().toStdString();
    const struct {
        TJournalRunId run;
        bool tuning;
        const char *unreadable;
    } kinds[] = {{id, false, "заголовок поверки не читается"}, {tid, true, "заголовок настройки не читается"}};
    for (const auto &k : kinds) {
        EXPECT_FALSE(k.tuning ? store.LoadRun(k.run).has_value() : store.LoadTuning(k.run).has_value());
        EXPECT_EQ(store.LastFailure(), TJournalFailure::None) << k.unreadable;
        EXPECT_FALSE(k.tuning ? store.LoadTuning(k.run).has_value() : store.LoadRun(k.run).has_value());
        EXPECT_EQ(store.LastFailure(), TJournalFailure::Damaged) << k.unreadable;
        EXPECT_EQ(store.LastError().toStdString(), std::string(k.unreadable));
    }
}

TEST_P(JournalTest, ArchiveFiltersByDateAndDeviceNumberNewestFirst)
{
    TOpened o = Open();
    struct TRun {
        const char *started;
        const char *device;
    };
    const TRun runs[] = {
        {"2024-03-01T10:00:00", "151234"},
        {"2024-03-15T23:59:00", "151299"},
        {"2024-03-16T00:00:00", "A_1%"},
        {"2024-04-01T08:00:00", "AB1x"},
        {"2024-02-28T12:00:00", "xyz1512"},
    };
    std::vector<TJournalRunId> ids;
    for (const TRun &r : runs) {
        TJournalRunHeader h = SampleHeader(1, 2, QString::fromUtf8(r.device));
        h.started = QDateTime::fromString(QString::fromUtf8(r.started), Qt::ISODate);
        ids.push_back(o.journal->BeginRun(h));
        o.journal->EndRun(ids.back(), {TJournalOutcome::Finished});
    }
    auto day
        = [](const char *d) { return QDateTime(QDate::fromString(QString::fromUtf8(d), Qt::ISODate), QTime(0, 0)); };
    struct TCase {
        const char *from, *to, *device; // `to` is the last day included
        std::vector<int> expected; // indices into `runs`, in the order listed
    };
    const TCase cases[] = {
        {nullptr, nullptr, "", {3, 2, 1, 0, 4}},
        {nullptr, nullptr, "1512", {1, 0, 4}},
        {nullptr, nullptr, "_1%", {2}}, // taken literally, never as a pattern
        {nullptr, nullptr, "a_1", {2}}, // case does not matter
        {"2024-03-01", "2024-03-15", "", {1, 0}},
        {"2024-03-16", "2024-03-16", "", {2}},
        {"2024-02-01", "2024-03-10", "1512", {0, 4}},
        {"2024-05-01", nullptr, "", {}},
    };
    for (const TCase &c : cases) {
        TJournalFilter f;
        if (c.from)
            f.from = day(c.from);
        if (c.to)
            f.to = day(c.to).addDays(1);
        f.deviceNumber = QString::fromUtf8(c.device);
        std::vector<TJournalRunId> expected, got;
        for (int i : c.expected)
            expected.push_back(ids[size_t(i)]);
        for (const TJournalRunSummary &s : o.journal->ListRuns(f))
            got.push_back(s.id);
        EXPECT_EQ(got, expected) << (c.from ? c.from : "-") << ".." << (c.to ? c.to : "-") << " '" << c.device << "'";
    }
}

// A process that journals k points and is killed with SIGKILL: the next start finds the run
// unfinished, with exactly those k points, cell for cell.
TEST_P(JournalTest, RunKilledAfterKPointsComesBackWithExactlyThem)
{
    const int k = 7;
    QStringList args{"--folder", folder_, "--points", QString::number(k), "--hang"};
    if (Server())
        args << "--host" << connection_.host << "--database" << connection_.database << "--user" << connection_.user;
    QProcess helper;
    helper.start(QString::fromLocal8Bit(KEST_JOURNAL_HELPER), args);
    ASSERT_TRUE(helper.waitForStarted(30000));
    QString output, runId;
    while (!output.contains("waiting\n") && helper.state() == QProcess::Running)
        if (helper.waitForReadyRead(120000))
            output += QString::fromUtf8(helper.readAllStandardOutput());
    ASSERT_TRUE(output.contains("waiting\n")) << output.toStdString() << helper.readAllStandardError().toStdString();
    ::kill(pid_t(helper.processId()), SIGKILL);
    helper.waitForFinished(30000);
    const auto m = QRegularExpression("run (\\S+)").match(output);
    ASSERT_TRUE(m.hasMatch());
    runId = m.captured(1);
    EXPECT_EQ(output.count(" durable"), k) << output.toStdString();

    TOpened o = Open();
    const auto unfinished = o.journal->UnfinishedRuns();
    ASSERT_EQ(unfinished.size(), 1u);
    EXPECT_EQ(unfinished[0].id, runId);
    EXPECT_EQ(unfinished[0].points, k);
    EXPECT_EQ(unfinished[0].outcome, TJournalOutcome::Open);
    const auto run = o.journal->LoadRun(runId);
    ASSERT_TRUE(run);
    EXPECT_FALSE(run->end);
    ASSERT_EQ(int(run->points.size()), k);
    for (int i = 1; i <= k; ++i)
        EXPECT_EQ(Difference(SamplePoint(i, run->header), run->points[size_t(i - 1)]), QString()) << i;
    EXPECT_EQ(run->ResumePosition(), k);
    // Declining the restore ends the run, and it is not offered again.
    EXPECT_TRUE(o.journal->EndRun(runId, {TJournalOutcome::Failed, "Программа завершилась во время поверки"}));
    EXPECT_TRUE(Open().journal->UnfinishedRuns().empty());
}

TEST_P(JournalTest, OlderSchemaIsCarriedForwardNewerIsRefusedUntouched)
{
    // A journal written by the first version of the schema, with one run of two points.
    {
        TJournalConnection c = connection_;
        if (!Server()) {
            c.dialect = TJournalDialect::SQLite;
            c.file = JournalFile();
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(Server() ? "QPSQL" : "QSQLITE", "v1");
        db.setDatabaseName(Server() ? c.database : c.file);
        db.setHostName(c.host);
        db.setPort(c.port);
        db.setUserName(c.user);
        ASSERT_TRUE(db.open());
        QString error;
        ASSERT_TRUE(KestJournalSchema::Upgrade(db, c.dialect, 0, 1, error)) << error.toStdString();
        const TJournalRunHeader h = SampleHeader(1, 3);
        QSqlQuery q(db);
        q.prepare(
            "INSERT INTO journal_runs (id, started_ms, outcome, configuration, device_number, verifier, "
            "program_version, points) VALUES ('old-run', 1690000000000, 1, 'QX4', '151234', 'Петров', '1.17', 2)");
        ASSERT_TRUE(q.exec());
        q.prepare("INSERT INTO journal_headers (run, header) VALUES ('old-run', ?)");
        q.addBindValue(KestJournalCodec::EncodeRunHeader(h));
        ASSERT_TRUE(q.exec());
        for (int k = 1; k <= 2; ++k) {
            const TJournalPoint p = SamplePoint(k, h);
            q.prepare("INSERT INTO journal_points (run, seq, tab, row_num, time_ms, installation, cells, marks) "
                      "VALUES ('old-run', ?, ?, ?, ?, ?, ?, ?)");
            q.addBindValue(k);
            q.addBindValue(p.tab);
            q.addBindValue(p.row);
            q.addBindValue(p.time.toMSecsSinceEpoch());
            q.addBindValue(KestJournalCodec::EncodeValues(p.installation));
            q.addBindValue(KestJournalCodec::EncodeCells(p.cells));
            q.addBindValue(KestJournalCodec::EncodeMarks(p.marks));
            ASSERT_TRUE(q.exec());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("v1");
    {
        TOpened o = Open();
        EXPECT_TRUE(o.messages.isEmpty()) << o.messages.join('\n').toStdString();
        ASSERT_TRUE(o.journal->State().journalling) << o.journal->State().Text().toStdString();
        const auto list = o.journal->ListRuns();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].deviceNumber, QString("151234"));
        EXPECT_EQ(list[0].kind, TJournalRunKind::Verification);
        EXPECT_EQ(list[0].ResultText(), QString("Пройдена"));
        const auto old = o.journal->LoadRun("old-run");
        ASSERT_TRUE(old);
        ASSERT_EQ(old->points.size(), 2u);
        EXPECT_EQ(old->points[1].cells, SamplePoint(2, old->header).cells);
        const TJournalRunId id = o.journal->BeginRun(SampleHeader(1, 3));
        EXPECT_TRUE(o.journal->AddPoint(id, SamplePoint(1, SampleHeader(1, 3))));
    }

    // The same journal as a newer program left it: refused, and left byte for byte as it was.
    ASSERT_TRUE(Sql({"UPDATE journal_meta SET value = '99' WHERE key = 'schema_version'"}));
    const QByteArray before = Server() ? QByteArray() : Hash(JournalFile());
    {
        TOpened o = Open();
        ASSERT_EQ(o.messages.size(), 1) << o.messages.join('\n').toStdString();
        EXPECT_TRUE(o.messages[0].contains("более новой версией")) << o.messages[0].toStdString();
        EXPECT_TRUE(o.messages[0].contains("99"));
        const TJournalRunId id = o.journal->BeginRun(SampleHeader(1, 3));
        const bool durable = o.journal->AddPoint(id, SamplePoint(1, SampleHeader(1, 3)));
        if (Server()) {
            // The server is left alone; the points go to the local buffer.
            EXPECT_EQ(o.journal->State().backend, TJournalBackend::ServerBuffered);
            EXPECT_TRUE(durable);
        } else {
            EXPECT_FALSE(durable);
            EXPECT_FALSE(o.journal->State().journalling);
            EXPECT_TRUE(o.journal->State().Text().startsWith("Результаты не записываются в журнал"));
        }
        EXPECT_EQ(o.messages.size(), 1) << "told once";
    }
    if (!Server()) {
        EXPECT_EQ(Hash(JournalFile()), before);
    } else {
        TJournalStore store(connection_);
        EXPECT_FALSE(store.Open(false));
        EXPECT_EQ(store.LastFailure(), TJournalFailure::Newer);
        EXPECT_EQ(store.FoundVersion(), 99);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, JournalTest, ::testing::Values(TBackend::File, TBackend::Server), BackendName);

// ---- the file only ----

class JournalFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = KestTestHome::NewFolder(); }
    TOpened Open(const QString &folder) const
    {
        TOpened o;
        TJournalOptions options = TJournalOptions::Local(folder);
        options.retrySeconds = 0;
        o.journal = std::make_unique<TJournal>(options);
        auto *messages = &o.messages;
        o.journal->SetMessageHandler([messages](const QString &m) { messages->append(m); });
        o.journal->Open();
        return o;
    }
    QString folder_;
};

TEST_F(JournalFileTest, DamagedFileIsMovedAsideAndANewJournalStarts)
{
    // A sound journal of 200 points, to be cut short.
    QByteArray sound;
    {
        const QString f = KestTestHome::NewFolder();
        TOpened o = Open(f);
        const TJournalRunHeader h = SampleHeader(2, 100);
        const TJournalRunId id = o.journal->BeginRun(h);
        for (int k = 1; k <= 200; ++k)
            o.journal->AddPoint(id, SamplePoint(k, h));
        o.journal->EndRun(id, {TJournalOutcome::Finished});
        o.journal.reset();
        QFile file(f + "/journal.sqlite");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        sound = file.readAll();
        ASSERT_GT(sound.size(), 100000);
        ASSERT_FALSE(QFile::exists(f + "/journal.sqlite-wal")) << "closing leaves the log checkpointed";
    }
    struct TCase {
        const char *name;
        QByteArray bytes;
    };
    QByteArray garbage(6000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) % 251);
    const TCase cases[] = {
        {"garbage", garbage},
        {"truncated", sound.left(sound.size() / 3)},
        {"header only", sound.left(100)},
        {"text", QByteArray("results.csv;1;2;3\r\n")},
        {"zeros", QByteArray(8192, '\0')},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = KestTestHome::NewFolder();
        QFile f(folder + "/journal.sqlite");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
        f.close();
        TOpened o = Open(folder);
        ASSERT_EQ(o.messages.size(), 1) << o.messages.join('\n').toStdString();
        EXPECT_TRUE(o.messages[0].contains("повреждён")) << o.messages[0].toStdString();
        const QStringList aside = QDir(folder).entryList({"journal-damaged-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1) << QDir(folder).entryList().join(' ').toStdString();
        EXPECT_TRUE(QRegularExpression("^journal-damaged-\\d{8}-\\d{6}\\.sqlite$").match(aside[0]).hasMatch())
            << aside[0].toStdString();
        EXPECT_TRUE(o.messages[0].contains(aside[0]));
        EXPECT_EQ(Hash(folder + "/" + aside[0]), QCryptographicHash::hash(c.bytes, QCryptographicHash::Sha256));
        ASSERT_TRUE(o.journal->State().journalling);
        const TJournalRunHeader h = SampleHeader(1, 2);
        const TJournalRunId id = o.journal->BeginRun(h);
        EXPECT_TRUE(o.journal->AddPoint(id, SamplePoint(1, h)));
        o.journal.reset();
        TOpened again = Open(folder);
        EXPECT_TRUE(again.messages.isEmpty()) << again.messages.join('\n').toStdString();
        const auto run = again.journal->LoadRun(id);
        ASSERT_TRUE(run);
        EXPECT_EQ(run->points.size(), 1u);
    }
}

TEST_F(JournalFileTest, AFileWhereTheFolderShouldBeLeavesTheRunGoingToldOnce)
{
    const QString notAFolder = folder_ + "/KestManager";
    QFile f(notAFolder);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    TOpened o = Open(notAFolder);
    EXPECT_FALSE(o.journal->State().journalling);
    EXPECT_EQ(o.journal->State().backend, TJournalBackend::None);
    const TJournalRunHeader h = SampleHeader(1, 5);
    const TJournalRunId id = o.journal->BeginRun(h);
    EXPECT_FALSE(id.isEmpty());
    for (int k = 1; k <= 5; ++k)
        EXPECT_FALSE(o.journal->AddPoint(id, SamplePoint(k, h)));
    EXPECT_TRUE(o.journal->EndRun(id, {TJournalOutcome::Finished}) == false);
    ASSERT_EQ(o.messages.size(), 1) << o.messages.join('\n').toStdString();
    EXPECT_TRUE(o.messages[0].contains("не записываются")) << o.messages[0].toStdString();
    EXPECT_EQ(o.journal->State().unwritten, 7); // the header step, five points and the end, kept in memory
    EXPECT_TRUE(o.journal->State().Text().startsWith("Результаты не записываются в журнал"));
}

// Runs the helper in a mount namespace of its own, on a small tmpfs (as root directly, otherwise
// as root of a user namespace), so that the disk can really be full or read-only.
QString RunOnTmpfs(const QString &folder, const QString &mountOptions, const QStringList &helperArgs, int *exitCode)
{
    QProcess p;
    const QString script
        = QStringLiteral("mount -t tmpfs -o %1 tmpfs \"$1\" || exit 97; shift; exec \"$@\"").arg(mountOptions);
    QStringList args{::geteuid() == 0 ? "-m" : "-rm", "sh", "-c", script, "sh", folder,
        QString::fromLocal8Bit(KEST_JOURNAL_HELPER), "--folder", folder};
    args << helperArgs;
    p.start("unshare", args);
    p.waitForFinished(300000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

TEST_F(JournalFileTest, FullDiskAndReadOnlyFolderLeaveTheRunGoingToldOnce)
{
    struct TCase {
        const char *name;
        const char *mount;
        QStringList args;
        int points;
        int storedAtLeast, storedAtMost; // points found afterwards (-1: the journal does not open)
    };
    const TCase cases[] = {
        // The disk fills during the run and stays full: the points before are kept.
        {"full", "size=8m", {"--filler", "7400"}, 400, 1, 399},
        // The disk fills, then space comes back: what was held in memory is written too.
        {"full, then space again", "size=8m", {"--filler", "7400", "--free-after", "5"}, 400, 400, 400},
        // The folder is read-only from the start: nothing is written, nothing stops.
        {"read-only", "ro,size=1m", {}, 50, -1, -1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        int exitCode = 0;
        const QString out = RunOnTmpfs(
            dir.path(), c.mount, QStringList(c.args) << "--points" << QString::number(c.points), &exitCode);
        ASSERT_NE(exitCode, 97) << "no tmpfs in a mount namespace here: " << out.toStdString();
        ASSERT_EQ(exitCode, 0) << out.toStdString();
        EXPECT_EQ(out.count("\nmessage: ") + (out.startsWith("message: ") ? 1 : 0), 1) << out.toStdString();
        EXPECT_TRUE(out.contains("не записываются")) << out.toStdString();
        EXPECT_TRUE(out.contains(QString("point %1 ").arg(c.points))) << "the run went to its end";
        EXPECT_GT(out.count(" held"), 0);
        const auto m = QRegularExpression("stored (-?\\d+)").match(out);
        ASSERT_TRUE(m.hasMatch()) << out.toStdString();
        const int stored = m.captured(1).toInt();
        EXPECT_GE(stored, c.storedAtLeast) << out.toStdString();
        EXPECT_LE(stored, c.storedAtMost) << out.toStdString();
        if (c.storedAtLeast > 0 && c.storedAtMost < c.points) {
            EXPECT_EQ(stored, out.count(" durable")) << "exactly the points reported durable are there";
        }
    }
}

// ---- the server only ----

class JournalServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = KestTestHome::NewFolder();
        ASSERT_TRUE(TPgServer::Instance().Start()) << TPgServer::Instance().Error().toStdString();
        connection_ = TPgServer::Instance().NewDatabase();
    }
    void TearDown() override { TPgServer::Instance().Resume(); }
    QString folder_;
    TJournalConnection connection_;
};

TEST_F(JournalServerTest, ServerStoppedMidRunPointsBufferedThenAllOnTheServer)
{
    TJournalOptions options = TJournalOptions::Local(folder_);
    options.server = connection_;
    options.retrySeconds = 1; // the retry timer, not a write, sends the buffer below
    TJournal journal(options);
    QStringList messages;
    std::vector<TJournalState> states;
    journal.SetMessageHandler([&](const QString &m) { messages << m; });
    const auto stateSaid = journal.AddStateListener([&](const TJournalState &s) { states.push_back(s); });
    ASSERT_TRUE(journal.Open());
    ASSERT_EQ(journal.State().backend, TJournalBackend::Server);

    const TJournalRunHeader h = SampleHeader(2, 4);
    const TJournalRunId id = journal.BeginRun(h);
    for (int k = 1; k <= 3; ++k)
        ASSERT_TRUE(journal.AddPoint(id, SamplePoint(k, h)));

    ASSERT_TRUE(TPgServer::Instance().Pause()) << TPgServer::Instance().Error().toStdString();
    for (int k = 4; k <= 7; ++k)
        EXPECT_TRUE(journal.AddPoint(id, SamplePoint(k, h))) << "durable in the buffer, point " << k;
    EXPECT_EQ(journal.State().backend, TJournalBackend::ServerBuffered);
    EXPECT_TRUE(journal.State().journalling);
    EXPECT_EQ(journal.State().waitingRuns, 1);
    EXPECT_TRUE(journal.State().Text().contains("недоступен")) << journal.State().Text().toStdString();
    EXPECT_TRUE(journal.EndRun(id, {TJournalOutcome::Finished}));
    ASSERT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages[0].contains(options.bufferFile));
    // While the server is away, the archive shows what the buffer holds.
    EXPECT_EQ(journal.ListRuns().size(), 1u);

    ASSERT_TRUE(TPgServer::Instance().Resume()) << TPgServer::Instance().Error().toStdString();
    // Nothing more is written: the journal's own timer finds the server and sends the buffer.
    QElapsedTimer waited;
    waited.start();
    while (journal.State().backend != TJournalBackend::Server && waited.elapsed() < 60000)
        QTest::qWait(50);
    EXPECT_EQ(journal.State().backend, TJournalBackend::Server);
    EXPECT_TRUE(journal.Flush());
    EXPECT_EQ(journal.State().waitingRuns, 0);
    EXPECT_EQ(messages.size(), 1) << "the server coming back is shown, not told";
    ASSERT_GE(states.size(), 2u);

    // Everything is on the server, in order, with the end written while it was away.
    TJournalStore server(connection_);
    ASSERT_TRUE(server.Open(false)) << server.LastError().toStdString();
    const auto run = server.LoadRun(id);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->points.size(), 7u);
    for (int k = 1; k <= 7; ++k)
        EXPECT_EQ(Difference(SamplePoint(k, h), run->points[size_t(k - 1)]), QString()) << k;
    ASSERT_TRUE(run->end);
    EXPECT_EQ(run->end->outcome, TJournalOutcome::Finished);
    const auto list = server.List(TJournalFilter());
    ASSERT_TRUE(list && list->size() == 1u);
    EXPECT_EQ((*list)[0].points, 7);
    // And nothing is left in the buffer.
    TJournalConnection buffer;
    buffer.file = options.bufferFile;
    TJournalStore local(buffer);
    ASSERT_TRUE(local.Open());
    EXPECT_TRUE(local.List(TJournalFilter())->empty());

    // A start while the server is away: told once, the run goes to the buffer, and reaches the
    // server at the first write after it is back.
    ASSERT_TRUE(TPgServer::Instance().Pause());
    options.retrySeconds = 0;
    TJournal later(options);
    QStringList laterMessages;
    later.SetMessageHandler([&](const QString &m) { laterMessages << m; });
    EXPECT_TRUE(later.Open());
    EXPECT_EQ(later.State().backend, TJournalBackend::ServerBuffered);
    const TJournalRunId id2 = later.BeginRun(h);
    EXPECT_TRUE(later.AddPoint(id2, SamplePoint(1, h)));
    ASSERT_TRUE(TPgServer::Instance().Resume());
    EXPECT_TRUE(later.AddPoint(id2, SamplePoint(2, h)));
    EXPECT_EQ(later.State().backend, TJournalBackend::Server);
    EXPECT_EQ(laterMessages.size(), 1) << laterMessages.join('\n').toStdString();
    const auto run2 = server.Open(false) ? server.LoadRun(id2) : std::nullopt;
    ASSERT_TRUE(run2);
    EXPECT_EQ(run2->points.size(), 2u);
}

TEST_F(JournalServerTest, PasswordComesFromAFileOnlyItsOwnerMayRead)
{
    struct TCase {
        const char *name;
        QByteArray content;
        QFileDevice::Permissions permissions;
        bool reachesServer;
        const char *told; // part of the one message, or nullptr for none
    };
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const TCase cases[] = {
        {"right password, owner only", QByteArray(TPgServer::kPassword) + "\n", owner, true, nullptr},
        {"readable by others", QByteArray(TPgServer::kPassword) + "\n", owner | QFileDevice::ReadOther, false,
            "chmod 600"},
        {"wrong password", "not-it\n", owner, false, "недоступен"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QString home = KestTestHome::NewFolder();
        const QString passwordFile = home + "/pw";
        QFile f(passwordFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.content);
        f.close();
        ASSERT_TRUE(QFile::setPermissions(passwordFile, c.permissions));
        TConfigController settings(home, "/Valtrix", "KestManager", "/Settings.txt");
        TJournalConfig config(&settings);
        config.WriteDriver("QPSQL");
        config.WriteHost(connection_.host);
        config.WritePort("5432");
        config.WriteDatabase(connection_.database);
        config.WriteUser(TPgServer::kPasswordUser);
        config.WritePasswordFile(passwordFile);
        QFile ini(settings.settingsPath);
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        EXPECT_FALSE(ini.readAll().contains(TPgServer::kPassword)) << "the password never goes into Settings.txt";

        TJournalOptions options = TJournalOptions::FromSettings(&settings, home);
        ASSERT_TRUE(options.server);
        options.retrySeconds = 0;
        TJournal journal(options);
        QStringList messages;
        journal.SetMessageHandler([&](const QString &m) { messages << m; });
        journal.Open();
        EXPECT_EQ(journal.State().backend, c.reachesServer ? TJournalBackend::Server : TJournalBackend::ServerBuffered);
        if (c.told) {
            ASSERT_GE(messages.size(), 1);
            EXPECT_TRUE(messages.join('\n').contains(QString::fromUtf8(c.told))) << messages.join('\n').toStdString();
        } else {
            EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
        }
    }
}

} // namespace
