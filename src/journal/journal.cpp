#include "journal/journal.h"

#include "journal/journalcodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <set>

#include <unistd.h>

#ifndef KEST_PROGRAM_VERSION
#define KEST_PROGRAM_VERSION "0"
#endif

namespace {

constexpr size_t kMaxHeld = 100000;

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks after boot. With the pid it
// names one process, even after pids have been reused.
QString StartTimeOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')'); // the command name may hold blanks
    if (close < 0)
        return QString();
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // After the name, field 3 (state) is at position 0, so field 22 is at 19.
    return fields.size() > 19 ? QString::fromLatin1(fields.at(19)) : QString();
}

QString DamagedName(const QString &file)
{
    const QFileInfo info(file);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QStringLiteral("sqlite") : info.suffix();
    QString candidate = info.absolutePath() + QLatin1Char('/') + base + QStringLiteral("-damaged-") + stamp
        + QLatin1Char('.') + suffix;
    for (int n = 1; QFileInfo::exists(candidate); ++n)
        candidate = info.absolutePath() + QLatin1Char('/') + base + QStringLiteral("-damaged-") + stamp
            + QLatin1Char('-') + QString::number(n) + QLatin1Char('.') + suffix;
    return candidate;
}

} // namespace

QString TJournalState::Text() const
{
    if (!journalling) {
        return QStringLiteral("Результаты не записываются в журнал")
            + (problem.isEmpty() ? QString() : QStringLiteral(": ") + problem);
    }
    switch (backend) {
    case TJournalBackend::File:
        return QStringLiteral("Журнал: ") + location;
    case TJournalBackend::Server:
        return QStringLiteral("Журнал: сервер ") + location
            + (waitingRuns > 0 ? QStringLiteral(" (ожидают передачи: %1)").arg(waitingRuns) : QString());
    case TJournalBackend::ServerBuffered:
        return QStringLiteral("Журнал: сервер %1 недоступен, точки сохраняются в %2").arg(location, bufferFile);
    case TJournalBackend::None:
        break;
    }
    return QStringLiteral("Журнал не открыт");
}

// The registers over the journal's database: reads and writes both go to RegistryStore().
class TJournal::TRegistry : public ILabRegistry {
public:
    explicit TRegistry(TJournal &journal) : journal_(journal) { }

    std::optional<std::vector<TInstrumentType>> Types(bool withRetired) override
    {
        return Read([withRetired](TJournalStore &store) { return store.Types(withRetired); });
    }
    bool SaveType(TInstrumentType &type) override { return Save(type, &TJournalStore::SaveType); }
    std::optional<std::vector<TStandard>> Standards(bool withRetired) override
    {
        return Read([withRetired](TJournalStore &store) { return store.Standards(withRetired); });
    }
    bool SaveStandard(TStandard &standard) override { return Save(standard, &TJournalStore::SaveStandard); }
    std::optional<std::vector<TJournalRunSummary>> RunsUsingStandard(const QString &standardId) override
    {
        return Read([&standardId](TJournalStore &store) { return store.RunsUsingStandard(standardId); });
    }
    QString LastError() const override { return journal_.error_; }

private:
    template<class TRead> auto Read(TRead read) -> decltype(read(std::declval<TJournalStore &>()))
    {
        TJournalStore *store = journal_.RegistryStore();
        if (!store)
            return std::nullopt;
        auto result = read(*store);
        if (!result)
            journal_.RegistryFailed(*store);
        return result;
    }
    template<class TEntry> bool Save(TEntry &entry, bool (TJournalStore::*save)(const TEntry &))
    {
        TJournalStore *store = journal_.RegistryStore();
        if (!store)
            return false;
        TEntry saved = entry;
        if (saved.id.isEmpty())
            saved.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!(store->*save)(saved)) {
            journal_.RegistryFailed(*store);
            return false;
        }
        entry.id = saved.id; // written back only once it is stored
        return true;
    }

    TJournal &journal_;
};

TJournal::TJournal(TJournalOptions options) : options_(std::move(options)) { }

TJournal::~TJournal()
{
    if (retryTimer_)
        retryTimer_->stop();
}

QString TJournal::ProgramVersion()
{
    return QStringLiteral(KEST_PROGRAM_VERSION);
}

QString TJournal::BenchName()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("localhost") : host;
}

QString TJournal::Owner() const
{
    const qint64 pid = ::getpid();
    return BenchName() + QLatin1Char('|') + QString::number(pid) + QLatin1Char('|') + StartTimeOf(pid);
}

bool TJournal::OwnerAlive(const QString &owner)
{
    const QStringList parts = owner.split(QLatin1Char('|'));
    if (parts.size() != 3 || parts[0] != BenchName())
        return false;
    bool ok = false;
    const qint64 pid = parts[1].toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
    const QString start = StartTimeOf(pid);
    return !start.isEmpty() && start == parts[2];
}

void TJournal::SetMessageHandler(std::function<void(const QString &)> handler)
{
    messageHandler_ = std::move(handler);
    if (!messageHandler_)
        return;
    const QStringList waiting = std::exchange(pendingMessages_, {});
    for (const QString &m : waiting)
        messageHandler_(m);
}

TListeners<const TJournalState &>::TSubscription TJournal::AddStateListener(
    std::function<void(const TJournalState &)> listener)
{
    return stateListeners_.Add(std::move(listener));
}

void TJournal::Tell(const QString &message)
{
    if (messageHandler_)
        messageHandler_(message);
    else
        pendingMessages_ << message;
}

bool TJournal::OpenFile(std::unique_ptr<TJournalStore> &store, const QString &file, bool buffer, bool tell)
{
    auto say = [&](const QString &message) {
        if (tell)
            Tell(message);
    };
    const QString what = buffer ? QStringLiteral("Буфер журнала") : QStringLiteral("Журнал");
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder)) {
        localProblem_ = QStringLiteral("не удаётся создать папку %1").arg(folder);
        say(QStringLiteral("%1 %2 не открывается: %3. Результаты не записываются в журнал; поверка продолжится.")
                .arg(what, file, localProblem_));
        return false;
    }
    TJournalConnection connection;
    connection.dialect = TJournalDialect::SQLite;
    connection.file = file;
    store = std::make_unique<TJournalStore>(connection);
    if (store->Open(options_.checkIntegrity)) {
        localProblem_.clear();
        return true;
    }
    if (store->LastFailure() == TJournalFailure::Damaged) {
        const QString why = store->LastError();
        store->Close();
        const QString aside = DamagedName(file);
        bool moved = QFile::rename(file, aside);
        for (const char *companion : {"-wal", "-shm"}) {
            const QString from = file + QLatin1String(companion);
            if (moved && QFileInfo::exists(from) && !QFile::rename(from, aside + QLatin1String(companion)))
                QFile::remove(from); // a log without its database would be applied to the new one
        }
        if (!moved) {
            localProblem_ = QStringLiteral("файл повреждён и не переименовывается");
            say(QStringLiteral("%1 %2 повреждён (%3) и не может быть переименован. Результаты не записываются в "
                               "журнал; поверка продолжится.")
                    .arg(what, file, why));
            return false;
        }
        if (store->Open(options_.checkIntegrity)) {
            localProblem_.clear();
            say(QStringLiteral("%1 %2 повреждён (%3). Файл переименован в %4; начат новый журнал.")
                    .arg(what, file, why, aside));
            return true;
        }
        say(QStringLiteral("%1 %2 повреждён (%3) и переименован в %4, но новый журнал не создаётся: %5.")
                .arg(what, file, why, aside, store->LastError()));
        localProblem_ = store->LastError();
        return false;
    }
    if (store->LastFailure() == TJournalFailure::Newer) {
        localProblem_ = QStringLiteral("журнал записан более новой версией программы");
        say(QStringLiteral("%1 %2 записан более новой версией программы (версия схемы %3; эта версия знает версии "
                           "до %4). Файл не изменён; результаты не записываются в журнал.")
                .arg(what, file)
                .arg(store->FoundVersion())
                .arg(KestJournalSchema::kCurrentVersion));
        return false;
    }
    localProblem_ = store->LastError();
    say(QStringLiteral("%1 %2 не открывается: %3. Результаты не записываются в журнал; поверка продолжится.")
            .arg(what, file, localProblem_));
    return false;
}

bool TJournal::Open()
{
    serverMode_ = options_.server.has_value();
    for (const QString &notice : options_.notices)
        Tell(notice);
    localUsable_ = OpenFile(local_, serverMode_ ? options_.bufferFile : options_.localFile, serverMode_, true);
    if (serverMode_) {
        server_ = std::make_unique<TJournalStore>(*options_.server);
        if (ConnectServer(true))
            FlushBuffer();
    }
    writing_ = (serverMode_ && serverUp_) || localUsable_;
    UpdateState();
    return state_.journalling;
}

bool TJournal::ConnectServer(bool tell)
{
    lastServerTry_ = QDateTime::currentMSecsSinceEpoch();
    if (serverRefused_)
        return false;
    if (server_->Open(false)) {
        serverUp_ = true;
        serverProblem_.clear();
        if (retryTimer_)
            retryTimer_->stop();
        return true;
    }
    serverUp_ = false;
    if (server_->LastFailure() == TJournalFailure::Newer) {
        serverRefused_ = true;
        serverProblem_ = QStringLiteral("журнал на сервере записан более новой версией программы");
        Tell(QStringLiteral("Журнал на сервере %1 записан более новой версией программы (версия схемы %2; эта версия "
                            "знает версии до %3). Журнал на сервере не изменяется; точки сохраняются в файл %4.")
                 .arg(options_.server->Describe())
                 .arg(server_->FoundVersion())
                 .arg(KestJournalSchema::kCurrentVersion)
                 .arg(options_.bufferFile));
        return false;
    }
    const bool first = serverProblem_.isEmpty();
    serverProblem_ = server_->LastError().trimmed();
    if (tell && first)
        Tell(QStringLiteral("Сервер журнала %1 недоступен (%2). Точки сохраняются в файл %3 и будут переданы на "
                            "сервер, когда он станет доступен.")
                 .arg(options_.server->Describe(), serverProblem_, options_.bufferFile));
    TryServerLater();
    return false;
}

void TJournal::ServerLost(const QString &why)
{
    serverUp_ = false;
    server_->Close();
    const bool first = serverProblem_.isEmpty();
    serverProblem_ = why.trimmed().isEmpty() ? QStringLiteral("нет связи") : why.trimmed();
    lastServerTry_ = QDateTime::currentMSecsSinceEpoch();
    for (auto &[id, run] : runs_)
        run.inServer = false; // checked again (idempotently) when the server is back
    if (first)
        Tell(QStringLiteral("Связь с сервером журнала %1 потеряна (%2). Точки сохраняются в файл %3 и будут переданы "
                            "на сервер, когда он станет доступен.")
                 .arg(options_.server->Describe(), serverProblem_, options_.bufferFile));
    TryServerLater();
}

void TJournal::TryServerLater()
{
    if (!QCoreApplication::instance())
        return;
    if (!retryTimer_) {
        retryTimer_ = std::make_unique<QTimer>();
        retryTimer_->setSingleShot(true);
        QObject::connect(retryTimer_.get(), &QTimer::timeout, [this] {
            if (!Flush() && serverMode_ && !serverUp_)
                TryServerLater();
        });
    }
    retryTimer_->start(std::max(1, options_.retrySeconds) * 1000);
}

void TJournal::WritingFailed(const TJournalStore &store)
{
    localProblem_ = store.LastError().trimmed();
    if (store.LastFailure() == TJournalFailure::Full)
        localProblem_ = QStringLiteral("нет места на диске (%1)").arg(localProblem_);
    else if (store.LastFailure() == TJournalFailure::ReadOnly)
        localProblem_ = QStringLiteral("запись запрещена (%1)").arg(localProblem_);
    if (writing_)
        Tell(QStringLiteral("Результаты не записываются в журнал %1: %2. Поверка продолжается; данные будут записаны, "
                            "когда запись станет возможной, до тех пор сохраните таблицы в CSV или сделайте отчёт.")
                 .arg(store.Connection().Describe(), localProblem_));
    writing_ = false;
}

TJournal::TOpenRun *TJournal::Known(const TJournalRunId &run)
{
    const auto it = runs_.find(run);
    return it == runs_.end() ? nullptr : &it->second;
}

bool TJournal::EnsureHeader(TTarget target, const TJournalRunId &run)
{
    TOpenRun *r = Known(run);
    if (!r)
        return true;
    bool &stored = target == TTarget::Server ? r->inServer : r->inLocal;
    if (stored)
        return true;
    TJournalStore &store = target == TTarget::Server ? *server_ : *local_;
    if (!store.InsertRun(r->row, target == TTarget::Buffer))
        return false;
    stored = true;
    return true;
}

bool TJournal::WriteTo(TTarget target, const TJournalRunId &run, const TOp &op)
{
    if (target == TTarget::Server) {
        if (EnsureHeader(target, run) && op(*server_, false))
            return true;
        ServerLost(server_->LastError());
        if (!localUsable_)
            return false;
        target = TTarget::Buffer;
    }
    TJournalStore &store = *local_;
    if (EnsureHeader(target, run) && op(store, target == TTarget::Buffer))
        return true;
    WritingFailed(store);
    return false;
}

bool TJournal::FlushHeld()
{
    while (!held_.empty()) {
        const TTarget target = serverMode_ ? (serverUp_ ? TTarget::Server : TTarget::Buffer) : TTarget::Local;
        if (target != TTarget::Server && !localUsable_)
            return false;
        if (!WriteTo(target, held_.front().run, held_.front().op))
            return false;
        held_.pop_front();
    }
    return true;
}

void TJournal::RetryIfDue()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastServerTry_ < qint64(std::max(0, options_.retrySeconds)) * 1000)
        return;
    if (serverMode_ && !serverUp_ && !serverRefused_ && ConnectServer(false))
        FlushBuffer();
    if (!serverMode_ && !localUsable_) {
        lastServerTry_ = now;
        localUsable_ = OpenFile(local_, options_.localFile, false, false); // told already when it opened
    }
}

bool TJournal::Write(const TJournalRunId &run, TOp op)
{
    RetryIfDue();
    bool ok = FlushHeld();
    if (ok) {
        const TTarget target = serverMode_ ? (serverUp_ ? TTarget::Server : TTarget::Buffer) : TTarget::Local;
        ok = (target == TTarget::Server || localUsable_) && WriteTo(target, run, op);
    }
    if (!ok) {
        if (held_.size() < kMaxHeld)
            held_.push_back({run, std::move(op)});
        if (writing_ && !(serverMode_ ? serverUp_ || localUsable_ : localUsable_))
            writing_ = false;
    } else {
        writing_ = true;
    }
    UpdateState();
    return ok && held_.empty();
}

bool TJournal::FlushBuffer(qint64 deadline)
{
    if (!serverMode_ || !serverUp_ || !localUsable_)
        return serverUp_;
    const auto pending = local_->PendingRuns();
    if (!pending)
        return false;
    bool all = true;
    for (const TJournalRunId &id : *pending) {
        if (deadline > 0 && QDateTime::currentMSecsSinceEpoch() >= deadline)
            return false;
        if (!local_->CopyRunTo(id, *server_)) {
            if (!server_->Ping()) {
                ServerLost(server_->LastError());
                return false;
            }
            all = false; // this run's data cannot be read here: keep it and go on with the others
            continue;
        }
        if (!local_->DeleteRun(id)) {
            all = false; // sent again next time, which changes nothing on the server
            continue;
        }
        if (TOpenRun *r = Known(id)) {
            r->inLocal = false;
            r->inServer = true;
        }
    }
    return all;
}

bool TJournal::Flush()
{
    if (serverMode_ && !serverUp_ && !serverRefused_)
        ConnectServer(false);
    bool ok = !serverMode_ || (serverUp_ && FlushBuffer());
    if (!FlushHeld())
        ok = false;
    if (held_.empty() && (serverUp_ || localUsable_))
        writing_ = true;
    UpdateState();
    return ok && held_.empty();
}

void TJournal::UpdateState()
{
    TJournalState s;
    if (serverMode_) {
        s.backend = serverUp_ ? TJournalBackend::Server
            : localUsable_    ? TJournalBackend::ServerBuffered
                              : TJournalBackend::None;
        s.location = options_.server->Describe();
        s.bufferFile = options_.bufferFile;
        if (localUsable_) {
            if (const auto pending = local_->PendingRuns())
                s.waitingRuns = int(pending->size());
        }
        s.journalling = writing_ && (serverUp_ || localUsable_);
        s.problem = !s.journalling ? (localProblem_.isEmpty() ? serverProblem_ : localProblem_) : serverProblem_;
    } else {
        s.backend = localUsable_ ? TJournalBackend::File : TJournalBackend::None;
        s.location = options_.localFile;
        s.journalling = writing_ && localUsable_;
        s.problem = s.journalling ? QString() : localProblem_;
    }
    s.unwritten = int(held_.size());
    if (s == state_)
        return;
    state_ = s;
    stateListeners_.Notify(state_);
}

TJournalRunId TJournal::BeginRun(TJournalRunHeader header)
{
    if (header.id.isEmpty())
        header.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!header.started.isValid())
        header.started = QDateTime::currentDateTime();
    if (header.programVersion.isEmpty())
        header.programVersion = ProgramVersion();
    if (header.bench.isEmpty())
        header.bench = BenchName();
    TOpenRun r;
    r.kind = TJournalRunKind::Verification;
    r.row.id = header.id;
    r.row.kind = r.kind;
    r.row.startedMs = KestJournalCodec::ToMs(header.started);
    r.row.configuration = header.configuration;
    r.row.deviceNumber = header.DeviceNumber();
    r.row.verifier = header.Verifier();
    r.row.programVersion = header.programVersion;
    r.row.bench = header.bench;
    r.row.owner = Owner();
    r.row.header = KestJournalCodec::EncodeRunHeader(header);
    r.row.usedAsStandard = header.lab.usedAsStandard;
    for (const TStandard &standard : header.lab.standards) {
        if (!standard.id.isEmpty() && !r.row.standards.contains(standard.id))
            r.row.standards << standard.id;
    }
    runs_[header.id] = std::move(r);
    // The header itself is written by the write's first step (EnsureHeader).
    Write(header.id, [](TJournalStore &, bool) { return true; });
    return header.id;
}

bool TJournal::AddPoint(const TJournalRunId &run, TJournalPoint point)
{
    TOpenRun *r = Known(run);
    if (!r && !ResumeRun(run))
        return false;
    r = Known(run);
    point.seq = r->nextSeq++;
    if (!point.time.isValid())
        point.time = QDateTime::currentDateTime();
    return Write(run, [run, point = std::move(point)](TJournalStore &store, bool pending) {
        return store.InsertPoint(run, point, pending);
    });
}

bool TJournal::EndRun(const TJournalRunId &run, TJournalRunEnd end)
{
    if (!Known(run) && !ResumeRun(run))
        return false;
    if (end.outcome == TJournalOutcome::Open)
        end.outcome = TJournalOutcome::Failed;
    if (!end.time.isValid())
        end.time = QDateTime::currentDateTime();
    return Write(run,
        [run, end = std::move(end)](TJournalStore &store, bool pending) { return store.SetEnd(run, end, pending); });
}

TJournalRunId TJournal::BeginTuning(TJournalTuningHeader header)
{
    if (header.id.isEmpty())
        header.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!header.started.isValid())
        header.started = QDateTime::currentDateTime();
    if (header.programVersion.isEmpty())
        header.programVersion = ProgramVersion();
    if (header.bench.isEmpty())
        header.bench = BenchName();
    TOpenRun r;
    r.kind = TJournalRunKind::Tuning;
    r.row.id = header.id;
    r.row.kind = r.kind;
    r.row.startedMs = KestJournalCodec::ToMs(header.started);
    r.row.configuration = header.configuration;
    r.row.deviceNumber = header.device.factoryNumber.trimmed();
    r.row.verifier = header.verifier;
    r.row.programVersion = header.programVersion;
    r.row.bench = header.bench;
    r.row.owner = Owner();
    r.row.header = KestJournalCodec::EncodeTuningHeader(header);
    runs_[header.id] = std::move(r);
    Write(header.id, [](TJournalStore &, bool) { return true; });
    return header.id;
}

bool TJournal::AddTuningLine(const TJournalRunId &run, const QString &text, const QDateTime &time)
{
    if (!Known(run) && !ResumeRun(run))
        return false;
    TOpenRun *r = Known(run);
    const int seq = r->nextLine++;
    const TJournalLogLine line{time.isValid() ? time : QDateTime::currentDateTime(), text};
    return Write(run,
        [run, seq, line](TJournalStore &store, bool pending) { return store.InsertLine(run, seq, line, pending); });
}

bool TJournal::SetAsFound(const TJournalRunId &run, TJournalReadback readback)
{
    if (!Known(run) && !ResumeRun(run))
        return false;
    if (!readback.time.isValid())
        readback.time = QDateTime::currentDateTime();
    return Write(run, [run, readback = std::move(readback)](TJournalStore &store, bool pending) {
        return store.SetReadback(run, 0, readback, pending);
    });
}

bool TJournal::SetAsLeft(const TJournalRunId &run, TJournalReadback readback)
{
    if (!Known(run) && !ResumeRun(run))
        return false;
    if (!readback.time.isValid())
        readback.time = QDateTime::currentDateTime();
    return Write(run, [run, readback = std::move(readback)](TJournalStore &store, bool pending) {
        return store.SetReadback(run, 1, readback, pending);
    });
}

bool TJournal::EndTuning(const TJournalRunId &run, TJournalRunEnd end)
{
    return EndRun(run, std::move(end));
}

bool TJournal::ResumeRun(const TJournalRunId &run)
{
    if (Known(run))
        return true;
    if (serverMode_ && !serverUp_ && !serverRefused_)
        ConnectServer(false);
    std::optional<TJournalStore::TRunRow> row;
    TOpenRun r;
    int maxSeq = 0, maxLine = 0;
    auto look = [&](TJournalStore *store, bool &found) {
        if (!store || !store->IsOpen())
            return;
        if (auto here = store->RunRow(run)) {
            found = true;
            if (!row)
                row = std::move(here);
            maxSeq = std::max(maxSeq, store->MaxPointSeq(run).value_or(0));
            maxLine = std::max(maxLine, store->MaxLineSeq(run).value_or(0));
        }
    };
    if (serverMode_ && serverUp_)
        look(server_.get(), r.inServer);
    if (localUsable_)
        look(local_.get(), r.inLocal);
    if (!row) {
        readError_ = QStringLiteral("запуск %1 не найден в журнале").arg(run);
        return false;
    }
    r.kind = row->kind;
    r.row = *row;
    r.row.owner = Owner();
    r.nextSeq = maxSeq + 1;
    r.nextLine = maxLine + 1;
    runs_[run] = std::move(r);
    const QString owner = Owner();
    Write(run, [run, owner](TJournalStore &store, bool pending) { return store.SetOwner(run, owner, pending); });
    return true;
}

ILabRegistry &TJournal::Registry()
{
    if (!registry_)
        registry_ = std::make_unique<TRegistry>(*this);
    return *registry_;
}

TJournalStore *TJournal::RegistryStore()
{
    error_.clear();
    if (serverMode_) {
        if (!serverUp_ && !serverRefused_ && ConnectServer(false))
            FlushBuffer();
        UpdateState();
        if (!serverUp_) {
            // A register kept in the buffer would part from the server's: refused instead.
            error_ = QStringLiteral("Сервер журнала недоступен: %1")
                         .arg(serverProblem_.isEmpty() ? QStringLiteral("нет связи") : serverProblem_);
            return nullptr;
        }
        return server_.get();
    }
    if (!localUsable_) {
        error_ = QStringLiteral("Журнал не открыт: %1")
                     .arg(localProblem_.isEmpty() ? QStringLiteral("нет файла журнала") : localProblem_);
        return nullptr;
    }
    return local_.get();
}

void TJournal::RegistryFailed(TJournalStore &store)
{
    const QString why = store.LastError().trimmed();
    if (&store == server_.get() && !server_->Ping()) {
        ServerLost(why);
        UpdateState();
        error_ = QStringLiteral("Сервер журнала недоступен: %1").arg(why);
        return;
    }
    error_ = why.isEmpty() ? QStringLiteral("запись в журнал не удалась") : why;
}

bool TJournal::AddAmendment(const TJournalRunId &run, TAmendment amendment)
{
    error_.clear();
    RetryIfDue();
    bool found = false, ended = false, verification = true, readFailed = false;
    int last = 0;
    auto look = [&](TJournalStore *store) {
        if (!store || !store->IsOpen())
            return;
        const auto row = store->RunRow(run);
        const auto outcome = row ? store->Outcome(run) : std::nullopt;
        if (!outcome) {
            if (store->LastFailure() == TJournalFailure::None)
                return;
            // A server gone in the meantime: the change goes to the buffer like any other write.
            if (store == server_.get() && !server_->Ping())
                ServerLost(server_->LastError());
            else
                readFailed = true;
            return;
        }
        found = true;
        verification = verification && row->kind == TJournalRunKind::Verification;
        ended = ended || *outcome != TJournalOutcome::Open;
        last = std::max(last, store->MaxAmendmentSeq(run).value_or(0));
    };
    if (serverMode_ && serverUp_)
        look(server_.get());
    if (localUsable_)
        look(local_.get());
    // With the server away a run ended there may be missing from the buffer, or be there open (its
    // header only): the change waits in the buffer and joins the run when the server takes it
    // (sealed there once the run is ended).
    const bool serverAway = serverMode_ && !serverUp_ && !serverRefused_;
    if (!(serverMode_ && serverUp_) && !localUsable_) {
        error_ = QStringLiteral("Журнал не открыт: изменение не записано");
        return false;
    }
    if (found && !verification) {
        error_ = QStringLiteral("Запуск %1 — не поверка: изменения записываются только для поверок").arg(run);
        return false;
    }
    if (!ended && !(serverAway && !readFailed)) {
        error_ = readFailed ? QStringLiteral("Журнал не читается: изменение не записано")
            : found
            ? QStringLiteral("Поверка %1 не завершена: изменения записываются только после её окончания").arg(run)
            : QStringLiteral("Поверка %1 не найдена в журнале: изменение не записано").arg(run);
        return false;
    }
    amendment.seq = last + 1;
    if (!amendment.time.isValid())
        amendment.time = QDateTime::currentDateTime();
    const bool ok = Write(run, [run, amendment = std::move(amendment)](TJournalStore &store, bool pending) {
        return store.InsertAmendment(run, amendment, pending);
    });
    if (!ok)
        error_ = QStringLiteral("Изменение пока не записано в журнал (%1); оно будет записано, когда запись станет "
                                "возможной")
                     .arg(state_.problem.isEmpty() ? QStringLiteral("ошибка записи") : state_.problem);
    return ok;
}

std::optional<std::map<TJournalRunId, TRecordIntegrity>> TJournal::CheckIntegrity()
{
    readError_.clear();
    if (serverMode_ && serverUp_)
        FlushBuffer();
    TJournalStore *store = ReadStore();
    if (!store) {
        readError_ = QStringLiteral("журнал не открыт");
        return std::nullopt;
    }
    TJournalFilter verifications;
    verifications.kind = TJournalRunKind::Verification;
    const auto list = store->List(verifications);
    std::vector<TJournalRunId> ids;
    if (list) {
        for (const TJournalRunSummary &s : *list)
            ids.push_back(s.id);
    }
    auto result = list ? store->Integrity(ids) : std::nullopt;
    if (!result)
        readError_ = store->LastError();
    return result;
}

int TJournal::FlushBeforeExit(int maxMs)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + std::max(0, maxMs);
    if (serverMode_ && !serverUp_ && !serverRefused_ && maxMs > 0) {
        // The connection's own time-out may be longer than the caller may wait.
        const int seconds = std::max(1, maxMs / 1000);
        if (options_.server->connectTimeoutSeconds > seconds) {
            TJournalConnection bounded = *options_.server;
            bounded.connectTimeoutSeconds = seconds;
            server_ = std::make_unique<TJournalStore>(bounded);
        }
        // A server being restarted refuses at once: it is asked again until the time is up, so that a
        // program ending just as the server comes back still leaves nothing behind.
        while (!ConnectServer(false) && !serverRefused_ && QDateTime::currentMSecsSinceEpoch() + 250 < deadline)
            QThread::msleep(250);
    }
    if (serverMode_ && serverUp_)
        FlushBuffer(deadline);
    if (clock.elapsed() < maxMs)
        FlushHeld();
    UpdateState();
    std::set<TJournalRunId> waiting;
    if (serverMode_ && localUsable_) {
        if (const auto pending = local_->PendingRuns())
            waiting.insert(pending->begin(), pending->end());
    }
    for (const THeld &held : held_)
        waiting.insert(held.run);
    return int(waiting.size());
}

TJournalStore *TJournal::ReadStore()
{
    if (serverMode_ && serverUp_)
        return server_.get();
    return localUsable_ ? local_.get() : nullptr;
}

std::vector<TJournalRunSummary> TJournal::UnfinishedRuns()
{
    readError_.clear();
    if (serverMode_)
        Flush();
    std::vector<TJournalRunSummary> out;
    std::set<TJournalRunId> seen;
    auto collect = [&](TJournalStore *store) {
        if (!store || !store->IsOpen())
            return;
        const auto found = store->Unfinished(BenchName());
        if (!found) {
            readError_ = store->LastError();
            return;
        }
        for (const auto &[summary, owner] : *found)
            if (!OwnerAlive(owner) && seen.insert(summary.id).second)
                out.push_back(summary);
    };
    if (serverMode_ && serverUp_)
        collect(server_.get());
    if (localUsable_)
        collect(local_.get());
    std::stable_sort(out.begin(), out.end(),
        [](const TJournalRunSummary &a, const TJournalRunSummary &b) { return a.started > b.started; });
    return out;
}

template<typename TRun>
std::optional<TRun> TJournal::Load(
    std::optional<TRun> (TJournalStore::*read)(const TJournalRunId &), const TJournalRunId &run)
{
    readError_.clear();
    // The server first (what is buffered for it goes first), then the local file.
    if (serverMode_ && serverUp_) {
        FlushBuffer();
        if (serverUp_) {
            if (auto found = (server_.get()->*read)(run))
                return found;
            if (server_->LastFailure() != TJournalFailure::None && !server_->Ping())
                ServerLost(server_->LastError());
        }
    }
    if (localUsable_) {
        if (auto found = (local_.get()->*read)(run))
            return found;
        readError_ = local_->LastFailure() == TJournalFailure::None ? QStringLiteral("запуск не найден в журнале")
                                                                    : local_->LastError();
    } else if (readError_.isEmpty()) {
        readError_ = QStringLiteral("журнал не открыт");
    }
    UpdateState();
    return std::nullopt;
}

std::optional<TJournalRun> TJournal::LoadRun(const TJournalRunId &run)
{
    return Load(&TJournalStore::LoadRun, run);
}

std::optional<TJournalTuningRun> TJournal::LoadTuning(const TJournalRunId &run)
{
    return Load(&TJournalStore::LoadTuning, run);
}

std::vector<TJournalRunSummary> TJournal::ListRuns(const TJournalFilter &filter)
{
    readError_.clear();
    RetryIfDue();
    // Each run's integrity, from the store the list came from.
    auto check = [this](TJournalStore &store, std::vector<TJournalRunSummary> &list) {
        std::vector<TJournalRunId> ids;
        for (const TJournalRunSummary &s : list) {
            if (s.kind == TJournalRunKind::Verification)
                ids.push_back(s.id);
        }
        const auto integrity = store.Integrity(ids);
        if (!integrity) {
            readError_ = store.LastError();
            return;
        }
        for (TJournalRunSummary &s : list) {
            if (const auto it = integrity->find(s.id); it != integrity->end())
                s.integrity = it->second;
        }
    };
    if (serverMode_ && serverUp_) {
        FlushBuffer();
        if (serverUp_) {
            if (auto list = server_->List(filter)) {
                check(*server_, *list);
                // A run the server still has open whose end waits in this bench's buffer.
                if (localUsable_) {
                    std::set<TJournalRunId> ended;
                    if (const auto buffered = local_->List(TJournalFilter())) {
                        for (const TJournalRunSummary &s : *buffered) {
                            if (s.outcome != TJournalOutcome::Open)
                                ended.insert(s.id);
                        }
                    }
                    for (TJournalRunSummary &s : *list)
                        s.endBuffered = s.outcome == TJournalOutcome::Open && ended.count(s.id) > 0;
                }
                return std::move(*list);
            }
            if (!server_->Ping())
                ServerLost(server_->LastError());
        }
    }
    UpdateState();
    if (!localUsable_) {
        readError_ = QStringLiteral("журнал не открыт");
        return {};
    }
    if (auto list = local_->List(filter)) {
        check(*local_, *list);
        return std::move(*list);
    }
    readError_ = local_->LastError();
    return {};
}
