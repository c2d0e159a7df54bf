#include "kestsimulator.h"

#include "registers.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "faults.h"
#include "installation.h"
#include "modbusslave.h"
#include "transducer.h"

namespace kestsim {

namespace {
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr auto kStaleFragment = Ms(50); // a partial request older than this is line noise
constexpr auto kStalledWrite = Ms(1000); // nobody has read the line for this long
constexpr size_t kLogLines = 2000;
constexpr size_t kMaxControlLine = 4096;

const char *const kQuantityNames[33] = {"Ua", "Ub", "Uc", "Ia", "Ib", "Ic", "Uab", "Ubc", "Uac", "Pa", "Pb", "Pc", "Qa",
    "Qb", "Qc", "Sa", "Sb", "Sc", "Ka", "Kb", "Kc", "P", "Q", "S", "K", "F", "U", "I", "UL", "U0", "I0", "Wa", "Wr"};

std::string Num(double v)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

std::optional<int> QuantityIndex(const std::string &s)
{
    for (int k = 0; k < 33; ++k)
        if (s == kQuantityNames[k])
            return k + 1;
    char *end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (!s.empty() && *end == '\0' && v >= 1 && v <= 33)
        return int(v);
    return std::nullopt;
}

bool ToDouble(const std::string &s, double &out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(out);
}

bool ToLong(const std::string &s, long min, long max, long &out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    out = std::strtol(s.c_str(), &end, 0);
    return *end == '\0' && out >= min && out <= max;
}

std::string WallStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const time_t t = system_clock::to_time_t(now);
    const long ms = long(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    struct tm tmv;
    gmtime_r(&t, &tmv);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld", tmv.tm_hour, tmv.tm_min, tmv.tm_sec, ms);
    return buf;
}

struct Burst {
    Clock::time_point due;
    Bytes bytes;
    size_t sent = 0;
};

struct Port {
    Line line = Line::Installation;
    std::string name;
    std::string link;
    std::string announce;
    int master = -1;
    int slave = -1; // kept open so that a client's close never hangs the master up
    std::string slavePath;
    RequestFramer framer;
    Clock::time_point lastRx{};
    std::deque<Burst> out;
    bool stalled = false;
    Clock::time_point stalledSince{};
    bool down = false;
    Clock::time_point reopenAt{};
    std::optional<Clock::time_point> deafUntil; // a "silent" fault's window
    std::string deafBy;
};

// What became of one request, for the "requests" command.
struct RequestRecord {
    long number = 0;
    std::string line;
    const char *fate = "done"; // done: handed to the device; lost; faked: a fault answered, nothing done
    std::string hex;
};

bool OpenPty(Port &p, std::string &error)
{
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        error = std::string("pty setup: ") + std::strerror(errno);
        close(m);
        return false;
    }
    const int s = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        error = std::string("open ") + name + ": " + std::strerror(errno);
        close(m);
        return false;
    }
    // Raw on the slave side: no echo of the client's bytes back to us, no line editing.
    termios t{};
    if (tcgetattr(s, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        tcsetattr(s, TCSANOW, &t);
    }
    p.master = m;
    p.slave = s;
    p.slavePath = name;
    return true;
}

void ClosePty(Port &p)
{
    if (p.master >= 0)
        close(p.master);
    if (p.slave >= 0)
        close(p.slave);
    p.master = p.slave = -1;
    p.out.clear();
    p.stalled = false;
    Bytes dropped;
    p.framer.DropStale(dropped);
}

// Points `path` at `target` atomically; refuses to replace anything that is not a symbolic link.
bool PointLink(const std::string &path, const std::string &target, std::string &error)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = path + " exists and is not a symbolic link";
        return false;
    }
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot make link " + path + ": " + std::strerror(errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::string ReadLink(const std::string &path)
{
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return {};
    return std::string(buf, size_t(n));
}

void RemoveLinkIfOurs(const std::string &path, const std::string &target)
{
    if (!path.empty() && !target.empty() && ReadLink(path) == target)
        unlink(path.c_str());
}

std::string BaseName(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

struct KestSimulator::Impl {
    SimOptions opt;
    mutable std::mutex mu;
    std::thread thread;
    bool running = false;
    std::atomic<bool> stopping{false};
    int wake[2] = {-1, -1};
    int listenFd = -1;
    struct Client {
        int fd;
        std::string in;
    };
    std::vector<Client> clients;
    std::array<Port, 2> ports;
    Installation inst;
    Transducer dev;
    FaultTable faults;
    int rate = 115200;
    int turnaroundMs = 5;
    std::deque<std::string> log;
    std::deque<RequestRecord> history;
    FILE *logFile = nullptr;
    std::optional<Clock::time_point> replugAt;
    std::mt19937_64 rng{1};
    long requests = 0;
    std::string announceDir;

    Port &PortOf(Line line) { return ports[line == Line::Installation ? 0 : 1]; }
    Clock::duration ByteTime() const { return std::chrono::nanoseconds(10'000'000'000LL / std::max(rate, 1)); }

    void Log(const std::string &what)
    {
        const std::string line = WallStamp() + " " + what;
        log.push_back(line);
        while (log.size() > kLogLines)
            log.pop_front();
        if (logFile) {
            std::fputs(line.c_str(), logFile);
            std::fputc('\n', logFile);
            std::fflush(logFile);
        }
    }

    void LogBytes(const Port &p, const char *dir, const Bytes &b)
    {
        constexpr size_t kShown = 512;
        std::string hex = ToHex(b.data(), std::min(b.size(), kShown));
        if (b.size() > kShown)
            hex += " … (" + std::to_string(b.size()) + " bytes)";
        Log(p.name + " " + dir + " " + hex);
    }

    void Wake()
    {
        const char c = 1;
        if (wake[1] >= 0)
            (void)!write(wake[1], &c, 1);
    }

    bool SetupAnnounce(Port &p, std::string &error)
    {
        if (!opt.announce)
            return true;
        if (announceDir.empty()) {
            if (!opt.announceDir.empty()) {
                announceDir = opt.announceDir;
            } else {
                const char *xdg = std::getenv("XDG_RUNTIME_DIR");
                announceDir = std::string(xdg && *xdg ? xdg : "/tmp") + "/kest-sim";
            }
            mkdir(announceDir.c_str(), 0755);
        }
        std::string name = p.link.empty() ? p.name + "-" + std::to_string(getpid()) : BaseName(p.link);
        std::string path = announceDir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && stat(path.c_str(), &st) == 0)
            path += "-" + std::to_string(getpid()); // a live entry of another simulator
        if (!PointLink(path, p.link.empty() ? p.slavePath : p.link, error))
            return false;
        p.announce = path;
        return true;
    }

    bool OpenLine(Port &p, std::string &error)
    {
        if (!OpenPty(p, error))
            return false;
        if (!p.link.empty() && !PointLink(p.link, p.slavePath, error))
            return false;
        if (!p.announce.empty() && p.link.empty() && !PointLink(p.announce, p.slavePath, error))
            return false;
        return true;
    }

    void HangUp(Port &p, int ms)
    {
        if (p.down)
            return;
        Log(p.name + " hang-up: " + p.slavePath + " closed");
        ClosePty(p);
        p.down = true;
        p.reopenAt = Clock::now() + Ms(ms);
    }

    void Reopen(Port &p)
    {
        std::string error;
        p.down = false;
        if (OpenLine(p, error)) {
            Log(p.name + " line back on " + p.slavePath);
        } else {
            Log(p.name + " cannot reopen: " + error);
            p.down = true;
            p.reopenAt = Clock::now() + Ms(1000);
        }
    }

    void ApplyStateFault(const Fault &f)
    {
        switch (f.kind) {
        case FaultKind::Unplug:
            dev.plugged = false;
            replugAt.reset();
            if (f.arg1 > 0)
                replugAt = Clock::now() + Ms(f.arg1);
            Log("transducer unplugged");
            break;
        case FaultKind::Replug:
            dev.Replug();
            replugAt.reset();
            Log("transducer replugged");
            break;
        case FaultKind::Amplifier:
            inst.amplifierFailure = f.arg1;
            Log("amplifier failure " + std::to_string(f.arg1));
            break;
        case FaultKind::HangUp:
            HangUp(PortOf(f.line), f.arg1);
            break;
        default:
            break;
        }
    }

    Bytes RandomBytes(size_t n)
    {
        Bytes b(n);
        for (auto &x : b)
            x = uint8_t(rng());
        return b;
    }

    void Schedule(Port &p, Clock::time_point start, Bytes bytes)
    {
        if (!p.out.empty()) {
            const Burst &last = p.out.back();
            const auto lineFree = last.due + ByteTime() * long(last.bytes.size());
            start = std::max(start, lineFree);
        }
        p.out.push_back(Burst{start, std::move(bytes), 0});
    }

    void Record(const Port &p, const Request &rq, const char *fate, const std::vector<std::string> &why)
    {
        history.push_back(RequestRecord{requests, p.name, fate, ToHex(rq.raw)});
        while (history.size() > kLogLines)
            history.pop_front();
        if (std::string(fate) == "done")
            return;
        // The rx line stays bare hex for the readers of the log; the fate follows on its own line.
        std::string reasons;
        for (const std::string &w : why)
            reasons += (reasons.empty() ? "" : ", ") + w;
        Log(p.name + " " + fate + " " + ToHex(rq.raw) + " (" + reasons + ")");
    }

    void EndDeafness(Port &p, Clock::time_point now)
    {
        if (p.deafUntil && now >= *p.deafUntil) {
            p.deafUntil.reset();
            Log(p.name + " answers again");
        }
    }

    // Another frame than the echo, well formed: the value (function 6) or the count (function 16)
    // with its lowest bit flipped.
    static Bytes WrongEcho(const Request &rq)
    {
        Bytes b(rq.raw.begin(), rq.raw.begin() + 6);
        b[5] ^= 0x01;
        AppendCrc(b);
        return b;
    }

    // What the installation answers while its panel keeps remote control: the echo of register 0
    // written 0, whatever the write asked for.
    static Bytes RemoteOffEcho(const Request &rq)
    {
        Bytes b{rq.address, kFnWriteOne, 0x00, 0x00, 0x00, 0x00};
        AppendCrc(b);
        return b;
    }

    bool WouldAnswer(const Port &p, const Request &rq) const
    {
        if (p.line == Line::Installation)
            return rq.address == Installation::kAddress;
        if (!dev.plugged || dev.type == DeviceType::None)
            return false;
        return rq.address == dev.mem.netAddress || rq.function == kFnSearch;
    }

    void OnRequest(Port &p, const Request &rq, Clock::time_point now)
    {
        ++requests;
        LogBytes(p, "rx", rq.raw);
        inst.Tick(now);
        EndDeafness(p, now);
        if (p.deafUntil) {
            Record(p, rq, "lost", {p.deafBy});
            return;
        }
        const AnswerPlan plan = faults.PlanFor(p.line, rq.function, rq.reg);
        for (const Fault &f : plan.stateFaults)
            ApplyStateFault(f);
        if (p.down) { // a waiting hang-up of this line took the request with it
            std::vector<std::string> why;
            for (const Fault &f : plan.stateFaults)
                if (f.kind == FaultKind::HangUp)
                    why.push_back(f.text);
            Record(p, rq, "lost", why);
            return;
        }
        if (plan.silentMs) {
            p.deafUntil = now + Ms(plan.silentMs);
            p.deafBy = plan.silentBy;
            Log(p.name + " silent for " + std::to_string(plan.silentMs) + " ms");
            Record(p, rq, "lost", {p.deafBy});
            return;
        }
        if (plan.drop) {
            Record(p, rq, "lost", plan.applied);
            return;
        }
        std::optional<Bytes> answer;
        bool faked = true;
        if (plan.babble) {
            answer = RandomBytes(size_t(plan.babble));
        } else if (plan.exceptionCode) {
            if (WouldAnswer(p, rq))
                answer = BuildException(rq.address, rq.function, uint8_t(plan.exceptionCode));
        } else if (plan.wrongEcho) {
            if (WouldAnswer(p, rq))
                answer = WrongEcho(rq);
        } else if (plan.remoteOff) {
            if (WouldAnswer(p, rq))
                answer = RemoteOffEcho(rq);
        } else if (p.line == Line::Installation) {
            faked = false;
            answer = inst.Handle(rq, dev);
        } else {
            answer = dev.Handle(rq, inst.CurrentOutputs(), inst.energyA, inst.energyR);
            faked = plan.searchWrong && answer && rq.function == kFnSearch;
            if (faked)
                answer = BuildReadAnswer(uint8_t(dev.mem.netAddress), {0});
        }
        Record(p, rq, !faked ? "done" : answer ? "faked" : "lost", plan.applied);
        if (!answer)
            return;
        if (plan.corruptCrc && !answer->empty())
            answer->back() ^= 0x5A;
        if (plan.garbage) {
            const Bytes extra = RandomBytes(size_t(plan.garbage));
            answer->insert(answer->end(), extra.begin(), extra.end());
        }
        const auto start = now + Ms(turnaroundMs + plan.extraDelayMs);
        if (plan.splitAt > 0 && size_t(plan.splitAt) < answer->size()) {
            Bytes first(answer->begin(), answer->begin() + plan.splitAt);
            Bytes second(answer->begin() + plan.splitAt, answer->end());
            const auto firstEnd = start + ByteTime() * long(first.size());
            Schedule(p, start, std::move(first));
            Schedule(p, firstEnd + Ms(plan.splitGapMs), std::move(second));
        } else {
            Schedule(p, start, std::move(*answer));
        }
    }

    void ReadLine(Port &p, Clock::time_point now)
    {
        uint8_t buf[4096];
        for (;;) {
            const ssize_t n = read(p.master, buf, sizeof buf);
            if (n <= 0)
                break;
            p.framer.Feed(buf, size_t(n));
            p.lastRx = now;
            Request rq;
            Bytes skipped;
            while (p.framer.Next(rq, skipped)) {
                if (!skipped.empty()) {
                    LogBytes(p, "skipped", skipped);
                    skipped.clear();
                }
                OnRequest(p, rq, now);
            }
            if (!skipped.empty())
                LogBytes(p, "skipped", skipped);
        }
    }

    // Writes what the line's byte rate allows by now; returns when the next write is due.
    std::optional<Clock::time_point> Flush(Port &p, Clock::time_point now)
    {
        while (!p.out.empty() && p.master >= 0) {
            Burst &b = p.out.front();
            if (now < b.due)
                return b.due;
            const auto elapsed = now - b.due;
            const size_t allowed = std::min(b.bytes.size(), size_t(elapsed / ByteTime()) + 1);
            if (allowed > b.sent) {
                const ssize_t n = write(p.master, b.bytes.data() + b.sent, allowed - b.sent);
                if (n > 0) {
                    b.sent += size_t(n);
                    p.stalled = false;
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    if (!p.stalled) {
                        p.stalled = true;
                        p.stalledSince = now;
                    } else if (now - p.stalledSince > kStalledWrite) {
                        // Nobody reads this line: throw away what waits unread on the slave side.
                        tcflush(p.slave, TCIFLUSH);
                        Log(p.name + " unread data discarded");
                        p.stalled = false;
                    }
                    return now + Ms(20);
                } else {
                    p.out.clear();
                    return std::nullopt;
                }
            }
            if (b.sent == b.bytes.size()) {
                LogBytes(p, "tx", b.bytes);
                p.out.pop_front();
                continue;
            }
            return b.due + ByteTime() * long(b.sent);
        }
        return std::nullopt;
    }

    void ServeClient(Client &c, bool &drop)
    {
        char buf[1024];
        for (;;) {
            const ssize_t n = recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0) {
                drop = true;
                break;
            }
            if (n < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    drop = true;
                break;
            }
            c.in.append(buf, size_t(n));
        }
        size_t nl;
        while ((nl = c.in.find('\n')) != std::string::npos) {
            std::string line = c.in.substr(0, nl);
            c.in.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string reply = Execute(line) + "\n";
            if (send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
                drop = true;
        }
        if (c.in.size() > kMaxControlLine)
            drop = true;
    }

    void Loop()
    {
        std::unique_lock<std::mutex> lk(mu);
        while (!stopping) {
            auto now = Clock::now();
            std::optional<Clock::time_point> next;
            auto consider = [&](Clock::time_point t) { next = next ? std::min(*next, t) : t; };
            if (replugAt) {
                if (now >= *replugAt) {
                    dev.Replug();
                    replugAt.reset();
                    Log("transducer replugged");
                } else {
                    consider(*replugAt);
                }
            }
            for (Port &p : ports) {
                EndDeafness(p, now);
                if (p.deafUntil)
                    consider(*p.deafUntil);
                if (p.down) {
                    if (now >= p.reopenAt)
                        Reopen(p);
                    else
                        consider(p.reopenAt);
                    if (p.down)
                        continue;
                }
                if (!p.framer.Empty()) {
                    if (now - p.lastRx >= kStaleFragment) {
                        Bytes skipped;
                        p.framer.DropStale(skipped);
                        LogBytes(p, "skipped", skipped);
                    } else {
                        consider(p.lastRx + kStaleFragment);
                    }
                }
                if (auto t = Flush(p, now))
                    consider(*t);
            }

            std::vector<pollfd> fds;
            fds.push_back({wake[0], POLLIN, 0});
            if (listenFd >= 0)
                fds.push_back({listenFd, POLLIN, 0});
            const size_t firstClient = fds.size();
            for (const Client &c : clients)
                fds.push_back({c.fd, POLLIN, 0});
            const size_t firstPort = fds.size();
            for (const Port &p : ports)
                fds.push_back({p.master, short(p.master >= 0 ? POLLIN : 0), 0});
            int timeout = -1;
            if (next) {
                const auto wait = std::chrono::duration_cast<Ms>(*next - now + std::chrono::microseconds(999));
                timeout = int(std::clamp<long long>(wait.count(), 0, 60000));
            }
            lk.unlock();
            const int ready = poll(fds.data(), fds.size(), timeout);
            lk.lock();
            if (stopping)
                break;
            if (ready <= 0)
                continue;
            now = Clock::now();
            if (fds[0].revents) {
                char drain[64];
                while (read(wake[0], drain, sizeof drain) > 0) { }
            }
            if (listenFd >= 0 && fds[1].revents & POLLIN) {
                const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd >= 0)
                    clients.push_back({fd, {}});
            }
            std::vector<int> gone;
            for (size_t i = firstClient; i < firstPort; ++i) {
                if (!fds[i].revents)
                    continue;
                auto it
                    = std::find_if(clients.begin(), clients.end(), [&](const Client &c) { return c.fd == fds[i].fd; });
                if (it == clients.end())
                    continue;
                bool drop = false;
                ServeClient(*it, drop);
                if (drop)
                    gone.push_back(it->fd);
            }
            for (int fd : gone) {
                close(fd);
                clients.erase(
                    std::remove_if(clients.begin(), clients.end(), [&](const Client &c) { return c.fd == fd; }),
                    clients.end());
            }
            for (size_t i = 0; i < ports.size(); ++i) {
                Port &p = ports[i];
                const pollfd &f = fds[firstPort + i];
                if (p.master >= 0 && f.fd == p.master && (f.revents & POLLIN))
                    ReadLine(p, now);
            }
        }
    }

    std::string Execute(const std::string &line);
    std::string StateText();
    void Cleanup();
};

std::string KestSimulator::Impl::StateText()
{
    inst.Tick(Clock::now());
    const Outputs o = inst.CurrentOutputs();
    const auto &c = inst.control;
    std::ostringstream s;
    s << "ok remote=" << c[0] << " range=" << (c[1] ? "5A" : "1A") << " voltage-flag=" << c[2]
      << " analog-input=" << c[3] << " analog-range=" << c[4] << " rn=" << c[5] << " scheme=" << (c[6] ? 4 : 3)
      << " speed-index=" << c[7] << " param-num=" << c[8] << " ua=" << Num(o.u[0]) << " ub=" << Num(o.u[1])
      << " uc=" << Num(o.u[2]) << " ia=" << Num(o.i[0]) << " ib=" << Num(o.i[1]) << " ic=" << Num(o.i[2])
      << " set-u=" << Num(inst.OutputSetpoint(reg::kUa)) << ',' << Num(inst.OutputSetpoint(reg::kUb)) << ','
      << Num(inst.OutputSetpoint(reg::kUc)) << " set-i=" << Num(inst.OutputSetpoint(reg::kIa)) << ','
      << Num(inst.OutputSetpoint(reg::kIb)) << ',' << Num(inst.OutputSetpoint(reg::kIc))
      << " set-i5=" << Num(inst.OutputSetpoint(reg::kIa5)) << ',' << Num(inst.OutputSetpoint(reg::kIb5)) << ','
      << Num(inst.OutputSetpoint(reg::kIc5)) << " angle=" << Num(o.angleDeg) << " freq=" << Num(o.frequency)
      << " switches=";
    for (uint16_t sw : inst.switches)
        s << sw;
    s << " amplifier-failure=" << inst.amplifierFailure << " mode=" << (inst.mode ? "manual" : "auto")
      << " address=" << inst.address << " connected=" << (inst.TransducerConnected(dev) ? 1 : 0)
      << " device=" << DeviceTypeName(dev.type) << " plugged=" << (dev.plugged ? 1 : 0)
      << " device-address=" << dev.mem.netAddress << " rs1-speed=" << dev.mem.rs1Speed
      << " analog-mode=" << dev.analogMode << " requests=" << requests
      << " installation-line=" << (ports[0].down ? "down" : ports[0].slavePath)
      << " device-line=" << (ports[1].down ? "down" : ports[1].slavePath);
    return s.str();
}

namespace {

using Words = std::vector<std::string>; // the command's name, then its arguments
using Impl = KestSimulator::Impl;

constexpr size_t kAny = std::numeric_limits<size_t>::max();

// One control command. A line whose argument count is outside [minArgs, maxArgs] is answered with
// the usage; so is one whose handler finds an argument it cannot take (it answers nullopt).
struct ControlCommand {
    const char *name;
    size_t minArgs = 0;
    size_t maxArgs = kAny;
    const char *usage = nullptr; // the command and its arguments, as the usage answer shows them
    std::optional<std::string> (*run)(Impl &d, const Words &w) = nullptr;
};

std::string Usage(const char *text)
{
    return std::string("error usage: ") + text;
}

std::string Meter(Impl &d, bool reference)
{
    d.inst.Tick(Clock::now());
    std::ostringstream s;
    s << "ok";
    if (reference) {
        const Quantities q = d.inst.Meter(d.dev);
        for (int k = 0; k < 33; ++k)
            s << ' ' << kQuantityNames[k] << '=' << Num(q[k]);
    } else {
        const Quantities r = d.dev.Readings(d.inst.CurrentOutputs(), d.inst.energyA, d.inst.energyR);
        for (int k = 1; k <= 33; ++k)
            s << ' ' << kQuantityNames[k - 1] << '=' << Num(d.dev.Reported(r, k));
    }
    return s.str();
}

// unplug, replug and amplifier are faults that act at once, with their arguments as the fault's.
std::optional<std::string> AsFault(Impl &d, const Words &w)
{
    std::string fault = w[0];
    for (size_t i = 1; i < w.size(); ++i)
        fault += ":" + w[i];
    return d.Execute("fault " + fault);
}

// A device setting of one number within limits, kept as the device's int.
template<long Min, long Max> std::optional<std::string> SetLong(const std::string &arg, int &field)
{
    long lv;
    if (!ToLong(arg, Min, Max, lv))
        return std::nullopt;
    field = int(lv);
    return "ok";
}

std::optional<std::string> OnOrOff(const std::string &arg, const char *on, const char *off, bool &field)
{
    if (arg != on && arg != off)
        return std::nullopt;
    field = arg == on;
    return "ok";
}

// The command list: every command but itself, in the table's order.
std::optional<std::string> Help(Impl &d, const Words &w);

const ControlCommand kControlCommands[] = {
    {"state", 0, kAny, nullptr, [](Impl &d, const Words &) -> std::optional<std::string> { return d.StateText(); }},
    {"meter", 0, kAny, nullptr, [](Impl &d, const Words &) -> std::optional<std::string> { return Meter(d, true); }},
    {"readings", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> { return Meter(d, false); }},
    {"analog", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> {
            const Quantities r = d.dev.Readings(d.inst.CurrentOutputs(), d.inst.energyA, d.inst.energyR);
            std::ostringstream s;
            s << "ok";
            for (int o = 0; o < 3; ++o)
                s << " out" << o + 1 << '=' << Num(d.dev.AnalogCurrent(o, r));
            s << " measured=" << Num(d.inst.MeasuredAnalog(d.dev));
            return s.str();
        }},
    {"memory", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> {
            const TransducerMemory &m = d.dev.mem;
            std::ostringstream s;
            s << "ok address=" << m.netAddress << " rs1=" << m.rs1Speed << " rs2=" << m.rs2Speed
              << " rs2-config=" << m.rs2Config << " scheme=" << m.scheme << " analog-range=" << m.analogRange
              << " serial=" << m.serial << " year=" << m.yearWord << " modification=" << m.modificationWord
              << " relays=" << m.relays << " interfaces=" << m.interfaces << " assign=" << m.analogAssign[0] << ','
              << m.analogAssign[1] << ',' << m.analogAssign[2] << " coefs=" << Num(m.u1) << ',' << Num(m.u2) << ','
              << Num(m.i1) << ',' << Num(m.i2) << " angle-steps=" << m.angleSteps[0] << ',' << m.angleSteps[1] << ','
              << m.angleSteps[2] << " analog-steps=" << m.analogOffsetSteps[0] << ',' << m.analogOffsetSteps[1] << ','
              << m.analogOffsetSteps[2] << " analog-gain=" << Num(m.analogGainCorr[0]) << ','
              << Num(m.analogGainCorr[1]) << ',' << Num(m.analogGainCorr[2]) << " cal=";
            for (int i = 0; i < 10; ++i)
                s << (i ? "," : "") << Num(m.cal[i]);
            s << " noise-zeroing=" << (m.noiseZeroing ? 1 : 0);
            return s.str();
        }},
    {"type", 1, 1, "type I|U|F|P|Q|PQ|QX4|QX4E|none",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            auto t = ParseDeviceType(w[1]);
            if (!t)
                return "error unknown type " + w[1];
            d.dev.type = *t;
            return "ok";
        }},
    {"address", 1, 1, "address 0..255",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            long lv;
            if (!ToLong(w[1], 0, 255, lv))
                return std::nullopt;
            d.dev.mem.netAddress = int(lv);
            d.dev.saved.netAddress = int(lv);
            return "ok";
        }},
    {"unplug", 0, kAny, nullptr, AsFault},
    {"replug", 0, kAny, nullptr, AsFault},
    {"amplifier", 0, kAny, nullptr, AsFault},
    {"fault", 1, 1, "fault FAULT",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            std::string error;
            auto f = ParseFault(w[1], error);
            if (!f)
                return "error " + error;
            if (ActsAtOnce(*f))
                d.ApplyStateFault(*f);
            else
                d.faults.Add(*f);
            d.Wake();
            return "ok";
        }},
    {"faults", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> {
            std::string s = "ok";
            for (const std::string &f : d.faults.Active())
                s += " " + f;
            return s;
        }},
    {"clear-faults", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> {
            d.faults.Clear();
            for (Port &p : d.ports)
                d.EndDeafness(p, p.deafUntil ? *p.deafUntil : Clock::now());
            return "ok";
        }},
    {"error", 2, 3, "error QUANTITY GAIN% [OFFSET%FS]",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            std::optional<int> k;
            double gain, offset = 0;
            if (!(k = QuantityIndex(w[1])) || !ToDouble(w[2], gain) || (w.size() == 4 && !ToDouble(w[3], offset)))
                return std::nullopt;
            d.dev.errors.gainPct[*k - 1] = gain;
            d.dev.errors.offsetPct[*k - 1] = offset;
            return "ok";
        }},
    {"phase-error", 2, 2, "phase-error A|B|C DEGREES",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            static const std::string phases = "ABC";
            double dv;
            if (w[1].size() != 1 || phases.find(w[1][0]) == std::string::npos || !ToDouble(w[2], dv))
                return std::nullopt;
            d.dev.errors.phaseDeg[phases.find(w[1][0])] = dv;
            return "ok";
        }},
    {"analog-error", 2, 3, "analog-error 1..3 GAIN% [OFFSET_MA]",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            long lv;
            double gain, offset = 0;
            if (!ToLong(w[1], 1, 3, lv) || !ToDouble(w[2], gain) || (w.size() == 4 && !ToDouble(w[3], offset)))
                return std::nullopt;
            d.dev.errors.analogGainPct[lv - 1] = gain;
            d.dev.errors.analogOffsetMa[lv - 1] = offset;
            return "ok";
        }},
    {"analog-range", 1, 1, "analog-range 0..4",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            long lv;
            if (!ToLong(w[1], 0, 4, lv))
                return std::nullopt;
            d.dev.mem.analogRange = int(lv);
            d.dev.saved.analogRange = int(lv);
            return "ok";
        }},
    {"coefs", 4, 4, "coefs U1 U2 I1 I2",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double v[4];
            for (int i = 0; i < 4; ++i)
                if (!ToDouble(w[i + 1], v[i]) || v[i] <= 0)
                    return Usage("coefs U1 U2 I1 I2 (positive)");
            d.dev.mem.u1 = float(v[0]);
            d.dev.mem.u2 = float(v[1]);
            d.dev.mem.i1 = float(v[2]);
            d.dev.mem.i2 = float(v[3]);
            d.dev.saved = d.dev.mem;
            return "ok";
        }},
    {"scale", 1, 1, "scale S (0: nominal)",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double dv;
            if (!ToDouble(w[1], dv) || dv < 0)
                return std::nullopt;
            d.dev.scale = dv;
            return "ok";
        }},
    {"unit", 1, 1, "unit CODE (0: by type)",
        [](Impl &d, const Words &w) { return SetLong<0, 255>(w[1], d.dev.unitCode); }},
    {"digits", 1, 1, "digits N", [](Impl &d, const Words &w) { return SetLong<0, 15>(w[1], d.dev.digits); }},
    {"protocol", 1, 1, "protocol modbus|vq",
        [](Impl &d, const Words &w) { return OnOrOff(w[1], "modbus", "vq", d.dev.pqModbus); }},
    {"old-devinfo", 1, 1, "old-devinfo on|off",
        [](Impl &d, const Words &w) { return OnOrOff(w[1], "on", "off", d.inst.oldDevInfo); }},
    {"noise", 1, 1, "noise LEVEL (0 … 0.1, relative)",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double dv;
            if (!ToDouble(w[1], dv) || dv < 0 || dv > 0.1)
                return std::nullopt;
            d.inst.noise = dv;
            return "ok";
        }},
    {"turnaround", 1, 1, "turnaround MS",
        [](Impl &d, const Words &w) { return SetLong<0, 60000>(w[1], d.turnaroundMs); }},
    {"rate", 1, 1, "rate BPS", [](Impl &d, const Words &w) { return SetLong<50, 4000000>(w[1], d.rate); }},
    {"hangup", 1, 2, "hangup installation|device [MS]",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            if (w[1] != "installation" && w[1] != "device")
                return std::nullopt;
            return d.Execute("fault " + w[1] + ":hangup" + (w.size() == 3 ? ":" + w[2] : ""));
        }},
    {"last", 0, 1, "last [N]",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            long count = 10;
            if (w.size() == 2 && !ToLong(w[1], 1, long(kLogLines), count))
                return std::nullopt;
            std::string s = "ok";
            const size_t from = d.log.size() > size_t(count) ? d.log.size() - size_t(count) : 0;
            for (size_t i = from; i < d.log.size(); ++i)
                s += (i == from ? " " : " | ") + d.log[i];
            return s;
        }},
    // The requests' fates, so that a test can tell the ones carried out from the lost ones.
    {"requests", 0, 2, "requests [installation|device] [N]",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            const size_t n = w.size();
            long count = 10;
            std::string only;
            size_t i = 1;
            if (i < n && (w[i] == "installation" || w[i] == "device"))
                only = w[i++];
            if (i + 1 < n || (i < n && !ToLong(w[i], 1, long(kLogLines), count)))
                return std::nullopt;
            std::vector<const RequestRecord *> picked;
            for (auto it = d.history.rbegin(); it != d.history.rend() && picked.size() < size_t(count); ++it)
                if (only.empty() || it->line == only)
                    picked.push_back(&*it);
            std::string s = "ok";
            for (auto it = picked.rbegin(); it != picked.rend(); ++it)
                s += std::string(it == picked.rbegin() ? " " : " | ") + std::to_string((*it)->number) + " "
                    + (*it)->line + " " + (*it)->fate + " " + (*it)->hex;
            return s;
        }},
    {"reset-energy", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> {
            d.inst.energyA = d.inst.energyR = 0;
            return "ok";
        }},
    {"device-noise", 1, 1, "device-noise LEVEL (0 … 0.01, relative to full scale)",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double dv;
            if (!ToDouble(w[1], dv) || dv < 0 || dv > 0.01)
                return std::nullopt;
            d.dev.realism.noise = dv;
            return "ok";
        }},
    {"device-lag", 1, 1, "device-lag MS (0 … 60000)",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double dv;
            if (!ToDouble(w[1], dv) || dv < 0 || dv > 60000)
                return std::nullopt;
            d.dev.Settle(); // a new time constant applies to the changes written from now on
            d.dev.realism.lagMs = dv;
            return "ok";
        }},
    {"device-steps", 2, 2, "device-steps NONLINEARITY(0 … 1) DEADBAND(0 … 1000)",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double nl;
            long band;
            if (!ToDouble(w[1], nl) || nl < 0 || nl > 1 || !ToLong(w[2], 0, 1000, band))
                return std::nullopt;
            d.dev.realism.nonlinearity = nl;
            d.dev.realism.deadband = int(band);
            return "ok";
        }},
    {"device-settle", 0, kAny, nullptr,
        [](Impl &d, const Words &) -> std::optional<std::string> {
            d.dev.Settle();
            return "ok";
        }},
    {"modification", 1, 1, "modification 0..99",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            long lv;
            if (!ToLong(w[1], 0, 99, lv))
                return std::nullopt;
            d.dev.mem.modificationWord = uint16_t(700 + lv);
            d.dev.saved.modificationWord = d.dev.mem.modificationWord;
            return "ok";
        }},
    {"reference-response", 1, 1, "reference-response 0..1",
        [](Impl &d, const Words &w) -> std::optional<std::string> {
            double dv;
            if (!ToDouble(w[1], dv) || dv < 0 || dv > 1)
                return std::nullopt;
            d.dev.referenceResponse = dv;
            return "ok";
        }},
    {"help", 0, kAny, nullptr, Help},
};

std::optional<std::string> Help(Impl &, const Words &)
{
    std::string s = "ok commands:";
    for (const ControlCommand &c : kControlCommands)
        if (c.run != Help)
            s += std::string(" ") + c.name;
    return s;
}

} // namespace

std::string KestSimulator::Impl::Execute(const std::string &line)
{
    std::istringstream in(line);
    Words w;
    for (std::string t; in >> t;)
        w.push_back(t);
    if (w.empty())
        return "error empty command";
    // Outputs change only through requests and commands: bring the energies up to now first.
    inst.Tick(Clock::now());
    for (const ControlCommand &c : kControlCommands) {
        if (w[0] != c.name)
            continue;
        const size_t args = w.size() - 1;
        std::optional<std::string> answer;
        if (args >= c.minArgs && args <= c.maxArgs)
            answer = c.run(*this, w);
        return answer ? *answer : Usage(c.usage);
    }
    return "error unknown command " + w[0];
}

void KestSimulator::Impl::Cleanup()
{
    for (Port &p : ports) {
        const std::string target = p.slavePath;
        ClosePty(p);
        RemoveLinkIfOurs(p.link, target);
        RemoveLinkIfOurs(p.announce, p.link.empty() ? target : p.link);
        p.announce.clear();
    }
    for (const Client &c : clients)
        close(c.fd);
    clients.clear();
    if (listenFd >= 0) {
        close(listenFd);
        unlink(opt.controlSocket.c_str());
        listenFd = -1;
    }
    for (int &fd : wake) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}

KestSimulator::KestSimulator(SimOptions options) : d_(std::make_unique<Impl>())
{
    d_->opt = std::move(options);
}

KestSimulator::~KestSimulator()
{
    Stop();
}

bool KestSimulator::Start(std::string *errorOut)
{
    Impl &d = *d_;
    std::lock_guard<std::mutex> lk(d.mu);
    std::string error;
    auto fail = [&](const std::string &text) {
        d.Cleanup();
        if (errorOut)
            *errorOut = text;
        return false;
    };
    if (d.running)
        return fail("already running");
    auto type = ParseDeviceType(d.opt.deviceType);
    if (!type)
        return fail("unknown device type " + d.opt.deviceType);
    if (d.opt.deviceAddress < 0 || d.opt.deviceAddress > 255)
        return fail("device address out of 0..255");
    if (d.opt.rate <= 0 || d.opt.turnaroundMs < 0)
        return fail("bad rate or turnaround");
    d.dev.type = *type;
    d.dev.mem.netAddress = d.opt.deviceAddress;
    d.dev.Save();
    d.rate = d.opt.rate;
    d.turnaroundMs = d.opt.turnaroundMs;
    d.rng.seed(d.opt.seed);
    d.inst.Seed(d.opt.seed);
    d.dev.Seed(d.opt.seed ^ 0x9E3779B97F4A7C15ull); // its own sequence, not the meter's
    d.stopping = false;
    for (Port &p : d.ports) {
        p.down = false;
        p.announce.clear();
    }
    d.ports[0].line = Line::Installation;
    d.ports[0].name = "installation";
    d.ports[0].link = d.opt.installationLink;
    d.ports[1].line = Line::Device;
    d.ports[1].name = "device";
    d.ports[1].link = d.opt.deviceLink;
    if (!d.opt.logFile.empty() && !(d.logFile = std::fopen(d.opt.logFile.c_str(), "w")))
        return fail("cannot write " + d.opt.logFile);
    if (pipe2(d.wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe failed");
    for (Port &p : d.ports)
        if (!d.OpenLine(p, error) || !d.SetupAnnounce(p, error))
            return fail(error);
    if (!d.opt.controlSocket.empty()) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (d.opt.controlSocket.size() >= sizeof addr.sun_path)
            return fail("control socket path too long");
        std::strcpy(addr.sun_path, d.opt.controlSocket.c_str());
        struct stat st;
        if (lstat(d.opt.controlSocket.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode))
                return fail(d.opt.controlSocket + " exists and is not a socket");
            unlink(d.opt.controlSocket.c_str());
        }
        d.listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (d.listenFd < 0 || bind(d.listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
            || listen(d.listenFd, 8) != 0)
            return fail("cannot listen on " + d.opt.controlSocket + ": " + std::strerror(errno));
    }
    for (const std::string &f : d.opt.faults) {
        const std::string answer = d.Execute("fault " + f);
        if (answer.rfind("ok", 0) != 0)
            return fail(answer);
    }
    for (const std::string &c : d.opt.commands) {
        const std::string answer = d.Execute(c);
        if (answer.rfind("ok", 0) != 0)
            return fail(c + ": " + answer);
    }
    d.Log("started: installation " + d.ports[0].slavePath + ", device " + d.ports[1].slavePath);
    d.running = true;
    d.thread = std::thread([&d] { d.Loop(); });
    return true;
}

void KestSimulator::Stop()
{
    Impl &d = *d_;
    {
        std::lock_guard<std::mutex> lk(d.mu);
        if (!d.running)
            return;
        d.stopping = true;
        d.Wake();
    }
    d.thread.join();
    std::lock_guard<std::mutex> lk(d.mu);
    d.Cleanup();
    d.running = false;
}

bool KestSimulator::Running() const
{
    std::lock_guard<std::mutex> lk(d_->mu);
    return d_->running;
}

std::string KestSimulator::InstallationPath() const
{
    std::lock_guard<std::mutex> lk(d_->mu);
    return d_->ports[0].slavePath;
}

std::string KestSimulator::DevicePath() const
{
    std::lock_guard<std::mutex> lk(d_->mu);
    return d_->ports[1].slavePath;
}

std::string KestSimulator::AnnouncedInstallation() const
{
    std::lock_guard<std::mutex> lk(d_->mu);
    return d_->ports[0].announce;
}

std::string KestSimulator::AnnouncedDevice() const
{
    std::lock_guard<std::mutex> lk(d_->mu);
    return d_->ports[1].announce;
}

std::string KestSimulator::Command(const std::string &line)
{
    std::lock_guard<std::mutex> lk(d_->mu);
    const std::string answer = d_->Execute(line);
    d_->Wake();
    return answer;
}

std::vector<std::string> KestSimulator::Log() const
{
    std::lock_guard<std::mutex> lk(d_->mu);
    return {d_->log.begin(), d_->log.end()};
}

} // namespace kestsim
