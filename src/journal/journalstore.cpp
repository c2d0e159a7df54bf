#include "journal/journalstore.h"

#include "journal/journalcodec.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

using namespace KestJournalCodec;

namespace {

// SQLite's result codes, as Qt SQL gives them in nativeErrorCode().
constexpr int kSqlitePerm = 3, kSqliteReadOnly = 8, kSqliteIoErr = 10, kSqliteCorrupt = 11, kSqliteFull = 13,
              kSqliteCantOpen = 14, kSqliteNotADb = 26;

const QByteArray kSqliteMagic("SQLite format 3\0", 16);

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
    if (version < KestJournalSchema::kCurrentVersion
        && !KestJournalSchema::Upgrade(db, connection_.dialect, version, KestJournalSchema::kCurrentVersion, error)) {
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
                            "verifier, program_version, bench, owner) VALUES (?, ?, ?, 0, ?, ?, ?, ?, ?, ?) "
                            "ON CONFLICT (id) DO NOTHING")),
                   {run.id, int(run.kind), run.startedMs, Text(run.configuration), Text(run.deviceNumber),
                       Text(run.verifier), Text(run.programVersion), Text(run.bench), Text(run.owner)})
            && Exec(Prepared("header",
                        QStringLiteral(
                            "INSERT INTO journal_headers (run, header) VALUES (?, ?) ON CONFLICT (run) DO NOTHING")),
                {run.id, Text(run.header)});
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
        return Exec(Prepared("end",
                        QStringLiteral("UPDATE journal_runs SET ended_ms = ?, outcome = ?, error = ? WHERE id = ?")),
            {ToMs(end.time), int(end.outcome), Text(end.error), run});
    });
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
                                    "verifier, bench, points, failed_points";

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
    if (!open_) {
        FailClosed();
        return std::nullopt;
    }
    QString sql = QStringLiteral("SELECT %1 FROM journal_runs WHERE 1 = 1").arg(QLatin1String(kSummaryColumns));
    QVariantList binds;
    if (filter.from.isValid()) {
        sql += QStringLiteral(" AND started_ms >= ?");
        binds << ToMs(filter.from);
    }
    if (filter.to.isValid()) {
        sql += QStringLiteral(" AND started_ms < ?");
        binds << ToMs(filter.to);
    }
    if (!filter.deviceNumber.trimmed().isEmpty()) {
        sql += QStringLiteral(" AND LOWER(device_number) LIKE ? ESCAPE '\\'");
        binds << LikePattern(filter.deviceNumber);
    }
    if (filter.kind) {
        sql += QStringLiteral(" AND kind = ?");
        binds << int(*filter.kind);
    }
    sql += QStringLiteral(" ORDER BY started_ms DESC, id DESC");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!Exec(q, sql, binds))
        return std::nullopt;
    std::vector<TJournalRunSummary> out;
    while (q.next())
        out.push_back(SummaryOf(q));
    return out;
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
        out.emplace_back(SummaryOf(q), q.value(12).toString());
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
            QStringLiteral(
                "SELECT id, kind, started_ms, configuration, device_number, verifier, program_version, "
                "bench, owner, h.header FROM journal_runs LEFT JOIN journal_headers h ON h.run = id WHERE id = ?"),
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
    if (!row)
        return failure_ == TJournalFailure::None ? Fail(QStringLiteral("нет такого запуска"), TJournalFailure::Other)
                                                 : false;
    TCopy copy;
    copy.row = *row;
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!Exec(q, QStringLiteral("SELECT ended_ms, outcome, error FROM journal_runs WHERE id = ?"), {run}))
        return false;
    if (!q.next())
        return FailFrom(q);
    copy.endedMs = q.value(0).toLongLong();
    copy.outcome = q.value(1).toInt();
    copy.error = q.value(2).toString();

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
            QStringLiteral("SELECT run, which, time_ms, data FROM journal_readbacks WHERE run = ?"), 4, copy.readbacks))
        return false;
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
        return Exec(q,
                   QStringLiteral(
                       "INSERT INTO journal_runs (id, kind, started_ms, ended_ms, outcome, error, configuration, "
                       "device_number, verifier, "
                       "program_version, bench, owner) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO "
                       "UPDATE SET "
                       "ended_ms = CASE WHEN excluded.outcome <> 0 THEN excluded.ended_ms ELSE journal_runs.ended_ms "
                       "END, "
                       "error = CASE WHEN excluded.outcome <> 0 THEN excluded.error ELSE journal_runs.error END, "
                       "outcome = CASE WHEN excluded.outcome <> 0 THEN excluded.outcome ELSE journal_runs.outcome "
                       "END"),
                   {id, int(copy.row.kind), copy.row.startedMs,
                       copy.outcome != 0 ? QVariant(copy.endedMs) : QVariant(QMetaType::fromType<qlonglong>()),
                       copy.outcome, Text(copy.error), Text(copy.row.configuration), Text(copy.row.deviceNumber),
                       Text(copy.row.verifier), Text(copy.row.programVersion), Text(copy.row.bench),
                       Text(copy.row.owner)})
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
            && Exec(q,
                QStringLiteral(
                    "UPDATE journal_runs SET points = (SELECT COUNT(*) FROM journal_points WHERE run = ?), "
                    "failed_points = (SELECT COUNT(*) FROM journal_points WHERE run = ? AND failed = 1) WHERE id = ?"),
                {id, id, id});
    });
}

bool TJournalStore::DeleteRun(const TJournalRunId &run)
{
    return Write(run, false, [&] {
        QSqlQuery q(Database());
        for (const char *table : {"journal_points", "journal_tuning_lines", "journal_readbacks", "journal_pending",
                 "journal_headers", "journal_runs"}) {
            if (!Exec(q,
                    QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                        .arg(QLatin1String(table), QLatin1String(qstrcmp(table, "journal_runs") == 0 ? "id" : "run")),
                    {run}))
                return false;
        }
        return true;
    });
}
