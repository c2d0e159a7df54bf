#include "journal/journalstore.h"

#include "journal/journalcodec.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <bit>
#include <set>

using namespace KestJournalCodec;

namespace {

// SQLite's result codes, as Qt SQL gives them in nativeErrorCode().
constexpr int kSqlitePerm = 3, kSqliteReadOnly = 8, kSqliteIoErr = 10, kSqliteCorrupt = 11, kSqliteFull = 13,
              kSqliteCantOpen = 14, kSqliteNotADb = 26;

const QByteArray kSqliteMagic("SQLite format 3\0", 16);

// Advisory lock keys on a shared server: one for carrying the schema forward, one for the ledger's
// head (several benches append to it).
constexpr qint64 kSchemaLock = 0x4B455354'0001;
constexpr qint64 kLedgerLock = 0x4B455354'0002;

// A stored value fed to a digest the same way whichever database gave it back: its kind decides how
// it is read ('i' integer, 'd' double bit for bit, 'b' bytes, 't' text), NULL apart.
void Feed(QCryptographicHash &hash, const QVariant &value, char kind)
{
    if (value.isNull()) {
        hash.addData("N;");
        return;
    }
    QByteArray bytes;
    switch (kind) {
    case 'i':
        bytes = QByteArray::number(value.toLongLong());
        break;
    case 'd':
        bytes = QByteArray::number(std::bit_cast<quint64>(value.toDouble()), 16);
        break;
    case 'b':
        bytes = value.toByteArray();
        break;
    default:
        bytes = value.toString().toUtf8();
        break;
    }
    hash.addData(QByteArray(1, kind) + QByteArray::number(bytes.size()) + ':');
    hash.addData(bytes);
}

QVariant Text(const QString &s)
{
    return s.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(s);
}

QVariant Bytes(const QByteArray &b)
{
    return QVariant(b);
}

QVariant NullBytes()
{
    return QVariant(QMetaType::fromType<QByteArray>());
}

} // namespace

QString TJournalConnection::Describe() const
{
    if (dialect == TJournalDialect::SQLite)
        return file;
    QString s;
    if (!user.isEmpty())
        s += user + QLatin1Char('@');
    s += host.isEmpty() ? QStringLiteral("localhost") : host;
    s += QLatin1Char(':') + QString::number(port) + QLatin1Char('/') + database;
    return s;
}

struct TJournalStore::TCopy {
    TRunRow row;
    qint64 endedMs = 0;
    int outcome = 0;
    QString error;
    std::vector<QVariantList> points; // the point columns, in insertion order
    std::vector<QVariantList> lines;
    std::vector<QVariantList> readbacks;
    bool hasRow = true; // false: only amendments of a run kept elsewhere
    std::vector<QVariantList> standards;
    std::vector<QVariantList> verdicts;
    std::vector<QVariantList> amendments;
};

TJournalStore::TJournalStore(TJournalConnection connection)
    : connection_(std::move(connection)),
      name_(QStringLiteral("kest-journal-") + QUuid::createUuid().toString(QUuid::Id128))
{
}

TJournalStore::~TJournalStore()
{
    Close();
}

QSqlDatabase TJournalStore::Database() const
{
    return QSqlDatabase::database(name_, false);
}

void TJournalStore::Close()
{
    prepared_.clear();
    if (QSqlDatabase::contains(name_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
    open_ = false;
}

bool TJournalStore::Fail(const QString &text, TJournalFailure failure)
{
    error_ = text;
    failure_ = failure;
    return false;
}

TJournalFailure TJournalStore::Classify(const QString &nativeCode, const QString &text) const
{
    if (connection_.dialect == TJournalDialect::SQLite) {
        bool ok = false;
        const int code = nativeCode.toInt(&ok) & 0xFF; // primary code of an extended one
        if (ok) {
            switch (code) {
            case kSqliteCorrupt:
            case kSqliteNotADb:
                return TJournalFailure::Damaged;
            case kSqliteFull:
                return TJournalFailure::Full;
            case kSqliteReadOnly:
            case kSqlitePerm:
                return TJournalFailure::ReadOnly;
            case kSqliteCantOpen:
            case kSqliteIoErr:
                return TJournalFailure::Unavailable;
            default:
                break;
            }
        }
        if (text.contains(QLatin1String("disk is full")))
            return TJournalFailure::Full;
        return TJournalFailure::Other;
    }
    // PostgreSQL: SQLSTATE class 08 is the connection; 53100 is a full disk on the server. A
    // connection that broke while a statement ran often comes back without a state: the connection
    // is then checked by the caller reconnecting.
    if (nativeCode.startsWith(QLatin1String("08")) || nativeCode.isEmpty())
        return TJournalFailure::Unavailable;
    if (nativeCode == QLatin1String("53100"))
        return TJournalFailure::Full;
    if (nativeCode == QLatin1String("25006") || nativeCode == QLatin1String("42501"))
        return TJournalFailure::ReadOnly;
    if (nativeCode.startsWith(QLatin1String("57P")))
        return TJournalFailure::Unavailable; // the server is shutting down or restarting
    return TJournalFailure::Other;
}

bool TJournalStore::FailFrom(const QSqlQuery &query)
{
    const QSqlError e = query.lastError();
    return Fail(e.text(), Classify(e.nativeErrorCode(), e.text()));
}

bool TJournalStore::FailFromDb()
{
    const QSqlError e = Database().lastError();
    return Fail(e.text(), Classify(e.nativeErrorCode(), e.text()));
}

bool TJournalStore::FailClosed()
{
    return Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
}

bool TJournalStore::Open(bool checkIntegrity)
{
    Close();
    if (Connect(checkIntegrity)) {
        open_ = true;
        return true;
    }
    // Every handle on the connection is gone by now, so it can be removed.
    const QString error = error_;
    const TJournalFailure failure = failure_;
    Close();
    error_ = error;
    failure_ = failure;
    return false;
}

bool TJournalStore::Connect(bool checkIntegrity)
{
    failure_ = TJournalFailure::None;
    error_.clear();
    foundVersion_ = 0;
    journalMode_.clear();

    const bool sqlite = connection_.dialect == TJournalDialect::SQLite;
    if (sqlite) {
        // A file that is not empty and does not begin as SQLite's is not a journal, whatever the
        // library might make of it.
        QFile file(connection_.file);
        if (file.exists() && file.size() > 0) {
            if (!file.open(QIODevice::ReadOnly))
                return Fail(file.errorString(), TJournalFailure::Unavailable);
            const QByteArray head = file.read(16);
            if (head != kSqliteMagic)
                return Fail(QStringLiteral("не файл базы данных SQLite"), TJournalFailure::Damaged);
        }
    }

    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), name_);
        if (!db.isValid()) {
            return Fail(QStringLiteral("нет драйвера Qt SQL %1 (пакет %2)")
                            .arg(sqlite ? "QSQLITE" : "QPSQL", sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql"),
                TJournalFailure::Unavailable);
        }
        if (sqlite) {
            db.setDatabaseName(connection_.file);
        } else {
            if (!connection_.host.isEmpty())
                db.setHostName(connection_.host);
            db.setPort(connection_.port);
            db.setDatabaseName(connection_.database);
            if (!connection_.user.isEmpty())
                db.setUserName(connection_.user);
            if (!connection_.password.isEmpty())
                db.setPassword(connection_.password);
            // Keepalives and a user time-out so that a pulled cable ends a statement within seconds
            // instead of hanging the window (libpq ignores them on unix sockets).
            db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=KestManager;keepalives_idle=5;"
                                                "keepalives_interval=2;keepalives_count=2;tcp_user_timeout=6000")
                                     .arg(std::max(1, connection_.connectTimeoutSeconds)));
        }
        if (!db.open()) {
            const QSqlError e = db.lastError();
            const QString text = e.text().trimmed().isEmpty() ? QStringLiteral("не удаётся открыть") : e.text();
            return Fail(text, TJournalFailure::Unavailable);
        }
    }
    QSqlDatabase db = Database();
    QSqlQuery q(db);
    auto run = [&](const QString &sql) {
        if (q.exec(sql))
            return true;
        FailFrom(q);
        return false;
    };
    if (sqlite) {
        if (!run(QStringLiteral("PRAGMA busy_timeout = 2000")))
            return false;
        if (!run(QStringLiteral("PRAGMA journal_mode = WAL")))
            return false;
        if (q.next())
            journalMode_ = q.value(0).toString().toLower();
        // In WAL mode only FULL syncs the log at every commit: NORMAL may lose the last points at a
        // power cut.
        if (!run(QStringLiteral("PRAGMA synchronous = FULL")))
            return false;
        if (checkIntegrity) {
            if (!run(QStringLiteral("PRAGMA quick_check(1)")))
                return false;
            const QString verdict = q.next() ? q.value(0).toString() : QString();
            if (verdict != QLatin1String("ok")) {
                return Fail(
                    verdict.isEmpty() ? QStringLiteral("проверка не удалась") : verdict, TJournalFailure::Damaged);
            }
        }
    } else {
        // Never wait on a lock for ever.
        if (!run(QStringLiteral("SET statement_timeout = 10000")))
            return false;
    }
    q.finish();

    QString error;
    int version = KestJournalSchema::ReadVersion(db, error);
    if (version < 0) {
        QSqlError e = db.lastError();
        const TJournalFailure failure = Classify(e.nativeErrorCode(), error);
        return Fail(error, failure == TJournalFailure::Other && sqlite ? TJournalFailure::Damaged : failure);
    }
    foundVersion_ = version;
    if (version > KestJournalSchema::kCurrentVersion) {
        return Fail(QStringLiteral("версия схемы %1").arg(version), TJournalFailure::Newer);
    }
    // Benches sharing a server may start together on an empty database: one carries the schema
    // forward while the others wait, then find it done.
    const bool serialise = !sqlite && version < KestJournalSchema::kCurrentVersion;
    if (serialise) {
        if (!run(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(kSchemaLock)))
            return false;
        q.finish();
        version = KestJournalSchema::ReadVersion(db, error);
        if (version < 0 || version > KestJournalSchema::kCurrentVersion) {
            run(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(kSchemaLock));
            foundVersion_ = std::max(version, 0);
            return version < 0 ? Fail(error, TJournalFailure::Unavailable)
                               : Fail(QStringLiteral("версия схемы %1").arg(version), TJournalFailure::Newer);
        }
    }
    const bool upgraded = version >= KestJournalSchema::kCurrentVersion
        || KestJournalSchema::Upgrade(db, connection_.dialect, version, KestJournalSchema::kCurrentVersion, error);
    if (serialise) {
        QSqlQuery unlock(db);
        unlock.exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(kSchemaLock));
    }
    if (!upgraded) {
        // Another bench may have created the tables at the same moment: look again.
        QString again;
        const int now = KestJournalSchema::ReadVersion(db, again);
        if (now != KestJournalSchema::kCurrentVersion) {
            const QSqlError e = db.lastError();
            TJournalFailure failure = Classify(e.nativeErrorCode(), error);
            if (error.contains(QLatin1String("disk is full")))
                failure = TJournalFailure::Full;
            else if (error.contains(QLatin1String("readonly")) || error.contains(QLatin1String("read-only")))
                failure = TJournalFailure::ReadOnly;
            return Fail(error, failure == TJournalFailure::Other ? TJournalFailure::Unavailable : failure);
        }
    }
    return true;
}

QSqlQuery &TJournalStore::Prepared(const char *key, const QString &sql)
{
    auto &slot = prepared_[key];
    if (!slot) {
        slot = std::make_unique<QSqlQuery>(Database());
        slot->prepare(sql);
    }
    return *slot;
}

bool TJournalStore::Exec(QSqlQuery &query, const QVariantList &values)
{
    for (const QVariant &v : values)
        query.addBindValue(v);
    return query.exec() || FailFrom(query);
}

bool TJournalStore::Exec(QSqlQuery &query, const QString &sql, const QVariantList &values)
{
    query.prepare(sql);
    return Exec(query, values);
}

template<class TBody> bool TJournalStore::Write(const TJournalRunId &run, bool pending, TBody body)
{
    digests_.erase(run);
    if (!Begin())
        return false;
    if (!body() || (pending && !MarkPending(run))) {
        Rollback();
        return false;
    }
    return Commit();
}

bool TJournalStore::Begin()
{
    if (!open_)
        return Fail(error_.isEmpty() ? QStringLiteral("журнал не открыт") : error_, TJournalFailure::Unavailable);
    QSqlDatabase db = Database();
    if (db.transaction())
        return true;
    return FailFromDb();
}

bool TJournalStore::Commit()
{
    QSqlDatabase db = Database();
    if (db.commit())
        return true;
    FailFromDb();
    db.rollback();
    return false;
}

void TJournalStore::Rollback()
{
    QSqlDatabase db = Database();
    db.rollback();
}

bool TJournalStore::MarkPending(const TJournalRunId &run)
{
    return Exec(
        Prepared("pending",
            QStringLiteral("INSERT INTO journal_pending (run, since_ms) VALUES (?, ?) ON CONFLICT (run) DO NOTHING")),
        {run, QDateTime::currentMSecsSinceEpoch()});
}

bool TJournalStore::InsertRun(const TRunRow &run, bool pending)
{
    return Write(run.id, pending, [&] {
        return Exec(Prepared("run",
                        QStringLiteral(
                            "INSERT INTO journal_runs (id, kind, started_ms, outcome, configuration, device_number, "
                            "verifier, program_version, bench, owner, used_as_standard) VALUES "
                            "(?, ?, ?, 0, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO NOTHING")),
                   {run.id, int(run.kind), run.startedMs, Text(run.configuration), Text(run.deviceNumber),
                       Text(run.verifier), Text(run.programVersion), Text(run.bench), Text(run.owner),
                       run.usedAsStandard ? 1 : 0})
            && Exec(Prepared("header",
                        QStringLiteral(
                            "INSERT INTO journal_headers (run, header) VALUES (?, ?) ON CONFLICT (run) DO NOTHING")),
                {run.id, Text(run.header)})
            && std::all_of(run.standards.begin(), run.standards.end(), [&](const QString &standard) {
                   return Exec(Prepared("runstandard",
                                   QStringLiteral("INSERT INTO journal_run_standards (run, standard) VALUES (?, ?) "
                                                  "ON CONFLICT (run, standard) DO NOTHING")),
                       {run.id, standard});
               });
    });
}

bool TJournalStore::InsertPoint(const TJournalRunId &run, const TJournalPoint &p, bool pending)
{
    return Write(run, pending, [&] {
        QSqlQuery &q = Prepared("point",
            QStringLiteral(
                "INSERT INTO journal_points (run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, "
                "freq, is_rs, installation, device, analog, errors, failed, cells, marks) VALUES "
                "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (run, seq) DO NOTHING"));
        const bool failed = p.HasOverLimit();
        QVariantList values{run, p.seq, p.tab, p.row, ToMs(p.time)};
        for (const TParameter *v : {&p.input.Ia, &p.input.Ib, &p.input.Ic, &p.input.Ua, &p.input.Ub, &p.input.Uc,
                 &p.input.Angle, &p.input.Freq})
            values << v->value;
        values << (p.input.IsRsInterface ? 1 : 0) << Bytes(EncodeValues(p.installation))
               << (p.device ? Bytes(EncodeValues(*p.device)) : NullBytes())
               << (p.analog ? Bytes(EncodeAnalog(*p.analog)) : NullBytes()) << Bytes(EncodeErrors(p.errors))
               << (failed ? 1 : 0) << EncodeCells(p.cells) << EncodeMarks(p.marks);
        if (!Exec(q, values))
            return false;
        // A point that was there already is not counted again.
        return q.numRowsAffected() != 1
            || Exec(Prepared("count",
                        QStringLiteral("UPDATE journal_runs SET points = points + 1, failed_points = failed_points + "
                                       "? WHERE id = ?")),
                {failed ? 1 : 0, run});
    });
}

bool TJournalStore::SetEnd(const TJournalRunId &run, const TJournalRunEnd &end, bool pending)
{
    return Write(run, pending, [&] {
        // An ended run keeps the end it was given first: a second end (a record sent again) is not
        // an edit of it.
        QSqlQuery &q = Prepared("end",
            QStringLiteral(
                "UPDATE journal_runs SET ended_ms = ?, outcome = ?, error = ? WHERE id = ? AND outcome = 0"));
        if (!Exec(q, {ToMs(end.time), int(end.outcome), Text(end.error), run}))
            return false;
        if (q.numRowsAffected() == 1 && end.verdict
            && !Exec(Prepared("verdict",
                         QStringLiteral("INSERT INTO journal_verdicts (run, fit, data) VALUES (?, ?, ?) "
                                        "ON CONFLICT (run) DO NOTHING")),
                {run, end.verdict->fit ? 1 : 0, EncodeVerdict(*end.verdict)}))
            return false;
        return pending || Seal(run);
    });
}

bool TJournalStore::InsertAmendment(const TJournalRunId &run, const TAmendment &a, bool pending)
{
    return Write(run, pending, [&] {
        return PutAmendment(
                   run, {ToMs(a.time), Text(a.who), Text(a.field), Text(a.oldValue), Text(a.newValue), Text(a.reason)})
            && (pending || Seal(run));
    });
}

bool TJournalStore::PutAmendment(const TJournalRunId &run, const QVariantList &values)
{
    QSqlQuery &same = Prepared("sameamendment",
        QStringLiteral(
            "SELECT COUNT(*) FROM journal_amendments WHERE run = ? AND time_ms = ? AND who = ? AND field = ? "
            "AND old_value = ? AND new_value = ? AND reason = ?"));
    if (!Exec(same, QVariantList{run} + values) || !same.next())
        return false;
    const bool there = same.value(0).toInt() > 0;
    same.finish();
    return there
        || Exec(Prepared("amendment",
                    QStringLiteral("INSERT INTO journal_amendments (run, seq, time_ms, who, field, old_value, "
                                   "new_value, reason) SELECT ?, COALESCE(MAX(seq), 0) + 1, ?, ?, ?, ?, ?, ? FROM "
                                   "journal_amendments WHERE run = ?")),
            QVariantList{run} + values + QVariantList{run});
}

bool TJournalStore::InsertLine(const TJournalRunId &run, int seq, const TJournalLogLine &line, bool pending)
{
    return Write(run, pending, [&] {
        return Exec(Prepared("line",
                        QStringLiteral("INSERT INTO journal_tuning_lines (run, seq, time_ms, text) VALUES (?, ?, ?, ?) "
                                       "ON CONFLICT (run, seq) DO NOTHING")),
            {run, seq, ToMs(line.time), Text(line.text)});
    });
}

bool TJournalStore::SetReadback(const TJournalRunId &run, int which, const TJournalReadback &readback, bool pending)
{
    return Write(run, pending, [&] {
        return Exec(Prepared("readback",
                        QStringLiteral(
                            "INSERT INTO journal_readbacks (run, which, time_ms, data) VALUES (?, ?, ?, ?) "
                            "ON CONFLICT (run, which) DO UPDATE SET time_ms = excluded.time_ms, data = excluded.data")),
            {run, which, ToMs(readback.time), EncodeReadback(readback)});
    });
}

bool TJournalStore::SetOwner(const TJournalRunId &run, const QString &owner, bool pending)
{
    return Write(run, pending, [&] {
        return Exec(
            Prepared("owner", QStringLiteral("UPDATE journal_runs SET owner = ? WHERE id = ?")), {Text(owner), run});
    });
}

bool TJournalStore::Ping()
{
    if (!open_)
        return false;
    QSqlQuery q(Database());
    return q.exec(QStringLiteral("SELECT 1")) || FailFrom(q);
}

namespace {

const char *const kSummaryColumns = "id, kind, started_ms, ended_ms, outcome, error, configuration, device_number, "
                                    "verifier, bench, points, failed_points, used_as_standard";

// What the archive shows of the laboratory's side, after kSummaryColumns: the computed verdict, the
// amendments, the last amended verdict, and whether a standard used was out of tolerance by then.
const char *const kLabColumns
    = "(SELECT fit FROM journal_verdicts v WHERE v.run = journal_runs.id), "
      "(SELECT COUNT(*) FROM journal_amendments a WHERE a.run = journal_runs.id), "
      "(SELECT new_value FROM journal_amendments a WHERE a.run = journal_runs.id AND a.field = 'verdict' "
      "ORDER BY a.seq DESC LIMIT 1), "
      "CASE WHEN EXISTS (SELECT 1 FROM journal_run_standards rs JOIN journal_lab_standards s ON s.id = rs.standard "
      "WHERE rs.run = journal_runs.id AND s.out_of_tolerance_ms IS NOT NULL "
      "AND s.out_of_tolerance_ms <= journal_runs.started_ms) THEN 1 ELSE 0 END, "
      "(SELECT a.field || '\t' || a.new_value FROM journal_amendments a WHERE a.run = journal_runs.id "
      "AND a.field LIKE 'arshin/%' ORDER BY a.seq DESC LIMIT 1)";

void LabSummaryOf(const QSqlQuery &q, int at, TJournalRunSummary &s)
{
    if (!q.value(at).isNull())
        s.verdict = q.value(at).toInt() != 0 ? QStringLiteral("пригоден") : QStringLiteral("непригоден");
    s.amendments = q.value(at + 1).toInt();
    const QString amended = q.value(at + 2).toString().trimmed();
    if (!amended.isEmpty())
        s.verdict = amended;
    s.suspectStandard = q.value(at + 3).toInt() != 0;
    // Where the run stands with the Federal information fund: its last "arshin/…" amendment.
    const QString arshin = q.value(at + 4).toString();
    const QString field = arshin.section(QLatin1Char('\t'), 0, 0), value = arshin.section(QLatin1Char('\t'), 1);
    if (field == QLatin1String("arshin/exported"))
        s.arshinStatus = QStringLiteral("выгружено: ") + value;
    else if (field == QLatin1String("arshin/record"))
        s.arshinStatus = value;
    else if (field == QLatin1String("arshin/rejected"))
        s.arshinStatus = QStringLiteral("отказ: ") + value;
}

TJournalRunSummary SummaryOf(const QSqlQuery &q)
{
    TJournalRunSummary s;
    s.id = q.value(0).toString();
    s.kind = q.value(1).toInt() == 1 ? TJournalRunKind::Tuning : TJournalRunKind::Verification;
    s.started = FromMs(q.value(2).toLongLong());
    s.ended = q.value(3).isNull() ? QDateTime() : FromMs(q.value(3).toLongLong());
    const int outcome = q.value(4).toInt();
    s.outcome = outcome >= 0 && outcome <= 3 ? TJournalOutcome(outcome) : TJournalOutcome::Failed;
    s.error = q.value(5).toString();
    s.configuration = q.value(6).toString();
    s.deviceNumber = q.value(7).toString();
    s.verifier = q.value(8).toString();
    s.bench = q.value(9).toString();
    s.points = q.value(10).toInt();
    s.failedPoints = q.value(11).toInt();
    s.usedAsStandard = q.value(12).toInt() != 0;
    return s;
}

QString LikePattern(const QString &text)
{
    QString escaped;
    for (const QChar c : text.trimmed().toLower()) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

} // namespace

std::optional<std::vector<TJournalRunSummary>> TJournalStore::List(const TJournalFilter &filter)
{
    QString where;
    QVariantList binds;
    if (filter.from.isValid()) {
        where += QStringLiteral(" AND started_ms >= ?");
        binds << ToMs(filter.from);
    }
    if (filter.to.isValid()) {
        where += QStringLiteral(" AND started_ms < ?");
        binds << ToMs(filter.to);
    }
    if (!filter.deviceNumber.trimmed().isEmpty()) {
        where += QStringLiteral(" AND LOWER(device_number) LIKE ? ESCAPE '\\'");
        binds << LikePattern(filter.deviceNumber);
    }
    if (filter.kind) {
        where += QStringLiteral(" AND kind = ?");
        binds << int(*filter.kind);
    }
    if (filter.notExported)
        where += QStringLiteral(" AND kind = 0 AND NOT EXISTS (SELECT 1 FROM journal_amendments a WHERE "
                                "a.run = journal_runs.id AND a.field = 'arshin/exported')");
    return ListWhere(where, binds, filter.limit > 0 ? QStringLiteral(" LIMIT %1").arg(filter.limit) : QString());
}

std::optional<std::vector<TJournalRunSummary>> TJournalStore::ListWhere(
    const QString &where, const QVariantList &binds, const QString &tail)
{
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    const QString sql
        = QStringLiteral("SELECT %1, %2 FROM journal_runs WHERE 1 = 1%3 ORDER BY started_ms DESC, id DESC%4")
              .arg(QLatin1String(kSummaryColumns), QLatin1String(kLabColumns), where, tail);
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!Exec(q, sql, binds))
        return std::nullopt;
    std::vector<TJournalRunSummary> out;
    while (q.next()) {
        out.push_back(SummaryOf(q));
        LabSummaryOf(q, 13, out.back());
    }
    return out;
}

std::optional<std::vector<TJournalRunSummary>> TJournalStore::RunsUsingStandard(const QString &standardId)
{
    return ListWhere(
        QStringLiteral(" AND id IN (SELECT run FROM journal_run_standards WHERE standard = ?)"), {Text(standardId)});
}

namespace {

// Sorted by name as people read it, then by id so that equal names keep one order.
template<class TEntry> void SortByName(std::vector<TEntry> &entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const TEntry &a, const TEntry &b) {
        const int c = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.id < b.id;
    });
}

} // namespace

std::optional<std::vector<TInstrumentType>> TJournalStore::Types(bool withRetired)
{
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!Exec(q, QStringLiteral("SELECT id, data FROM journal_lab_types") + (withRetired ? "" : " WHERE retired = 0"),
            {}))
        return std::nullopt;
    std::vector<TInstrumentType> out;
    while (q.next()) {
        // An entry that does not decode is damage: it is left out rather than shown half-read.
        if (auto type = DecodeType(q.value(1).toString())) {
            type->id = q.value(0).toString();
            out.push_back(std::move(*type));
        }
    }
    SortByName(out);
    return out;
}

bool TJournalStore::SaveType(const TInstrumentType &type)
{
    return Write(type.id, false, [&] {
        return Exec(Prepared("savetype",
                        QStringLiteral("INSERT INTO journal_lab_types (id, name, retired, data) VALUES (?, ?, ?, ?) "
                                       "ON CONFLICT (id) DO UPDATE SET name = excluded.name, retired = "
                                       "excluded.retired, data = excluded.data")),
            {type.id, Text(type.name), type.retired ? 1 : 0, EncodeType(type)});
    });
}

std::optional<std::vector<TStandard>> TJournalStore::Standards(bool withRetired)
{
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!Exec(q,
            QStringLiteral("SELECT id, data FROM journal_lab_standards") + (withRetired ? "" : " WHERE retired = 0"),
            {}))
        return std::nullopt;
    std::vector<TStandard> out;
    while (q.next()) {
        if (auto standard = DecodeStandard(q.value(1).toString())) {
            standard->id = q.value(0).toString();
            out.push_back(std::move(*standard));
        }
    }
    SortByName(out);
    return out;
}

bool TJournalStore::SaveStandard(const TStandard &standard)
{
    // The start of the day it was found out of tolerance, in this bench's time: a run started that
    // day or later used it out of tolerance.
    const QVariant since = standard.outOfToleranceSince.isValid()
        ? QVariant(standard.outOfToleranceSince.startOfDay().toMSecsSinceEpoch())
        : QVariant(QMetaType::fromType<qlonglong>());
    return Write(standard.id, false, [&] {
        return Exec(Prepared("savestandard",
                        QStringLiteral(
                            "INSERT INTO journal_lab_standards (id, name, retired, out_of_tolerance_ms, data) VALUES "
                            "(?, ?, ?, ?, ?) ON CONFLICT (id) DO UPDATE SET name = excluded.name, retired = "
                            "excluded.retired, out_of_tolerance_ms = excluded.out_of_tolerance_ms, data = "
                            "excluded.data")),
            {standard.id, Text(standard.name), standard.retired ? 1 : 0, since, EncodeStandard(standard)});
    });
}

std::optional<std::vector<std::pair<TJournalRunSummary, QString>>> TJournalStore::Unfinished(const QString &bench)
{
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!Exec(q,
            QStringLiteral("SELECT %1, owner FROM journal_runs WHERE outcome = 0 AND bench = ? "
                           "ORDER BY started_ms DESC, id DESC")
                .arg(QLatin1String(kSummaryColumns)),
            {Text(bench)}))
        return std::nullopt;
    std::vector<std::pair<TJournalRunSummary, QString>> out;
    while (q.next())
        out.emplace_back(SummaryOf(q), q.value(13).toString());
    return out;
}

std::optional<TJournalStore::TRunRow> TJournalStore::RunRow(const TJournalRunId &run)
{
    failure_ = TJournalFailure::None;
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    if (!Exec(q,
            QStringLiteral("SELECT id, kind, started_ms, configuration, device_number, verifier, program_version, "
                           "bench, owner, h.header, used_as_standard FROM journal_runs LEFT JOIN journal_headers h "
                           "ON h.run = id WHERE id = ?"),
            {run}))
        return std::nullopt;
    if (!q.next())
        return std::nullopt;
    TRunRow r;
    r.id = q.value(0).toString();
    r.kind = q.value(1).toInt() == 1 ? TJournalRunKind::Tuning : TJournalRunKind::Verification;
    r.startedMs = q.value(2).toLongLong();
    r.configuration = q.value(3).toString();
    r.deviceNumber = q.value(4).toString();
    r.verifier = q.value(5).toString();
    r.programVersion = q.value(6).toString();
    r.bench = q.value(7).toString();
    r.owner = q.value(8).toString();
    r.header = q.value(9).toString();
    r.usedAsStandard = q.value(10).toInt() != 0;
    QSqlQuery st(Database());
    st.setForwardOnly(true);
    if (!Exec(st, QStringLiteral("SELECT standard FROM journal_run_standards WHERE run = ? ORDER BY standard"), {run}))
        return std::nullopt;
    while (st.next())
        r.standards << st.value(0).toString();
    return r;
}

namespace {

std::optional<TJournalRunEnd> EndOf(const QSqlQuery &q, int outcomeAt)
{
    const int outcome = q.value(outcomeAt).toInt();
    if (outcome == 0)
        return std::nullopt;
    TJournalRunEnd end;
    end.outcome = outcome >= 1 && outcome <= 3 ? TJournalOutcome(outcome) : TJournalOutcome::Failed;
    end.time = FromMs(q.value(outcomeAt - 1).toLongLong());
    end.error = q.value(outcomeAt + 1).toString();
    return end;
}

// What tells the two kinds of run apart when one is read back.
template<class TRun> struct TRunReading;

template<> struct TRunReading<TJournalRun> {
    static constexpr TJournalRunKind kind = TJournalRunKind::Verification;
    static constexpr const char *undecodable = "заголовок поверки не читается";
    static std::optional<TJournalRunHeader> Decode(const QString &json) { return DecodeRunHeader(json); }
};

template<> struct TRunReading<TJournalTuningRun> {
    static constexpr TJournalRunKind kind = TJournalRunKind::Tuning;
    static constexpr const char *undecodable = "заголовок настройки не читается";
    static std::optional<TJournalTuningHeader> Decode(const QString &json) { return DecodeTuningHeader(json); }
};

} // namespace

template<class TRun> std::optional<TRun> TJournalStore::Load(const TJournalRunId &run)
{
    using TReading = TRunReading<TRun>;
    failure_ = TJournalFailure::None;
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    if (!Exec(q,
            QStringLiteral("SELECT h.header, ended_ms, outcome, error FROM journal_runs LEFT JOIN journal_headers h "
                           "ON h.run = id WHERE id = ? AND kind = %1")
                .arg(int(TReading::kind)),
            {run}))
        return std::nullopt;
    if (!q.next())
        return std::nullopt;
    TRun out;
    auto header = TReading::Decode(q.value(0).toString());
    if (!header) {
        Fail(QString::fromUtf8(TReading::undecodable), TJournalFailure::Damaged);
        return std::nullopt;
    }
    out.header = std::move(*header);
    out.header.id = run;
    out.end = EndOf(q, 2);
    if (!LoadRest(run, out))
        return std::nullopt;
    return out;
}

bool TJournalStore::LoadRest(const TJournalRunId &run, TJournalRun &out)
{
    QSqlQuery p(Database());
    p.setForwardOnly(true);
    if (!Exec(p,
            QStringLiteral("SELECT seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, freq, is_rs, "
                           "installation, device, analog, errors, cells, marks FROM journal_points WHERE run = ? "
                           "ORDER BY seq"),
            {run}))
        return false;
    while (p.next()) {
        TJournalPoint point;
        point.seq = p.value(0).toInt();
        point.tab = p.value(1).toInt();
        point.row = p.value(2).toInt();
        point.time = FromMs(p.value(3).toLongLong());
        TParameter *inputs[] = {&point.input.Ia, &point.input.Ib, &point.input.Ic, &point.input.Ua, &point.input.Ub,
            &point.input.Uc, &point.input.Angle, &point.input.Freq};
        for (int i = 0; i < 8; ++i)
            inputs[i]->value = p.value(4 + i).toDouble();
        point.input.IsRsInterface = p.value(12).toInt() != 0;
        point.installation = DecodeValues(p.value(13).toByteArray()).value_or(TJournalValues());
        if (!p.value(14).isNull())
            point.device = DecodeValues(p.value(14).toByteArray());
        if (!p.value(15).isNull())
            point.analog = DecodeAnalog(p.value(15).toByteArray());
        point.errors = DecodeErrors(p.value(16).toByteArray()).value_or(std::vector<TJournalError>());
        point.cells = DecodeCells(p.value(17).toString()).value_or(QStringList());
        point.marks = DecodeMarks(p.value(18).toLongLong(), int(point.cells.size()));
        out.points.push_back(std::move(point));
    }
    QSqlQuery v(Database());
    if (!Exec(v, QStringLiteral("SELECT data FROM journal_verdicts WHERE run = ?"), {run}))
        return false;
    if (v.next() && out.end)
        out.end->verdict = DecodeVerdict(v.value(0).toString());
    QSqlQuery a(Database());
    a.setForwardOnly(true);
    if (!Exec(a,
            QStringLiteral("SELECT seq, time_ms, who, field, old_value, new_value, reason FROM journal_amendments "
                           "WHERE run = ? ORDER BY seq"),
            {run}))
        return false;
    while (a.next()) {
        out.amendments.push_back({a.value(0).toInt(), FromMs(a.value(1).toLongLong()), a.value(2).toString(),
            a.value(3).toString(), a.value(4).toString(), a.value(5).toString(), a.value(6).toString()});
    }
    const auto integrity = Integrity({run});
    if (!integrity)
        return false;
    out.integrity = integrity->at(run);
    return true;
}

bool TJournalStore::LoadRest(const TJournalRunId &run, TJournalTuningRun &out)
{
    QSqlQuery l(Database());
    l.setForwardOnly(true);
    if (!Exec(l, QStringLiteral("SELECT time_ms, text FROM journal_tuning_lines WHERE run = ? ORDER BY seq"), {run}))
        return false;
    while (l.next())
        out.lines.push_back({FromMs(l.value(0).toLongLong()), l.value(1).toString()});
    QSqlQuery r(Database());
    if (!Exec(r, QStringLiteral("SELECT which, data FROM journal_readbacks WHERE run = ?"), {run}))
        return false;
    while (r.next()) {
        auto readback = DecodeReadback(r.value(1).toString());
        if (r.value(0).toInt() == 0)
            out.asFound = std::move(readback);
        else
            out.asLeft = std::move(readback);
    }
    return true;
}

std::optional<TJournalRun> TJournalStore::LoadRun(const TJournalRunId &run)
{
    return Load<TJournalRun>(run);
}

std::optional<TJournalTuningRun> TJournalStore::LoadTuning(const TJournalRunId &run)
{
    return Load<TJournalTuningRun>(run);
}

std::optional<int> TJournalStore::MaxPointSeq(const TJournalRunId &run)
{
    return MaxSeq("journal_points", run);
}

std::optional<int> TJournalStore::MaxLineSeq(const TJournalRunId &run)
{
    return MaxSeq("journal_tuning_lines", run);
}

std::optional<int> TJournalStore::MaxAmendmentSeq(const TJournalRunId &run)
{
    return MaxSeq("journal_amendments", run);
}

std::optional<TJournalOutcome> TJournalStore::Outcome(const TJournalRunId &run)
{
    failure_ = TJournalFailure::None;
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    if (!Exec(q, QStringLiteral("SELECT outcome FROM journal_runs WHERE id = ?"), {run}) || !q.next())
        return std::nullopt;
    const int outcome = q.value(0).toInt();
    return outcome >= 0 && outcome <= 3 ? TJournalOutcome(outcome) : TJournalOutcome::Failed;
}

std::optional<int> TJournalStore::MaxSeq(const char *table, const TJournalRunId &run)
{
    QSqlQuery q(Database());
    q.prepare(QStringLiteral("SELECT COALESCE(MAX(seq), 0) FROM %1 WHERE run = ?").arg(QLatin1String(table)));
    if (!open_ || !Exec(q, {run}) || !q.next()) {
        FailFrom(q);
        return std::nullopt;
    }
    return q.value(0).toInt();
}

std::optional<std::vector<TJournalRunId>> TJournalStore::PendingRuns()
{
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QSqlQuery q(Database());
    if (!q.exec(QStringLiteral("SELECT run FROM journal_pending ORDER BY since_ms, run"))) {
        FailFrom(q);
        return std::nullopt;
    }
    std::vector<TJournalRunId> out;
    while (q.next())
        out.push_back(q.value(0).toString());
    return out;
}

bool TJournalStore::CopyRunTo(const TJournalRunId &run, TJournalStore &target)
{
    const auto row = RunRow(run);
    if (!row && failure_ != TJournalFailure::None)
        return false;
    TCopy copy;
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (row) {
        copy.row = *row;
        if (!Exec(q, QStringLiteral("SELECT ended_ms, outcome, error FROM journal_runs WHERE id = ?"), {run}))
            return false;
        if (!q.next())
            return FailFrom(q);
        copy.endedMs = q.value(0).toLongLong();
        copy.outcome = q.value(1).toInt();
        copy.error = q.value(2).toString();
        for (const QString &standard : row->standards)
            copy.standards.push_back({run, standard});
    } else {
        // Amendments to a run ended before: the run itself is where they are going.
        copy.hasRow = false;
        copy.row.id = run;
    }

    // Every column of each row as it is stored, `columns` of them.
    auto rows = [&](const QString &sql, int columns, std::vector<QVariantList> &into) {
        if (!Exec(q, sql, {run}))
            return false;
        while (q.next()) {
            QVariantList values;
            for (int i = 0; i < columns; ++i)
                values << q.value(i);
            into.push_back(std::move(values));
        }
        return true;
    };
    if (!rows(QStringLiteral("SELECT run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, freq, "
                             "is_rs, installation, device, analog, errors, failed, cells, marks FROM journal_points "
                             "WHERE run = ? ORDER BY seq"),
            21, copy.points)
        || !rows(QStringLiteral("SELECT run, seq, time_ms, text FROM journal_tuning_lines WHERE run = ? ORDER BY seq"),
            4, copy.lines)
        || !rows(
            QStringLiteral("SELECT run, which, time_ms, data FROM journal_readbacks WHERE run = ?"), 4, copy.readbacks)
        || !rows(QStringLiteral("SELECT run, fit, data FROM journal_verdicts WHERE run = ?"), 3, copy.verdicts)
        || !rows(QStringLiteral("SELECT time_ms, who, field, old_value, new_value, reason FROM "
                                "journal_amendments WHERE run = ? ORDER BY seq"),
            6, copy.amendments))
        return false;
    if (!copy.hasRow && copy.amendments.empty())
        return Fail(QStringLiteral("нет такого запуска"), TJournalFailure::Other);
    if (!target.WriteCopy(copy))
        return Fail(target.LastError(), target.LastFailure());
    return true;
}

bool TJournalStore::WriteCopy(const TCopy &copy)
{
    const TJournalRunId &id = copy.row.id;
    return Write(id, false, [&] {
        QSqlQuery q(Database());
        // Each row through one statement, not prepared when there are none.
        auto rows = [&](const std::vector<QVariantList> &all, const QString &sql) {
            if (all.empty())
                return true;
            q.prepare(sql);
            for (const QVariantList &values : all) {
                if (!Exec(q, values))
                    return false;
            }
            return true;
        };
        // Binary columns keep their type when empty, so PostgreSQL takes them as BYTEA.
        std::vector<QVariantList> points = copy.points;
        for (QVariantList &values : points) {
            for (int i = 14; i <= 17; ++i)
                values[i] = values[i].isNull() ? NullBytes() : QVariant(values[i].toByteArray());
        }
        auto amendments = [&] {
            return std::all_of(copy.amendments.begin(), copy.amendments.end(),
                [&](const QVariantList &values) { return PutAmendment(id, values); });
        };
        if (!copy.hasRow)
            return amendments() && Seal(id);
        // The end of a run open here is taken; one ended here already stays as it is.
        return Exec(q,
                   QStringLiteral(
                       "INSERT INTO journal_runs (id, kind, started_ms, ended_ms, outcome, error, configuration, "
                       "device_number, verifier, "
                       "program_version, bench, owner, used_as_standard) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?) "
                       "ON CONFLICT (id) DO "
                       "UPDATE SET "
                       "ended_ms = CASE WHEN excluded.outcome <> 0 AND journal_runs.outcome = 0 THEN "
                       "excluded.ended_ms ELSE journal_runs.ended_ms END, "
                       "error = CASE WHEN excluded.outcome <> 0 AND journal_runs.outcome = 0 THEN excluded.error "
                       "ELSE journal_runs.error END, "
                       "outcome = CASE WHEN excluded.outcome <> 0 AND journal_runs.outcome = 0 THEN "
                       "excluded.outcome ELSE journal_runs.outcome END"),
                   {id, int(copy.row.kind), copy.row.startedMs,
                       copy.outcome != 0 ? QVariant(copy.endedMs) : QVariant(QMetaType::fromType<qlonglong>()),
                       copy.outcome, Text(copy.error), Text(copy.row.configuration), Text(copy.row.deviceNumber),
                       Text(copy.row.verifier), Text(copy.row.programVersion), Text(copy.row.bench),
                       Text(copy.row.owner), copy.row.usedAsStandard ? 1 : 0})
            && Exec(q,
                QStringLiteral("INSERT INTO journal_headers (run, header) VALUES (?, ?) ON CONFLICT (run) DO NOTHING"),
                {id, Text(copy.row.header)})
            && rows(points,
                QStringLiteral(
                    "INSERT INTO journal_points (run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, "
                    "angle, freq, is_rs, installation, device, analog, errors, failed, cells, marks) VALUES "
                    "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                    "ON CONFLICT (run, seq) DO NOTHING"))
            && rows(copy.lines,
                QStringLiteral("INSERT INTO journal_tuning_lines (run, seq, time_ms, text) VALUES (?, ?, ?, ?) "
                               "ON CONFLICT (run, seq) DO NOTHING"))
            && rows(copy.readbacks,
                QStringLiteral(
                    "INSERT INTO journal_readbacks (run, which, time_ms, data) VALUES (?, ?, ?, ?) "
                    "ON CONFLICT (run, which) DO UPDATE SET time_ms = excluded.time_ms, data = excluded.data"))
            && rows(copy.standards,
                QStringLiteral("INSERT INTO journal_run_standards (run, standard) VALUES (?, ?) "
                               "ON CONFLICT (run, standard) DO NOTHING"))
            && rows(copy.verdicts,
                QStringLiteral("INSERT INTO journal_verdicts (run, fit, data) VALUES (?, ?, ?) ON CONFLICT (run) DO "
                               "NOTHING"))
            && amendments()
            && Exec(q,
                QStringLiteral(
                    "UPDATE journal_runs SET points = (SELECT COUNT(*) FROM journal_points WHERE run = ?), "
                    "failed_points = (SELECT COUNT(*) FROM journal_points WHERE run = ? AND failed = 1) WHERE id = ?"),
                {id, id, id})
            // The store that holds the run for good seals it, whoever ended it.
            && Seal(id);
    });
}

bool TJournalStore::DeleteRun(const TJournalRunId &run)
{
    return Write(run, false, [&] {
        QSqlQuery q(Database());
        for (const char *table :
            {"journal_points", "journal_tuning_lines", "journal_readbacks", "journal_pending", "journal_run_standards",
                "journal_verdicts", "journal_amendments", "journal_headers", "journal_runs"}) {
            if (!Exec(q,
                    QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                        .arg(QLatin1String(table), QLatin1String(qstrcmp(table, "journal_runs") == 0 ? "id" : "run")),
                    {run}))
                return false;
        }
        return true;
    });
}

// ---- the ledger ----
//
// Each ended verification run is sealed once with the SHA-256 of its whole record, and each
// amendment with the SHA-256 of its row; every ledger entry's digest is SHA-256(previous entry's
// digest + this content), and journal_meta's "ledger_head" names the last entry. A record changed
// outside the program no longer matches its content; an entry removed breaks the chain at the next
// entry (whose prev_run names the run it belonged to) or at the head.

namespace {

QByteArray Sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QString HeadText(qint64 seq, const QString &run, const QByteArray &digest)
{
    return QStringLiteral("%1|%2|%3").arg(seq).arg(run, QString::fromLatin1(digest.toHex()));
}

} // namespace

std::optional<QByteArray> TJournalStore::RunDigest(const TJournalRunId &run)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    // Every row of the record with the kind of each column, in a fixed order.
    auto feed = [&](const QString &sql, const char *kinds) {
        if (!Exec(q, sql, {run}))
            return false;
        const int n = int(qstrlen(kinds));
        while (q.next()) {
            hash.addData("row;");
            for (int i = 0; i < n; ++i)
                Feed(hash, q.value(i), kinds[i]);
        }
        return true;
    };
    if (!feed(QStringLiteral("SELECT id, kind, started_ms, ended_ms, outcome, error, configuration, device_number, "
                             "verifier, program_version, bench, points, failed_points FROM journal_runs WHERE id = ?"),
            "tiiiittttttii")
        // Only a set mark is fed: runs sealed before the column existed keep their digests.
        || !feed(
            QStringLiteral("SELECT used_as_standard FROM journal_runs WHERE id = ? AND used_as_standard <> 0"), "i")
        || !feed(QStringLiteral("SELECT header FROM journal_headers WHERE run = ?"), "t")
        || !feed(QStringLiteral("SELECT standard FROM journal_run_standards WHERE run = ? ORDER BY standard"), "t")
        || !feed(QStringLiteral("SELECT seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, freq, is_rs, "
                                "installation, device, analog, errors, failed, cells, marks FROM journal_points "
                                "WHERE run = ? ORDER BY seq"),
            "iiiiddddddddibbbbiti")
        || !feed(QStringLiteral("SELECT fit, data FROM journal_verdicts WHERE run = ?"), "it"))
        return std::nullopt;
    return hash.result();
}

std::optional<QByteArray> TJournalStore::AmendmentDigest(const TJournalRunId &run, int seq)
{
    QSqlQuery q(Database());
    if (!Exec(q,
            QStringLiteral("SELECT run, seq, time_ms, who, field, old_value, new_value, reason FROM journal_amendments "
                           "WHERE run = ? AND seq = ?"),
            {run, seq}))
        return std::nullopt;
    if (!q.next())
        return QByteArray(); // none: matches no digest
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const char *kinds = "tiittttt";
    for (int i = 0; i < 8; ++i)
        Feed(hash, q.value(i), kinds[i]);
    return hash.result();
}

bool TJournalStore::AppendLedger(const TJournalRunId &run, int kind, int ref, const QByteArray &content)
{
    QSqlQuery q(Database());
    if (!Exec(q, QStringLiteral("SELECT seq, run, digest FROM journal_ledger ORDER BY seq DESC LIMIT 1"), {}))
        return false;
    qint64 seq = 1;
    QString prevRun;
    QByteArray prev;
    if (q.next()) {
        seq = q.value(0).toLongLong() + 1;
        prevRun = q.value(1).toString();
        prev = QByteArray::fromHex(q.value(2).toString().toLatin1());
    }
    const QByteArray digest = Sha256(prev + content);
    return Exec(q,
               QStringLiteral("INSERT INTO journal_ledger (seq, run, kind, ref, prev_run, content, digest) VALUES "
                              "(?, ?, ?, ?, ?, ?, ?)"),
               {seq, run, kind, ref, Text(prevRun), QString::fromLatin1(content.toHex()),
                   QString::fromLatin1(digest.toHex())})
        && Exec(q,
            QStringLiteral("INSERT INTO journal_meta (key, value) VALUES ('ledger_head', ?) ON CONFLICT (key) DO "
                           "UPDATE SET value = excluded.value"),
            {HeadText(seq, run, digest)});
}

bool TJournalStore::Seal(const TJournalRunId &run)
{
    QSqlQuery q(Database());
    if (!Exec(q, QStringLiteral("SELECT kind, outcome FROM journal_runs WHERE id = ?"), {run}))
        return false;
    if (!q.next() || q.value(0).toInt() != int(TJournalRunKind::Verification) || q.value(1).toInt() == 0)
        return true; // nothing to seal (yet): an open run, a tuning run, or amendments ahead of their run
    // Benches append to one ledger: the head is taken by one transaction at a time (SQLite's write
    // lock does the same for a file).
    if (connection_.dialect == TJournalDialect::PostgreSQL
        && !Exec(q, QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kLedgerLock), {}))
        return false;
    if (!Exec(q, QStringLiteral("SELECT kind, ref FROM journal_ledger WHERE run = ?"), {run}))
        return false;
    bool sealed = false;
    std::set<int> amended;
    while (q.next()) {
        if (q.value(0).toInt() == 0)
            sealed = true;
        else
            amended.insert(q.value(1).toInt());
    }
    if (!sealed) {
        const auto digest = RunDigest(run);
        if (!digest || !AppendLedger(run, 0, 0, *digest))
            return false;
    }
    if (!Exec(q, QStringLiteral("SELECT seq FROM journal_amendments WHERE run = ? ORDER BY seq"), {run}))
        return false;
    std::vector<int> seqs;
    while (q.next())
        seqs.push_back(q.value(0).toInt());
    for (int seq : seqs) {
        if (amended.count(seq))
            continue;
        const auto digest = AmendmentDigest(run, seq);
        if (!digest || !AppendLedger(run, 1, seq, *digest))
            return false;
    }
    return true;
}

std::optional<std::map<TJournalRunId, TRecordIntegrity>> TJournalStore::Integrity(
    const std::vector<TJournalRunId> &runs)
{
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    struct TEntry {
        int kind = 0, ref = 0;
        QByteArray content;
    };
    std::map<TJournalRunId, std::vector<TEntry>> entries;
    std::set<TJournalRunId> changed;
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    qint64 version = -1;
    if (connection_.dialect == TJournalDialect::SQLite) {
        if (!Exec(q, QStringLiteral("PRAGMA data_version"), {}) || !q.next())
            return std::nullopt;
        version = q.value(0).toLongLong();
    }
    if (version < 0 || version != dataVersion_)
        digests_.clear();
    dataVersion_ = version;
    if (!Exec(q,
            QStringLiteral("SELECT seq, run, kind, ref, prev_run, content, digest FROM journal_ledger ORDER BY seq"),
            {}))
        return std::nullopt;
    qint64 lastSeq = 0;
    QString lastRun;
    QByteArray prev;
    while (q.next()) {
        const qint64 seq = q.value(0).toLongLong();
        const QString run = q.value(1).toString();
        const QString prevRun = q.value(4).toString();
        const QByteArray content = QByteArray::fromHex(q.value(5).toString().toLatin1());
        const QByteArray digest = QByteArray::fromHex(q.value(6).toString().toLatin1());
        if (seq != lastSeq + 1 || prevRun != lastRun || digest != Sha256(prev + content)) {
            // The chain breaks here: this entry, and the run of the one that should precede it.
            changed.insert(run);
            if (!prevRun.isEmpty())
                changed.insert(prevRun);
        }
        entries[run].push_back({q.value(2).toInt(), q.value(3).toInt(), content});
        lastSeq = seq;
        lastRun = run;
        prev = digest;
    }
    if (!Exec(q, QStringLiteral("SELECT value FROM journal_meta WHERE key = 'ledger_head'"), {}))
        return std::nullopt;
    const QString head = q.next() ? q.value(0).toString() : QString();
    if (head != (lastSeq == 0 ? QString() : HeadText(lastSeq, lastRun, prev))) {
        // The last entries are gone (or the head was changed): the head names the run of the last.
        const QStringList parts = head.split(QLatin1Char('|'));
        if (parts.size() == 3)
            changed.insert(parts[1]);
        if (!lastRun.isEmpty())
            changed.insert(lastRun);
    }

    std::map<TJournalRunId, TRecordIntegrity> out;
    for (const TJournalRunId &run : runs) {
        const auto it = entries.find(run);
        if (changed.count(run)) {
            out[run] = TRecordIntegrity::Changed;
            continue;
        }
        if (it == entries.end()) {
            out[run] = TRecordIntegrity::Unchecked;
            continue;
        }
        bool intact = std::any_of(it->second.begin(), it->second.end(), [](const TEntry &e) { return e.kind == 0; });
        std::set<int> sealedAmendments;
        for (const TEntry &e : it->second) {
            if (!intact)
                break;
            std::optional<QByteArray> digest;
            if (e.kind == 0) {
                const auto cached = digests_.find(run);
                digest = cached != digests_.end() ? std::optional(cached->second) : RunDigest(run);
                if (digest && version >= 0)
                    digests_[run] = *digest;
            } else {
                digest = AmendmentDigest(run, e.ref);
            }
            if (!digest)
                return std::nullopt;
            intact = *digest == e.content;
            if (e.kind == 1)
                sealedAmendments.insert(e.ref);
        }
        // An amendment not in the ledger was added outside the program.
        if (intact) {
            if (!Exec(q, QStringLiteral("SELECT seq FROM journal_amendments WHERE run = ?"), {run}))
                return std::nullopt;
            while (intact && q.next())
                intact = sealedAmendments.count(q.value(0).toInt()) > 0;
        }
        out[run] = intact ? TRecordIntegrity::Intact : TRecordIntegrity::Changed;
    }
    return out;
}
