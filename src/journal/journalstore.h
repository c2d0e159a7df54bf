#pragma once
// One journal database, a SQLite file or a PostgreSQL server, behind one Qt SQL connection. Every
// write is one transaction and is durable when it returns true (SQLite in write-ahead logging with a
// full sync at each commit; PostgreSQL with its synchronous commit). Writes are idempotent: writing a
// run, a point or a log line that is there already changes nothing, so a buffer can be sent again
// after a transfer whose end was not seen.
//
// A store used as the buffer of a server journal also marks, in the same transaction as each write,
// the run as waiting to be sent (journal_pending).
//
// Main thread only (a Qt SQL connection belongs to the thread that made it).

#include "journal/journalrecords.h"
#include "journal/journalschema.h"

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QSqlQuery;

struct TJournalConnection {
    TJournalDialect dialect = TJournalDialect::SQLite;
    QString file; // SQLite
    QString host; // PostgreSQL: name, address or the folder of a unix socket; empty: libpq's default
    int port = 5432;
    QString database;
    QString user; // empty: libpq's default (the login name)
    QString password; // empty: none given (libpq then looks in its password file)
    int connectTimeoutSeconds = 3;

    // "user@host:port/database" or the file.
    QString Describe() const;
};

// What a failure means for the caller.
enum class TJournalFailure {
    None,
    Unavailable, // cannot open the file or reach the server
    Damaged, // not a database, or a damaged one
    Newer, // written by a newer program
    Full, // no space left
    ReadOnly, // may not write there
    Other,
};

class TJournalStore {
public:
    // The run row the archive lists, as stored.
    struct TRunRow {
        TJournalRunId id;
        TJournalRunKind kind = TJournalRunKind::Verification;
        qint64 startedMs = 0;
        QString configuration, deviceNumber, verifier, programVersion, bench, owner;
        QString header; // the header as JSON
        QStringList standards; // ids of the reference standards the run used
        bool usedAsStandard = false; // the instrument verified is used as a standard (a shorter deadline)
    };

    explicit TJournalStore(TJournalConnection connection);
    ~TJournalStore();
    TJournalStore(const TJournalStore &) = delete;
    TJournalStore &operator=(const TJournalStore &) = delete;

    // Connects, sets the file's logging mode, checks it and carries its schema forward. False with
    // LastFailure() saying why (Newer: the version found is in FoundVersion()).
    bool Open(bool checkIntegrity = true);
    void Close();
    bool IsOpen() const { return open_; }
    const TJournalConnection &Connection() const { return connection_; }
    int FoundVersion() const { return foundVersion_; }
    // "wal" once a SQLite file is open in write-ahead logging.
    const QString &JournalMode() const { return journalMode_; }

    TJournalFailure LastFailure() const { return failure_; }
    const QString &LastError() const { return error_; }

    // Each is one transaction; `pending` marks the run as waiting for the server in the same one.
    bool InsertRun(const TRunRow &run, bool pending);
    bool InsertPoint(const TJournalRunId &run, const TJournalPoint &point, bool pending);
    bool SetEnd(const TJournalRunId &run, const TJournalRunEnd &end, bool pending);
    bool InsertLine(const TJournalRunId &run, int seq, const TJournalLogLine &line, bool pending);
    bool SetReadback(const TJournalRunId &run, int which, const TJournalReadback &readback, bool pending);
    // A change to an ended run. It takes the number after the run's last one here, so that benches
    // and buffers never overwrite each other's; the same change (time, who, field, values, reason)
    // written again is not added twice. Not a buffer's write seals it (see Seal).
    bool InsertAmendment(const TJournalRunId &run, const TAmendment &amendment, bool pending);
    // The process now writing the run (a restored run taken up again).
    bool SetOwner(const TJournalRunId &run, const QString &owner, bool pending);
    // The connection still answers.
    bool Ping();

    // Reads; nullopt when the read failed.
    std::optional<std::vector<TJournalRunSummary>> List(const TJournalFilter &filter);
    // Runs without an end written on `bench`, newest first, with the process that wrote each.
    std::optional<std::vector<std::pair<TJournalRunSummary, QString>>> Unfinished(const QString &bench);
    // The run's row, or nullopt (also when it is not here: then LastFailure() is None).
    std::optional<TRunRow> RunRow(const TJournalRunId &run);
    std::optional<TJournalRun> LoadRun(const TJournalRunId &run);
    std::optional<TJournalTuningRun> LoadTuning(const TJournalRunId &run);
    // The highest point / log line / amendment number of a run, 0 when it has none.
    std::optional<int> MaxPointSeq(const TJournalRunId &run);
    std::optional<int> MaxLineSeq(const TJournalRunId &run);
    std::optional<int> MaxAmendmentSeq(const TJournalRunId &run);
    // How the run ended (Open while it has not); nullopt when it is not here (LastFailure() None) or
    // the read failed.
    std::optional<TJournalOutcome> Outcome(const TJournalRunId &run);

    // The laboratory's registers, sorted by name.
    std::optional<std::vector<TInstrumentType>> Types(bool withRetired);
    bool SaveType(const TInstrumentType &type);
    std::optional<std::vector<TStandard>> Standards(bool withRetired);
    bool SaveStandard(const TStandard &standard);
    // The runs whose recorded standards include this one, newest first.
    std::optional<std::vector<TJournalRunSummary>> RunsUsingStandard(const QString &standardId);

    // Whether each of `runs` still matches the ledger: the whole chain is walked, and the record of
    // each run named is digested again. A run never sealed is Unchecked, unless the chain shows an
    // entry of it removed.
    std::optional<std::map<TJournalRunId, TRecordIntegrity>> Integrity(const std::vector<TJournalRunId> &runs);

    // The buffer's side of sending: the runs waiting, oldest first; everything of one run copied to
    // `target` in one transaction there (ends and readbacks merged, counters recounted); a run
    // removed from here with its waiting mark.
    std::optional<std::vector<TJournalRunId>> PendingRuns();
    bool CopyRunTo(const TJournalRunId &run, TJournalStore &target);
    bool DeleteRun(const TJournalRunId &run);

    // The database itself, for tests and benchmarks that set up journals of older versions.
    QSqlDatabase Database() const;

private:
    struct TCopy;
    bool Connect(bool checkIntegrity);
    bool Fail(const QString &text, TJournalFailure failure);
    bool FailFrom(const QSqlQuery &query);
    bool FailFromDb();
    bool FailClosed();
    QSqlQuery &Prepared(const char *key, const QString &sql);
    // Binds `values` in order and runs the statement (prepared from `sql` first when given); false
    // with LastError() and LastFailure() set when it fails.
    bool Exec(QSqlQuery &query, const QVariantList &values);
    bool Exec(QSqlQuery &query, const QString &sql, const QVariantList &values);
    // One write transaction: `body` and, when `pending`, the run's waiting mark, all or nothing.
    template<class TBody> bool Write(const TJournalRunId &run, bool pending, TBody body);
    bool Begin();
    bool Commit();
    void Rollback();
    bool MarkPending(const TJournalRunId &run);
    bool WriteCopy(const TCopy &copy);
    // Both kinds of run are read the same way: their row of that kind, then what belongs to them.
    template<class TRun> std::optional<TRun> Load(const TJournalRunId &run);
    bool LoadRest(const TJournalRunId &run, TJournalRun &out);
    bool LoadRest(const TJournalRunId &run, TJournalTuningRun &out);
    std::optional<int> MaxSeq(const char *table, const TJournalRunId &run);
    std::optional<std::vector<TJournalRunSummary>> ListWhere(
        const QString &where, const QVariantList &binds, const QString &tail = QString());
    // Inside a write transaction of a store that holds runs for good (not a buffer): appends to the
    // ledger what of an ended verification run is not in it yet, its seal first, then its amendments.
    bool Seal(const TJournalRunId &run);
    bool PutAmendment(const TJournalRunId &run, const QVariantList &values);
    bool AppendLedger(const TJournalRunId &run, int kind, int ref, const QByteArray &content);
    // SHA-256 of everything a run's record holds (nullopt when it cannot be read), and of one amendment.
    std::optional<QByteArray> RunDigest(const TJournalRunId &run);
    std::optional<QByteArray> AmendmentDigest(const TJournalRunId &run, int seq);
    TJournalFailure Classify(const QString &nativeCode, const QString &text) const;

    TJournalConnection connection_;
    QString name_; // the Qt SQL connection's name
    bool open_ = false;
    int foundVersion_ = 0;
    QString journalMode_;
    TJournalFailure failure_ = TJournalFailure::None;
    QString error_;
    std::map<std::string, std::unique_ptr<QSqlQuery>> prepared_;
    // Run digests already computed, so that listing the archive again does not read every point
    // again: dropped for a run this store writes, and all of them when another connection has
    // written the file since (SQLite's data_version); a server's are not kept.
    std::map<TJournalRunId, QByteArray> digests_;
    qint64 dataVersion_ = -1;
};
