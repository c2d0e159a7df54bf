#include "journal/journalschema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace KestJournalSchema {
namespace {

QString Blob(TJournalDialect dialect)
{
    return dialect == TJournalDialect::PostgreSQL ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
}

// Step n brings a journal from version n − 1 to n. Never change a step once released: journals
// written by that program exist; add a new step instead.
QStringList Step(int n, TJournalDialect dialect)
{
    switch (n) {
    case 1:
        return {
            "CREATE TABLE journal_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
            "CREATE TABLE journal_runs (id TEXT PRIMARY KEY, started_ms BIGINT NOT NULL, ended_ms BIGINT, "
            "outcome INTEGER NOT NULL DEFAULT 0, error TEXT, configuration TEXT, device_number TEXT, "
            "verifier TEXT, program_version TEXT, points INTEGER NOT NULL DEFAULT 0, "
            "failed_points INTEGER NOT NULL DEFAULT 0)",
            // The header apart from the row the counters are kept in: a header is tens of kilobytes,
            // and counting a point must not write it again.
            "CREATE TABLE journal_headers (run TEXT PRIMARY KEY, header TEXT NOT NULL)",
            "CREATE INDEX journal_runs_started ON journal_runs (started_ms)",
            "CREATE TABLE journal_points (run TEXT NOT NULL, seq INTEGER NOT NULL, tab INTEGER NOT NULL, "
            "row_num INTEGER NOT NULL, time_ms BIGINT NOT NULL, i_a DOUBLE PRECISION, i_b DOUBLE PRECISION, "
            "i_c DOUBLE PRECISION, u_a DOUBLE PRECISION, u_b DOUBLE PRECISION, u_c DOUBLE PRECISION, "
            "angle DOUBLE PRECISION, freq DOUBLE PRECISION, is_rs INTEGER NOT NULL DEFAULT 1, "
            "installation "
                + Blob(dialect) + " NOT NULL, device " + Blob(dialect) + ", analog " + Blob(dialect) + ", errors "
                + Blob(dialect)
                + ", failed INTEGER NOT NULL DEFAULT 0, cells TEXT NOT NULL, "
                  "marks BIGINT NOT NULL DEFAULT 0, PRIMARY KEY (run, seq))",
        };
    case 2:
        // Tuning runs, the bench and process that wrote a run, and the buffer of a server journal.
        return {
            "ALTER TABLE journal_runs ADD COLUMN kind INTEGER NOT NULL DEFAULT 0",
            "ALTER TABLE journal_runs ADD COLUMN bench TEXT",
            "ALTER TABLE journal_runs ADD COLUMN owner TEXT",
            "CREATE INDEX journal_runs_device ON journal_runs (device_number)",
            "CREATE INDEX journal_runs_outcome ON journal_runs (outcome)",
            "CREATE TABLE journal_tuning_lines (run TEXT NOT NULL, seq INTEGER NOT NULL, time_ms BIGINT NOT NULL, "
            "text TEXT NOT NULL, PRIMARY KEY (run, seq))",
            "CREATE TABLE journal_readbacks (run TEXT NOT NULL, which INTEGER NOT NULL, time_ms BIGINT NOT NULL, "
            "data TEXT NOT NULL, PRIMARY KEY (run, which))",
            "CREATE TABLE journal_pending (run TEXT PRIMARY KEY, since_ms BIGINT NOT NULL)",
        };
    case 3:
        // The laboratory's registers, what each run used and concluded, amendments after the end,
        // and the ledger that seals ended runs. The registers keep each entry as JSON; the columns
        // beside it are only what the archive sorts and searches by.
        return {
            "CREATE TABLE journal_lab_types (id TEXT PRIMARY KEY, name TEXT NOT NULL, "
            "retired INTEGER NOT NULL DEFAULT 0, data TEXT NOT NULL)",
            "CREATE TABLE journal_lab_standards (id TEXT PRIMARY KEY, name TEXT NOT NULL, "
            "retired INTEGER NOT NULL DEFAULT 0, out_of_tolerance_ms BIGINT, data TEXT NOT NULL)",
            "CREATE TABLE journal_run_standards (run TEXT NOT NULL, standard TEXT NOT NULL, "
            "PRIMARY KEY (run, standard))",
            "CREATE INDEX journal_run_standards_standard ON journal_run_standards (standard)",
            "CREATE TABLE journal_verdicts (run TEXT PRIMARY KEY, fit INTEGER NOT NULL, data TEXT NOT NULL)",
            "CREATE TABLE journal_amendments (run TEXT NOT NULL, seq INTEGER NOT NULL, time_ms BIGINT NOT NULL, "
            "who TEXT NOT NULL, field TEXT NOT NULL, old_value TEXT NOT NULL, new_value TEXT NOT NULL, "
            "reason TEXT NOT NULL, PRIMARY KEY (run, seq))",
            // kind 0 seals a run (ref 0), kind 1 records its amendment number ref. prev_run names the
            // run of the entry before, so that a deleted entry still points at its run.
            "CREATE TABLE journal_ledger (seq BIGINT PRIMARY KEY, run TEXT NOT NULL, kind INTEGER NOT NULL, "
            "ref INTEGER NOT NULL, prev_run TEXT NOT NULL, content TEXT NOT NULL, digest TEXT NOT NULL, "
            "UNIQUE (run, kind, ref))",
        };
    case 4:
        // Whether the instrument verified is used as a standard: the Fund wants its record sooner.
        return {"ALTER TABLE journal_runs ADD COLUMN used_as_standard INTEGER NOT NULL DEFAULT 0"};
    default:
        return {};
    }
}

bool Exec(QSqlDatabase &db, const QString &sql, QString &error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    error = q.lastError().text();
    return false;
}

} // namespace

int ReadVersion(QSqlDatabase &db, QString &error)
{
    const bool sqlite = db.driverName() == QLatin1String("QSQLITE");
    QSqlQuery q(db);
    const QString exists = sqlite
        ? QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'journal_meta'")
        : QStringLiteral("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                         "AND table_name = 'journal_meta'");
    if (!q.exec(exists) || !q.next()) {
        error = q.lastError().text();
        return -1;
    }
    if (q.value(0).toInt() == 0)
        return 0;
    if (!q.exec(QStringLiteral("SELECT value FROM journal_meta WHERE key = 'schema_version'")) || !q.next()) {
        error = q.lastError().isValid() ? q.lastError().text() : QStringLiteral("schema_version missing");
        return -1;
    }
    bool ok = false;
    const int version = q.value(0).toString().toInt(&ok);
    if (!ok || version < 1) {
        error = QStringLiteral("schema_version \"%1\" is not a version").arg(q.value(0).toString());
        return -1;
    }
    return version;
}

bool Upgrade(QSqlDatabase &db, TJournalDialect dialect, int from, int to, QString &error)
{
    for (int n = from + 1; n <= to; ++n) {
        const QStringList statements = Step(n, dialect);
        if (statements.isEmpty()) {
            error = QStringLiteral("no step to schema version %1").arg(n);
            return false;
        }
        if (!db.transaction()) {
            error = db.lastError().text();
            return false;
        }
        bool ok = true;
        for (const QString &sql : statements)
            if (!(ok = Exec(db, sql, error)))
                break;
        if (ok) {
            const QString version = QString::number(n);
            ok = Exec(db,
                n == 1
                    ? QStringLiteral("INSERT INTO journal_meta (key, value) VALUES ('schema_version', '%1')")
                          .arg(version)
                    : QStringLiteral("UPDATE journal_meta SET value = '%1' WHERE key = 'schema_version'").arg(version),
                error);
        }
        if (!ok || !db.commit()) {
            if (ok)
                error = db.lastError().text();
            db.rollback();
            return false;
        }
    }
    return true;
}

} // namespace KestJournalSchema
