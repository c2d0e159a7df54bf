#pragma once
// The results journal: every measured point written durably the moment its row is filled, every
// verification and tuning run at hand afterwards.
//
// Where it writes:
//  - a SQLite file (the default): each call below is one transaction, synced before it returns;
//  - a PostgreSQL server: the same, on the server; while the server cannot be reached, everything
//    goes to a local buffer file instead, and is sent (idempotently, run by run) when the server is
//    back: at the next call after the retry time, on the retry timer, or on Flush().
//  - nowhere, when neither can be written (a full disk, a read-only folder, a damaged or newer
//    file): the run goes on, the caller is told once through the message handler and State(), and
//    what could not be written is kept in memory and written as soon as writing works again.
//
// Callers never see an exception, and a failed write never stops a run: every write returns whether
// the record is durable now. Ids are UUID texts. Main thread only.
//
// Typical use by a run driver's observer:
//   TJournalRunId id = journal.BeginRun(header);          // run started
//   journal.AddPoint(id, point);                           // each point measured
//   journal.EndRun(id, {TJournalOutcome::Stopped});        // run ended
// and at start-up: for (auto &run : journal.UnfinishedRuns()) offer journal.LoadRun(run.id); to go on
// with a restored run, AddPoint on its id continues its numbering; to drop the offer, EndRun it with
// TJournalOutcome::Failed and a reason.

#include "journal/journalconfig.h"
#include "journal/journalrecords.h"
#include "journal/journalstore.h"
#include "journal/labregistry.h"
#include "protocol/listeners.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

enum class TJournalBackend {
    None, // not opened, or nothing could be opened
    File, // the SQLite file
    Server, // the PostgreSQL server
    ServerBuffered, // a server journal whose server is away: points go to the local buffer file
};

struct TJournalState {
    TJournalBackend backend = TJournalBackend::None;
    bool journalling = false; // the last write (or the opening) succeeded: points are being journalled
    QString location; // the file, or "user@host:port/database"
    QString bufferFile; // a server journal's buffer
    int waitingRuns = 0; // runs in the buffer not yet on the server
    int unwritten = 0; // records held in memory because nothing could be written
    QString problem; // why not journalling, or why the server is not used; empty when all is well

    // One line for the windows: "Журнал: …", "Журнал: сервер … недоступен, точки сохраняются в …",
    // "Результаты не записываются в журнал: …".
    QString Text() const;
    bool operator==(const TJournalState &other) const = default;
};

class TJournal {
public:
    explicit TJournal(TJournalOptions options);
    ~TJournal();
    TJournal(const TJournal &) = delete;
    TJournal &operator=(const TJournal &) = delete;

    // Opens the journal (creating the folder and the file, carrying an older schema forward, moving
    // a damaged file aside as "<name>-damaged-<date>-<time>.sqlite" and starting a new one, refusing
    // a newer one untouched); sends what a server journal's buffer holds. Messages for the user go to
    // the message handler. Returns whether points will be journalled.
    bool Open();
    const TJournalState &State() const { return state_; }
    const TJournalOptions &Options() const { return options_; }

    // Told once per problem (damaged file moved aside, newer schema refused, writing stopped, server
    // away). Messages that come before a handler is set are kept and given to it when it is set.
    void SetMessageHandler(std::function<void(const QString &)> handler);
    // Told at every change of State(), each listener while its subscription lives (the main window,
    // the archive window, every verification window).
    [[nodiscard]] TListeners<const TJournalState &>::TSubscription AddStateListener(
        std::function<void(const TJournalState &)> listener);

    // ---- verification runs ----
    // Fills in id, start time, program version and bench when empty; returns the run's id (also when
    // the header could not be written yet: it is kept and written before the run's next record).
    TJournalRunId BeginRun(TJournalRunHeader header);
    // Numbers the point (seq) and stamps its time when empty. True when it is durable.
    bool AddPoint(const TJournalRunId &run, TJournalPoint point);
    bool EndRun(const TJournalRunId &run, TJournalRunEnd end);
    // Records a change to an ended verification run (its header, conditions or verdict): numbered
    // after the run's others and stamped now when its time is not valid, in one transaction; while a
    // server is away it waits in the buffer like a point. An open or unknown run is refused (false,
    // LastError() says why); the run's own record is never changed.
    bool AddAmendment(const TJournalRunId &run, TAmendment amendment);

    // ---- tuning runs ----
    TJournalRunId BeginTuning(TJournalTuningHeader header);
    bool AddTuningLine(const TJournalRunId &run, const QString &text, const QDateTime &time = QDateTime());
    bool SetAsFound(const TJournalRunId &run, TJournalReadback readback);
    bool SetAsLeft(const TJournalRunId &run, TJournalReadback readback);
    bool EndTuning(const TJournalRunId &run, TJournalRunEnd end);

    // Takes up a run that did not end (after a restart) so that its records continue its numbering.
    // AddPoint, AddTuningLine and the ends do it themselves for a run they do not know.
    bool ResumeRun(const TJournalRunId &run);

    // ---- reading ----
    // Runs of this bench (host) without an end, newest first, leaving out those a live process on
    // this host is still writing; verification and tuning alike.
    std::vector<TJournalRunSummary> UnfinishedRuns();
    std::optional<TJournalRun> LoadRun(const TJournalRunId &run);
    std::optional<TJournalTuningRun> LoadTuning(const TJournalRunId &run);
    // Newest first. Reads the server, or the buffer while the server is away.
    std::vector<TJournalRunSummary> ListRuns(const TJournalFilter &filter = TJournalFilter());
    // Why the last read gave nothing; empty after a read that worked.
    const QString &LastReadError() const { return readError_; }
    // Why the last amendment or register write was refused.
    const QString &LastError() const { return error_; }

    // The laboratory's registers, kept where the runs are read from: on the server for a server
    // journal (refused while it is away, so that two registers never part), in the file otherwise.
    ILabRegistry &Registry();
    // Every run's integrity against the ledger (ListRuns and LoadRun give it too); nullopt when the
    // journal cannot be read.
    std::optional<std::map<TJournalRunId, TRecordIntegrity>> CheckIntegrity();

    // Sends the buffer to the server now (when it can be reached) and writes what is held in memory.
    // True when nothing is left waiting.
    bool Flush();
    // Before the program ends: one more bounded try to reach the server and send the buffer, for at
    // most about `maxMs`. Returns how many runs stay buffered (or held in memory) for a later start.
    int FlushBeforeExit(int maxMs);

    // This program's version, as run headers record it.
    static QString ProgramVersion();
    // The host name runs are recorded under.
    static QString BenchName();

private:
    class TRegistry;
    friend class TRegistry;
    // The store registers are read from and written to; nullptr with error_ set when none.
    TJournalStore *RegistryStore();
    void RegistryFailed(TJournalStore &store);
    // A run of either kind by id: the one reader both kinds go through.
    template<typename TRun>
    std::optional<TRun> Load(
        std::optional<TRun> (TJournalStore::*read)(const TJournalRunId &), const TJournalRunId &run);
    enum class TTarget { Local, Buffer, Server };
    struct TOpenRun {
        TJournalRunKind kind = TJournalRunKind::Verification;
        TJournalStore::TRunRow row; // the header as written
        int nextSeq = 1;
        int nextLine = 1;
        bool inLocal = false; // the header is in the file (or the buffer)
        bool inServer = false;
    };
    using TOp = std::function<bool(TJournalStore &, bool pending)>;
    struct THeld {
        TJournalRunId run;
        TOp op;
    };

    bool OpenFile(std::unique_ptr<TJournalStore> &store, const QString &file, bool buffer, bool tell);
    bool ConnectServer(bool tell);
    void RetryIfDue();
    bool Write(const TJournalRunId &run, TOp op);
    bool WriteTo(TTarget target, const TJournalRunId &run, const TOp &op);
    bool EnsureHeader(TTarget target, const TJournalRunId &run);
    void ServerLost(const QString &why);
    void WritingFailed(const TJournalStore &store);
    // Stops before the next run once `deadline` (ms since the epoch; 0: none) has passed.
    bool FlushBuffer(qint64 deadline = 0);
    bool FlushHeld();
    void TryServerLater();
    TJournalStore *ReadStore();
    TOpenRun *Known(const TJournalRunId &run);
    void Tell(const QString &message);
    void UpdateState();
    QString Owner() const;
    static bool OwnerAlive(const QString &owner);

    TJournalOptions options_;
    std::unique_ptr<TJournalStore> local_; // the file, or the buffer of a server journal
    std::unique_ptr<TJournalStore> server_;
    bool serverMode_ = false;
    bool serverUp_ = false;
    bool serverRefused_ = false; // newer schema on the server: never written
    qint64 lastServerTry_ = 0;
    bool localUsable_ = false;
    bool writing_ = true; // the last write succeeded somewhere
    QString localProblem_;
    QString serverProblem_;
    std::map<TJournalRunId, TOpenRun> runs_;
    std::deque<THeld> held_;
    std::unique_ptr<QTimer> retryTimer_;
    TJournalState state_;
    QString readError_;
    QString error_;
    std::unique_ptr<TRegistry> registry_;
    QStringList pendingMessages_;
    std::function<void(const QString &)> messageHandler_;
    TListeners<const TJournalState &> stateListeners_;
};
