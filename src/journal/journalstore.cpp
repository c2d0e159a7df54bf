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
    QSqlQuery &q = Prepared("pending",
        QStringLiteral("INSERT INTO journal_pending (run, since_ms) VALUES (?, ?) ON CONFLICT (run) DO NOTHING"));
    q.addBindValue(run);
    q.addBindValue(QDateTime::currentMSecsSinceEpoch());
    return q.exec() || FailFrom(q);
}

bool TJournalStore::InsertRun(const TRunRow &run, bool pending)
{
    if (!Begin())
        return false;
    QSqlQuery &q = Prepared("run",
        QStringLiteral(
            "INSERT INTO journal_runs (id, kind, started_ms, outcome, configuration, device_number, verifier, "
            "program_version, bench, owner) VALUES (?, ?, ?, 0, ?, ?, ?, ?, ?, ?) "
            "ON CONFLICT (id) DO NOTHING"));
    q.addBindValue(run.id);
    q.addBindValue(int(run.kind));
    q.addBindValue(run.startedMs);
    q.addBindValue(Text(run.configuration));
    q.addBindValue(Text(run.deviceNumber));
    q.addBindValue(Text(run.verifier));
    q.addBindValue(Text(run.programVersion));
    q.addBindValue(Text(run.bench));
    q.addBindValue(Text(run.owner));
    if (!q.exec()) {
        FailFrom(q);
        Rollback();
        return false;
    }
    QSqlQuery &h = Prepared("header",
        QStringLiteral("INSERT INTO journal_headers (run, header) VALUES (?, ?) ON CONFLICT (run) DO NOTHING"));
    h.addBindValue(run.id);
    h.addBindValue(Text(run.header));
    if (!h.exec()) {
        FailFrom(h);
        Rollback();
        return false;
    }
    if (pending && !MarkPending(run.id)) {
        Rollback();
        return false;
    }
    return Commit();
}

bool TJournalStore::InsertPoint(const TJournalRunId &run, const TJournalPoint &p, bool pending)
{
    if (!Begin())
        return false;
    QSqlQuery &q = Prepared("point",
        QStringLiteral(
            "INSERT INTO journal_points (run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, "
            "freq, is_rs, installation, device, analog, errors, failed, cells, marks) VALUES "
            "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (run, seq) DO NOTHING"));
    const bool failed = p.HasOverLimit();
    q.addBindValue(run);
    q.addBindValue(p.seq);
    q.addBindValue(p.tab);
    q.addBindValue(p.row);
    q.addBindValue(ToMs(p.time));
    for (const TParameter *v :
        {&p.input.Ia, &p.input.Ib, &p.input.Ic, &p.input.Ua, &p.input.Ub, &p.input.Uc, &p.input.Angle, &p.input.Freq})
        q.addBindValue(v->value);
    q.addBindValue(p.input.IsRsInterface ? 1 : 0);
    q.addBindValue(Bytes(EncodeValues(p.installation)));
    q.addBindValue(p.device ? Bytes(EncodeValues(*p.device)) : NullBytes());
    q.addBindValue(p.analog ? Bytes(EncodeAnalog(*p.analog)) : NullBytes());
    q.addBindValue(Bytes(EncodeErrors(p.errors)));
    q.addBindValue(failed ? 1 : 0);
    q.addBindValue(EncodeCells(p.cells));
    q.addBindValue(EncodeMarks(p.marks));
    if (!q.exec()) {
        FailFrom(q);
        Rollback();
        return false;
    }
    if (q.numRowsAffected() == 1) {
        QSqlQuery &c = Prepared("count",
            QStringLiteral(
                "UPDATE journal_runs SET points = points + 1, failed_points = failed_points + ? WHERE id = ?"));
        c.addBindValue(failed ? 1 : 0);
        c.addBindValue(run);
        if (!c.exec()) {
            FailFrom(c);
            Rollback();
            return false;
        }
    }
    if (pending && !MarkPending(run)) {
        Rollback();
        return false;
    }
    return Commit();
}

bool TJournalStore::SetEnd(const TJournalRunId &run, const TJournalRunEnd &end, bool pending)
{
    if (!Begin())
        return false;
    QSqlQuery &q
        = Prepared("end", QStringLiteral("UPDATE journal_runs SET ended_ms = ?, outcome = ?, error = ? WHERE id = ?"));
    q.addBindValue(ToMs(end.time));
    q.addBindValue(int(end.outcome));
    q.addBindValue(Text(end.error));
    q.addBindValue(run);
    if (!q.exec()) {
        FailFrom(q);
        Rollback();
        return false;
    }
    if (pending && !MarkPending(run)) {
        Rollback();
        return false;
    }
    return Commit();
}

bool TJournalStore::InsertLine(const TJournalRunId &run, int seq, const TJournalLogLine &line, bool pending)
{
    if (!Begin())
        return false;
    QSqlQuery &q = Prepared("line",
        QStringLiteral("INSERT INTO journal_tuning_lines (run, seq, time_ms, text) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (run, seq) DO NOTHING"));
    q.addBindValue(run);
    q.addBindValue(seq);
    q.addBindValue(ToMs(line.time));
    q.addBindValue(Text(line.text));
    if (!q.exec()) {
        FailFrom(q);
        Rollback();
        return false;
    }
    if (pending && !MarkPending(run)) {
        Rollback();
        return false;
    }
    return Commit();
}

bool TJournalStore::SetReadback(const TJournalRunId &run, int which, const TJournalReadback &readback, bool pending)
{
    if (!Begin())
        return false;
    QSqlQuery &q = Prepared("readback",
        QStringLiteral("INSERT INTO journal_readbacks (run, which, time_ms, data) VALUES (?, ?, ?, ?) "
                       "ON CONFLICT (run, which) DO UPDATE SET time_ms = excluded.time_ms, data = excluded.data"));
    q.addBindValue(run);
    q.addBindValue(which);
    q.addBindValue(ToMs(readback.time));
    q.addBindValue(EncodeReadback(readback));
    if (!q.exec()) {
        FailFrom(q);
        Rollback();
        return false;
    }
    if (pending && !MarkPending(run)) {
        Rollback();
        return false;
    }
    return Commit();
}

bool TJournalStore::SetOwner(const TJournalRunId &run, const QString &owner, bool pending)
{
    if (!Begin())
        return false;
    QSqlQuery &q = Prepared("owner", QStringLiteral("UPDATE journal_runs SET owner = ? WHERE id = ?"));
    q.addBindValue(Text(owner));
    q.addBindValue(run);
    if (!q.exec()) {
        FailFrom(q);
        Rollback();
        return false;
    }
    if (pending && !MarkPending(run)) {
        Rollback();
        return false;
    }
    return Commit();
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
        Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
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
    q.prepare(sql);
    for (const QVariant &b : binds)
        q.addBindValue(b);
    if (!q.exec()) {
        FailFrom(q);
        return std::nullopt;
    }
    std::vector<TJournalRunSummary> out;
    while (q.next())
        out.push_back(SummaryOf(q));
    return out;
}

std::optional<std::vector<std::pair<TJournalRunSummary, QString>>> TJournalStore::Unfinished(const QString &bench)
{
    if (!open_) {
        Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1, owner FROM journal_runs WHERE outcome = 0 AND bench = ? "
                             "ORDER BY started_ms DESC, id DESC")
                  .arg(QLatin1String(kSummaryColumns)));
    q.addBindValue(Text(bench));
    if (!q.exec()) {
        FailFrom(q);
        return std::nullopt;
    }
    std::vector<std::pair<TJournalRunSummary, QString>> out;
    while (q.next())
        out.emplace_back(SummaryOf(q), q.value(12).toString());
    return out;
}

std::optional<TJournalStore::TRunRow> TJournalStore::RunRow(const TJournalRunId &run)
{
    failure_ = TJournalFailure::None;
    if (!open_) {
        Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.prepare(QStringLiteral(
        "SELECT id, kind, started_ms, configuration, device_number, verifier, program_version, "
        "bench, owner, h.header FROM journal_runs LEFT JOIN journal_headers h ON h.run = id WHERE id = ?"));
    q.addBindValue(run);
    if (!q.exec()) {
        FailFrom(q);
        return std::nullopt;
    }
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

} // namespace

std::optional<TJournalRun> TJournalStore::LoadRun(const TJournalRunId &run)
{
    failure_ = TJournalFailure::None;
    if (!open_) {
        Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.prepare(QStringLiteral(
        "SELECT h.header, ended_ms, outcome, error FROM journal_runs LEFT JOIN journal_headers h ON h.run = id "
        "WHERE id = ? AND kind = 0"));
    q.addBindValue(run);
    if (!q.exec()) {
        FailFrom(q);
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    TJournalRun out;
    auto header = DecodeRunHeader(q.value(0).toString());
    if (!header) {
        Fail(QStringLiteral("заголовок поверки не читается"), TJournalFailure::Damaged);
        return std::nullopt;
    }
    out.header = std::move(*header);
    out.header.id = run;
    out.end = EndOf(q, 2);

    QSqlQuery p(Database());
    p.setForwardOnly(true);
    p.prepare(QStringLiteral("SELECT seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, freq, is_rs, "
                             "installation, device, analog, errors, cells, marks FROM journal_points WHERE run = ? "
                             "ORDER BY seq"));
    p.addBindValue(run);
    if (!p.exec()) {
        FailFrom(p);
        return std::nullopt;
    }
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
    return out;
}

std::optional<TJournalTuningRun> TJournalStore::LoadTuning(const TJournalRunId &run)
{
    failure_ = TJournalFailure::None;
    if (!open_) {
        Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
        return std::nullopt;
    }
    QSqlQuery q(Database());
    q.prepare(QStringLiteral(
        "SELECT h.header, ended_ms, outcome, error FROM journal_runs LEFT JOIN journal_headers h ON h.run = id "
        "WHERE id = ? AND kind = 1"));
    q.addBindValue(run);
    if (!q.exec()) {
        FailFrom(q);
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    TJournalTuningRun out;
    auto header = DecodeTuningHeader(q.value(0).toString());
    if (!header) {
        Fail(QStringLiteral("заголовок настройки не читается"), TJournalFailure::Damaged);
        return std::nullopt;
    }
    out.header = std::move(*header);
    out.header.id = run;
    out.end = EndOf(q, 2);

    QSqlQuery l(Database());
    l.setForwardOnly(true);
    l.prepare(QStringLiteral("SELECT time_ms, text FROM journal_tuning_lines WHERE run = ? ORDER BY seq"));
    l.addBindValue(run);
    if (!l.exec()) {
        FailFrom(l);
        return std::nullopt;
    }
    while (l.next())
        out.lines.push_back({FromMs(l.value(0).toLongLong()), l.value(1).toString()});
    QSqlQuery r(Database());
    r.prepare(QStringLiteral("SELECT which, data FROM journal_readbacks WHERE run = ?"));
    r.addBindValue(run);
    if (!r.exec()) {
        FailFrom(r);
        return std::nullopt;
    }
    while (r.next()) {
        auto readback = DecodeReadback(r.value(1).toString());
        if (r.value(0).toInt() == 0)
            out.asFound = std::move(readback);
        else
            out.asLeft = std::move(readback);
    }
    return out;
}

std::optional<int> TJournalStore::MaxPointSeq(const TJournalRunId &run)
{
    QSqlQuery q(Database());
    q.prepare(QStringLiteral("SELECT COALESCE(MAX(seq), 0) FROM journal_points WHERE run = ?"));
    q.addBindValue(run);
    if (!open_ || !q.exec() || !q.next()) {
        FailFrom(q);
        return std::nullopt;
    }
    return q.value(0).toInt();
}

std::optional<int> TJournalStore::MaxLineSeq(const TJournalRunId &run)
{
    QSqlQuery q(Database());
    q.prepare(QStringLiteral("SELECT COALESCE(MAX(seq), 0) FROM journal_tuning_lines WHERE run = ?"));
    q.addBindValue(run);
    if (!open_ || !q.exec() || !q.next()) {
        FailFrom(q);
        return std::nullopt;
    }
    return q.value(0).toInt();
}

std::optional<std::vector<TJournalRunId>> TJournalStore::PendingRuns()
{
    if (!open_) {
        Fail(QStringLiteral("журнал не открыт"), TJournalFailure::Unavailable);
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
    q.prepare(QStringLiteral("SELECT ended_ms, outcome, error FROM journal_runs WHERE id = ?"));
    q.addBindValue(run);
    if (!q.exec() || !q.next())
        return FailFrom(q);
    copy.endedMs = q.value(0).toLongLong();
    copy.outcome = q.value(1).toInt();
    copy.error = q.value(2).toString();

    q.prepare(
        QStringLiteral("SELECT run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, angle, freq, is_rs, "
                       "installation, device, analog, errors, failed, cells, marks FROM journal_points WHERE run = ? "
                       "ORDER BY seq"));
    q.addBindValue(run);
    if (!q.exec())
        return FailFrom(q);
    while (q.next()) {
        QVariantList values;
        for (int i = 0; i < 21; ++i)
            values << q.value(i);
        copy.points.push_back(std::move(values));
    }
    q.prepare(QStringLiteral("SELECT run, seq, time_ms, text FROM journal_tuning_lines WHERE run = ? ORDER BY seq"));
    q.addBindValue(run);
    if (!q.exec())
        return FailFrom(q);
    while (q.next())
        copy.lines.push_back({q.value(0), q.value(1), q.value(2), q.value(3)});
    q.prepare(QStringLiteral("SELECT run, which, time_ms, data FROM journal_readbacks WHERE run = ?"));
    q.addBindValue(run);
    if (!q.exec())
        return FailFrom(q);
    while (q.next())
        copy.readbacks.push_back({q.value(0), q.value(1), q.value(2), q.value(3)});
    if (!target.WriteCopy(copy))
        return Fail(target.LastError(), target.LastFailure());
    return true;
}

bool TJournalStore::WriteCopy(const TCopy &copy)
{
    if (!Begin())
        return false;
    auto fail = [this](QSqlQuery &q) {
        FailFrom(q);
        Rollback();
        return false;
    };
    QSqlQuery q(Database());
    q.prepare(QStringLiteral(
        "INSERT INTO journal_runs (id, kind, started_ms, ended_ms, outcome, error, configuration, device_number, "
        "verifier, "
        "program_version, bench, owner) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO "
        "UPDATE SET "
        "ended_ms = CASE WHEN excluded.outcome <> 0 THEN excluded.ended_ms ELSE journal_runs.ended_ms END, "
        "error = CASE WHEN excluded.outcome <> 0 THEN excluded.error ELSE journal_runs.error END, "
        "outcome = CASE WHEN excluded.outcome <> 0 THEN excluded.outcome ELSE journal_runs.outcome END"));
    q.addBindValue(copy.row.id);
    q.addBindValue(int(copy.row.kind));
    q.addBindValue(copy.row.startedMs);
    q.addBindValue(copy.outcome != 0 ? QVariant(copy.endedMs) : QVariant(QMetaType::fromType<qlonglong>()));
    q.addBindValue(copy.outcome);
    q.addBindValue(Text(copy.error));
    q.addBindValue(Text(copy.row.configuration));
    q.addBindValue(Text(copy.row.deviceNumber));
    q.addBindValue(Text(copy.row.verifier));
    q.addBindValue(Text(copy.row.programVersion));
    q.addBindValue(Text(copy.row.bench));
    q.addBindValue(Text(copy.row.owner));
    if (!q.exec())
        return fail(q);
    q.prepare(QStringLiteral("INSERT INTO journal_headers (run, header) VALUES (?, ?) ON CONFLICT (run) DO NOTHING"));
    q.addBindValue(copy.row.id);
    q.addBindValue(Text(copy.row.header));
    if (!q.exec())
        return fail(q);
    if (!copy.points.empty()) {
        q.prepare(
            QStringLiteral("INSERT INTO journal_points (run, seq, tab, row_num, time_ms, i_a, i_b, i_c, u_a, u_b, u_c, "
                           "angle, freq, is_rs, installation, device, analog, errors, failed, cells, marks) VALUES "
                           "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                           "ON CONFLICT (run, seq) DO NOTHING"));
        for (const QVariantList &values : copy.points) {
            for (int i = 0; i < values.size(); ++i) {
                // Binary columns keep their type when empty, so PostgreSQL takes them as BYTEA.
                const bool binary = i >= 14 && i <= 17;
                q.addBindValue(binary && values[i].isNull() ? NullBytes()
                        : binary                            ? QVariant(values[i].toByteArray())
                                                            : values[i]);
            }
            if (!q.exec())
                return fail(q);
        }
    }
    if (!copy.lines.empty()) {
        q.prepare(QStringLiteral("INSERT INTO journal_tuning_lines (run, seq, time_ms, text) VALUES (?, ?, ?, ?) "
                                 "ON CONFLICT (run, seq) DO NOTHING"));
        for (const QVariantList &values : copy.lines) {
            for (const QVariant &v : values)
                q.addBindValue(v);
            if (!q.exec())
                return fail(q);
        }
    }
    if (!copy.readbacks.empty()) {
        q.prepare(
            QStringLiteral("INSERT INTO journal_readbacks (run, which, time_ms, data) VALUES (?, ?, ?, ?) "
                           "ON CONFLICT (run, which) DO UPDATE SET time_ms = excluded.time_ms, data = excluded.data"));
        for (const QVariantList &values : copy.readbacks) {
            for (const QVariant &v : values)
                q.addBindValue(v);
            if (!q.exec())
                return fail(q);
        }
    }
    q.prepare(QStringLiteral(
        "UPDATE journal_runs SET points = (SELECT COUNT(*) FROM journal_points WHERE run = ?), "
        "failed_points = (SELECT COUNT(*) FROM journal_points WHERE run = ? AND failed = 1) WHERE id = ?"));
    q.addBindValue(copy.row.id);
    q.addBindValue(copy.row.id);
    q.addBindValue(copy.row.id);
    if (!q.exec())
        return fail(q);
    return Commit();
}

bool TJournalStore::DeleteRun(const TJournalRunId &run)
{
    if (!Begin())
        return false;
    QSqlQuery q(Database());
    for (const char *table : {"journal_points", "journal_tuning_lines", "journal_readbacks", "journal_pending",
             "journal_headers", "journal_runs"}) {
        q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                      .arg(QLatin1String(table), QLatin1String(qstrcmp(table, "journal_runs") == 0 ? "id" : "run")));
        q.addBindValue(run);
        if (!q.exec()) {
            FailFrom(q);
            Rollback();
            return false;
        }
    }
    return Commit();
}
