#include "transport/serialport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kest_detail {
bool SetArbitraryBaudRate(int fd, int bitsPerSecond);
}

namespace {

const char *const kNoDevice = "Попытка открыть несуществующий COM-порт";
const char *const kBusy = "Порт занят другой программой";
const char *const kNotOpen = "Порт не открыт";
const char *const kWriteError = "Ошибка записи в порт";
const char *const kReadError = "Ошибка чтения из порта";
const char *const kPurgeError = "Ошибка функции PurgeComm";
const char *const kSetCommState = "Ошибка функции SetCommState";
const char *const kSetCommTimeouts = "Ошибка функции SetCommTimeouts";
const char *const kSetupComm = "Ошибка функции SetupComm";
const char *const kClearCommError = "Ошибка функции ClearCommError";
const char *const kModemStatus = "Ошибка функции GetCommModemStatus";
const char *const kEscape = "Ошибка функции EscapeCommFunction";
const char *const kPropertyLocked = "Нельзя менять свойство, пока порт открыт";

constexpr int kRateTable[]
    = {0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 230400, 256000,
        460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

speed_t StandardSpeed(int rate)
{
    switch (rate) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 500000:
        return B500000;
    case 576000:
        return B576000;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 1152000:
        return B1152000;
    case 1500000:
        return B1500000;
    case 2000000:
        return B2000000;
    case 2500000:
        return B2500000;
    case 3000000:
        return B3000000;
    case 3500000:
        return B3500000;
    case 4000000:
        return B4000000;
    default:
        return B0;
    }
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0; -1 when there is no deadline.
int RemainingMs(bool hasDeadline, Clock::time_point deadline)
{
    if (!hasDeadline)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

// Time-out values: negative stands for the platform's maximum.
long long Ms(int value)
{
    return value < 0 ? 0xFFFFFFFFLL : value;
}

} // namespace

int BaudRateToInt(TBaudRate rate)
{
    const int i = static_cast<int>(rate);
    if (i < 0 || i >= static_cast<int>(std::size(kRateTable)))
        return 0;
    return kRateTable[i];
}

// ---------------------------------------------------------------------------------------------------------
// TComTimeouts

void TComTimeouts::Set(int &field, int value)
{
    if (field == value)
        return;
    field = value;
    if (port_ && port_->Connected())
        port_->ApplyTimeouts();
}

void TComTimeouts::Assign(const TComTimeouts &other)
{
    readInterval_ = other.readInterval_;
    readTotalMultiplier_ = other.readTotalMultiplier_;
    readTotalConstant_ = other.readTotalConstant_;
    writeTotalMultiplier_ = other.writeTotalMultiplier_;
    writeTotalConstant_ = other.writeTotalConstant_;
    if (port_ && port_->Connected())
        port_->ApplyTimeouts();
}

// ---------------------------------------------------------------------------------------------------------
// TComDataPacket

void TComDataPacket::SetPacketSize(int value)
{
    if (value >= 1 && value <= maxBufferSize_ - 1)
        packetSize_ = value;
}

void TComDataPacket::SetMaxBufferSize(int value)
{
    if (value > 0 && value > packetSize_)
        maxBufferSize_ = value;
}

void TComDataPacket::Assign(const TComDataPacket &other)
{
    Enabled = other.Enabled;
    IncludeStrings = other.IncludeStrings;
    StartString = other.StartString;
    StopString = other.StopString;
    maxBufferSize_ = other.maxBufferSize_;
    packetSize_ = other.packetSize_;
}

void TComDataPacket::ResetBuffer()
{
    buffer_.clear();
    inPacket_ = false;
}

void TComDataPacket::AddData(const std::string &bytes, const std::function<void(const std::string &)> &onPacket)
{
    if (!Enabled || !PacketDefined())
        return;
    for (char c : bytes) {
        buffer_.push_back(c);
        if (!inPacket_) {
            if (StartString.empty()) {
                inPacket_ = true;
            } else if (buffer_.size() >= StartString.size()
                && buffer_.compare(buffer_.size() - StartString.size(), StartString.size(), StartString) == 0) {
                // Drop whatever came before the start marker.
                buffer_ = StartString;
                inPacket_ = true;
                continue;
            }
        }
        if (inPacket_) {
            const size_t body
                = buffer_.size() - (buffer_.compare(0, StartString.size(), StartString) == 0 ? StartString.size() : 0);
            bool done = false;
            size_t stopLen = 0;
            if (!StopString.empty() && buffer_.size() >= StopString.size() + StartString.size()
                && buffer_.compare(buffer_.size() - StopString.size(), StopString.size(), StopString) == 0) {
                done = true;
                stopLen = StopString.size();
            } else if (packetSize_ > 0 && static_cast<int>(body) >= packetSize_) {
                done = true;
            }
            if (done) {
                std::string packet = buffer_;
                if (!IncludeStrings) {
                    packet = packet.substr(StartString.size(), packet.size() - StartString.size() - stopLen);
                }
                ResetBuffer();
                if (onPacket)
                    onPacket(packet);
                continue;
            }
        }
        if (static_cast<int>(buffer_.size()) >= maxBufferSize_)
            ResetBuffer();
    }
}

// ---------------------------------------------------------------------------------------------------------
// The watcher's shared state. It outlives the port's open session for as long as a dispatch that was posted
// to the owning thread still refers to it.

struct TSerialPort::Watch {
    int fd = -1;
    int stopFd = -1;
    int epollFd = -1;
    std::mutex mutex;
    std::condition_variable cv;
    bool stop = false;
    bool dispatchDone = false;
    TSyncMethod sync = smThreadSync;
    TComEvents wanted;
    int inBufSize = 2048;

    // Once the watcher runs, touched by its thread only.
    bool lineWatched = true;
    bool haveCounters = false;
    serial_icounter_struct counters{};
    bool haveModem = false;
    int modem = 0;
    bool rx80Reported = false;

    ~Watch()
    {
        if (epollFd >= 0)
            ::close(epollFd);
        if (stopFd >= 0)
            ::close(stopFd);
    }

    bool Stopping()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stop;
    }

    // Modem lines have no change notification that epoll can see; a real UART's lines are sampled a
    // few times a second. Pseudo-terminals have none, and then the watcher sleeps until woken.
    bool SamplesModem() const
    {
        return lineWatched && haveModem
            && (wanted.Contains(evCTS) || wanted.Contains(evDSR) || wanted.Contains(evRLSD) || wanted.Contains(evRing));
    }

    void TakeReadiness(const epoll_event *evs, int n, TComEvents &events, TComErrors &errors)
    {
        bool hangUp = false;
        for (int i = 0; i < n; ++i) {
            if (evs[i].data.fd != fd)
                continue;
            if (evs[i].events & EPOLLIN)
                events.Include(evRxChar);
            if (evs[i].events & (EPOLLHUP | EPOLLERR))
                hangUp = true;
        }
        if (hangUp && lineWatched) {
            // The device is gone (adapter pulled, peer closed): report it once and stop watching the line,
            // whose readiness would otherwise be signalled without end.
            errors.Include(ceIO);
            ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
            lineWatched = false;
        }
    }

    void TakeLineCounters(TComEvents &events, TComErrors &errors)
    {
        if (!haveCounters || !lineWatched)
            return;
        serial_icounter_struct now{};
        if (::ioctl(fd, TIOCGICOUNT, &now) != 0)
            return;
        const serial_icounter_struct &was = counters;
        if (now.frame != was.frame)
            errors.Include(ceFrame);
        if (now.parity != was.parity)
            errors.Include(ceRxParity);
        if (now.overrun != was.overrun)
            errors.Include(ceOverrun);
        if (now.buf_overrun != was.buf_overrun)
            errors.Include(ceRxOver);
        if (now.brk != was.brk) {
            errors.Include(ceBreak);
            events.Include(evBreak);
        }
        if (now.rng != was.rng)
            events.Include(evRing);
        counters = now;
    }

    void TakeModemLines(TComEvents &events, TComSignals &signalsNow)
    {
        int lines = 0;
        if (::ioctl(fd, TIOCMGET, &lines) != 0)
            return;
        const int changed = lines ^ modem;
        if (changed & TIOCM_CTS)
            events.Include(evCTS);
        if (changed & TIOCM_DSR)
            events.Include(evDSR);
        if (changed & TIOCM_CD)
            events.Include(evRLSD);
        if ((changed & TIOCM_RI) && (lines & TIOCM_RI))
            events.Include(evRing);
        modem = lines;
        if (lines & TIOCM_CTS)
            signalsNow.Include(csCTS);
        if (lines & TIOCM_DSR)
            signalsNow.Include(csDSR);
        if (lines & TIOCM_RI)
            signalsNow.Include(csRing);
        if (lines & TIOCM_CD)
            signalsNow.Include(csRLSD);
    }

    // Reported once each time the queue fills to 80 % of the input buffer size.
    void TakeQueueMark(TComEvents &events)
    {
        int waiting = 0;
        int mark = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            mark = inBufSize * 8 / 10;
        }
        if (::ioctl(fd, FIONREAD, &waiting) != 0 || mark <= 0)
            return;
        if (waiting >= mark && !rx80Reported) {
            events.Include(evRx80Full);
            rx80Reported = true;
        } else if (waiting < mark) {
            rx80Reported = false;
        }
    }

    // Only what the owner asked to watch.
    TComEvents Wanted(TComEvents events) const
    {
        TComEvents out;
        for (int e = evRxChar; e <= evRx80Full; ++e)
            if (events.Contains(static_cast<TComEvent>(e)) && wanted.Contains(static_cast<TComEvent>(e)))
                out.Include(static_cast<TComEvent>(e));
        return out;
    }
};

// ---------------------------------------------------------------------------------------------------------
// TSerialPort

TSerialPort::TSerialPort(QObject *owner) : QObject(owner)
{
    timeouts_.port_ = this;
}

TSerialPort::~TSerialPort()
{
    try {
        Close();
    } catch (...) {
    }
    timeouts_.port_ = nullptr;
}

void TSerialPort::RequireOpen() const
{
    if (!connected_)
        throw EComPort(kNotOpen);
}

void TSerialPort::RequireClosed() const
{
    if (connected_)
        throw EComPort(kPropertyLocked);
}

void TSerialPort::SetPort(const std::string &name)
{
    RequireClosed();
    port_ = name;
}

// A refused line setting leaves the property as it was, so that the line and the property agree.
template<typename T> void TSerialPort::SetLineSetting(T &field, T value)
{
    if (value == field)
        return;
    const T previous = field;
    field = value;
    if (!connected_)
        return;
    try {
        ApplyLineSettings();
    } catch (...) {
        field = previous;
        try {
            ApplyLineSettings();
        } catch (...) {
        }
        throw;
    }
}

void TSerialPort::SetBufferSize(int &field, int value)
{
    value -= value % 2;
    if (value == field)
        return;
    field = value;
    if (connected_)
        ApplyBufferSizes();
}

void TSerialPort::SetBaudRate(TBaudRate rate)
{
    SetLineSetting(baudRate_, rate);
}

void TSerialPort::SetCustomBaudRate(int bitsPerSecond)
{
    SetLineSetting(customBaudRate_, bitsPerSecond);
}

void TSerialPort::SetByteSize(TByteSize value)
{
    SetLineSetting(byteSize_, value);
}

void TSerialPort::SetParity(TParity value)
{
    SetLineSetting(parity_, value);
}

void TSerialPort::SetStopBits(TStopBits value)
{
    SetLineSetting(stopBits_, value);
}

void TSerialPort::SetInBufSize(int value)
{
    SetBufferSize(inBufSize_, value);
}

void TSerialPort::SetOutBufSize(int value)
{
    SetBufferSize(outBufSize_, value);
}

void TSerialPort::SetSyncMethod(TSyncMethod value)
{
    RequireClosed();
    syncMethod_ = value;
}

void TSerialPort::SetThreadPriority(int value)
{
    RequireClosed();
    threadPriority_ = value;
}

void TSerialPort::Open()
{
    if (connected_)
        return;
    std::string path = port_;
    if (path.find('/') == std::string::npos)
        path = "/dev/" + path;

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENODEV || err == ENXIO || err == ENOTDIR)
            throw EComPort(kNoDevice);
        if (err == EACCES || err == EBUSY || err == EPERM)
            throw EComPort(kBusy);
        // Anything else shows up as the failure to apply the line settings, below.
    } else {
        // TIOCEXCL keeps out other programs, but not root; the lock keeps out every cooperating opener,
        // root included, and a second open in this very process.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            throw EComPort(kBusy);
        }
        ::ioctl(fd, TIOCEXCL);
    }

    fd_ = fd;
    connected_ = true;
    try {
        ApplyLineSettings();
        ApplyBufferSizes();
        ApplyTimeouts();
        StartWatcher();
    } catch (...) {
        if (fd_ >= 0) {
            ::ioctl(fd_, TIOCNXCL);
            ::close(fd_);
        }
        fd_ = -1;
        connected_ = false;
        throw;
    }
}

void TSerialPort::Close()
{
    if (!connected_)
        return;
    StopWatcher();
    if (fd_ >= 0) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_); // also releases the lock
    }
    fd_ = -1;
    connected_ = false;
    dataPacket_.ResetBuffer();
}

void TSerialPort::ApplyLineSettings()
{
    if (fd_ < 0)
        throw EComPort(kSetCommState);
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        throw EComPort(kSetCommState);
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNPAR | PARMRK | INPCK | ISTRIP | IGNBRK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[std::clamp(static_cast<int>(byteSize_), 0, 3)];
    switch (parity_) {
    case paNone:
        break;
    case paOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case paEven:
        tio.c_cflag |= PARENB;
        break;
    case paMark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case paSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (parity_ != paNone)
        tio.c_iflag |= INPCK;
    // Linux has no 1.5 stop bits; the UART sends 1.5 for five data bits when asked for two.
    if (stopBits_ != sb1)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const int rate = baudRate_ == brCustom ? customBaudRate_ : BaudRateToInt(baudRate_);
    if (rate <= 0)
        throw EComPort(kSetCommState);
    const speed_t speed = StandardSpeed(rate);
    if (speed != B0) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
        throw EComPort(kSetCommState);
    if (speed == B0 && !kest_detail::SetArbitraryBaudRate(fd_, rate))
        throw EComPort(kSetCommState);

    // DTR and RTS on. A pseudo-terminal has no modem lines; that is not an error.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIS, &lines);
}

void TSerialPort::ApplyBufferSizes()
{
    // The tty layer sizes its own queues; the values are kept for the 80 % mark of the input queue.
    if (inBufSize_ < 0 || outBufSize_ < 0)
        throw EComPort(kSetupComm);
    if (watch_) {
        std::lock_guard<std::mutex> lock(watch_->mutex);
        watch_->inBufSize = inBufSize_;
    }
}

void TSerialPort::ApplyTimeouts()
{
    // Reads and writes apply the time-outs themselves; there is nothing to hand to the driver.
    if (fd_ < 0)
        throw EComPort(kSetCommTimeouts);
}

int TSerialPort::Write(const void *buffer, int count)
{
    RequireOpen();
    if (count <= 0)
        return 0;
    const auto *p = static_cast<const uint8_t *>(buffer);
    const long long mult = Ms(timeouts_.WriteTotalMultiplier());
    const long long cons = Ms(timeouts_.WriteTotalConstant());
    const bool hasDeadline = mult != 0 || cons != 0;
    // Clamped as in Read: a "maximum" multiplier times a few thousand bytes would pass the clock's
    // range, and the deadline would lie in the past before the first byte.
    const auto deadline
        = Clock::now() + std::chrono::milliseconds(std::min<long long>(mult * count + cons, 0x7FFFFFFFLL));
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(kWriteError);
        pollfd pfd{fd_, POLLOUT, 0};
        const int wait = RemainingMs(hasDeadline, deadline);
        if (wait == 0)
            break;
        const int r = ::poll(&pfd, 1, wait);
        if (r < 0 && errno != EINTR)
            throw EComPort(kWriteError);
        if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
            throw EComPort(kWriteError);
        if (r == 0)
            break;
    }
    if (done > 0 && OnTxEmpty && events_.Contains(evTxEmpty)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (connected_ && OnTxEmpty)
                    OnTxEmpty(this);
            },
            Qt::QueuedConnection);
    }
    return done;
}

int TSerialPort::WriteStr(const std::string &str)
{
    return Write(str.data(), static_cast<int>(str.size()));
}

int TSerialPort::Read(void *buffer, int count)
{
    RequireOpen();
    if (count <= 0)
        return 0;
    if (readFaultHook_ && readFaultHook_())
        throw EComPort(kReadError);
    auto *p = static_cast<uint8_t *>(buffer);
    const long long interval = Ms(timeouts_.ReadInterval());
    const long long mult = Ms(timeouts_.ReadTotalMultiplier());
    const long long cons = Ms(timeouts_.ReadTotalConstant());
    const bool maxInterval = timeouts_.ReadInterval() < 0;
    // Interval "maximum" with no totals: return at once with what is waiting.
    const bool immediate = maxInterval && mult == 0 && cons == 0;
    // Interval and multiplier "maximum" with a constant: wait for the first byte, then return.
    const bool firstByte = maxInterval && timeouts_.ReadTotalMultiplier() < 0 && cons > 0 && cons < 0xFFFFFFFFLL;
    const bool hasTotal = !firstByte && (mult != 0 || cons != 0);
    const auto deadline = Clock::now()
        + std::chrono::milliseconds(firstByte ? cons : std::min<long long>(mult * count + cons, 0x7FFFFFFFLL));

    int got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, p + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            if (firstByte)
                return got;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(kReadError);
        pollfd pfd{fd_, POLLIN, 0};
        if (n == 0) {
            // End of file on a tty means the line was hung up.
            if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
                throw EComPort(kReadError);
        }
        if (immediate)
            return got;
        int wait = RemainingMs(hasTotal || firstByte, deadline);
        if (!maxInterval && interval > 0 && got > 0) {
            const int iv = static_cast<int>(std::min<long long>(interval, INT_MAX));
            wait = wait < 0 ? iv : std::min(wait, iv);
        }
        if (wait == 0)
            return got;
        const int r = ::poll(&pfd, 1, wait);
        if (r < 0 && errno != EINTR)
            throw EComPort(kReadError);
        if (r == 0)
            return got;
        if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLIN))
            throw EComPort(kReadError);
    }
    return got;
}

int TSerialPort::ReadStr(std::string &str, int count)
{
    str.assign(static_cast<size_t>(std::max(count, 0)), '\0');
    const int n = Read(str.data(), count);
    str.resize(static_cast<size_t>(n));
    return n;
}

int TSerialPort::InBufCount()
{
    RequireOpen();
    int n = 0;
    if (::ioctl(fd_, FIONREAD, &n) != 0)
        throw EComPort(kClearCommError);
    return n;
}

int TSerialPort::OutBufCount()
{
    RequireOpen();
    int n = 0;
    if (::ioctl(fd_, TIOCOUTQ, &n) != 0)
        throw EComPort(kClearCommError);
    return n;
}

void TSerialPort::ClearBuffer(bool input, bool output)
{
    RequireOpen();
    if (!input && !output)
        return;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (::tcflush(fd_, which) != 0)
        throw EComPort(kPurgeError);
}

void TSerialPort::SetBreak(bool state)
{
    RequireOpen();
    if (::ioctl(fd_, state ? TIOCSBRK : TIOCCBRK) != 0)
        throw EComPort(kEscape);
}

void TSerialPort::SetDTR(bool state)
{
    RequireOpen();
    int bit = TIOCM_DTR;
    if (::ioctl(fd_, state ? TIOCMBIS : TIOCMBIC, &bit) != 0)
        throw EComPort(kEscape);
}

void TSerialPort::SetRTS(bool state)
{
    RequireOpen();
    int bit = TIOCM_RTS;
    if (::ioctl(fd_, state ? TIOCMBIS : TIOCMBIC, &bit) != 0)
        throw EComPort(kEscape);
}

TComSignals TSerialPort::Signals()
{
    RequireOpen();
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0)
        throw EComPort(kModemStatus);
    TComSignals s;
    if (lines & TIOCM_CTS)
        s.Include(csCTS);
    if (lines & TIOCM_DSR)
        s.Include(csDSR);
    if (lines & TIOCM_RI)
        s.Include(csRing);
    if (lines & TIOCM_CD)
        s.Include(csRLSD);
    return s;
}

// ---------------------------------------------------------------------------------------------------------
// Watcher

void TSerialPort::StartWatcher()
{
    auto watch = std::make_shared<Watch>();
    watch->fd = fd_;
    watch->sync = syncMethod_;
    watch->wanted = events_;
    watch->inBufSize = inBufSize_;
    watch->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    watch->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (watch->stopFd < 0 || watch->epollFd < 0)
        throw EComPort(kSetCommState);
    epoll_event stopEv{};
    stopEv.events = EPOLLIN;
    stopEv.data.fd = watch->stopFd;
    // Edge-triggered on the line: bytes left unread for the engine's silence timer must not wake the
    // watcher again and again; only new bytes (or a hang-up) do.
    epoll_event lineEv{};
    lineEv.events = EPOLLIN | EPOLLET | EPOLLRDHUP;
    lineEv.data.fd = fd_;
    if (::epoll_ctl(watch->epollFd, EPOLL_CTL_ADD, watch->stopFd, &stopEv) != 0
        || ::epoll_ctl(watch->epollFd, EPOLL_CTL_ADD, fd_, &lineEv) != 0)
        throw EComPort(kSetCommState);
    // Line error counters and modem lines exist on real UARTs only.
    watch->haveCounters = ::ioctl(fd_, TIOCGICOUNT, &watch->counters) == 0;
    watch->haveModem = ::ioctl(fd_, TIOCMGET, &watch->modem) == 0;

    watch_ = watch;
    thread_ = std::thread([this, watch] { WatcherLoop(watch); });
}

void TSerialPort::StopWatcher()
{
    std::shared_ptr<Watch> watch = std::move(watch_);
    watch_.reset();
    if (watch) {
        {
            std::lock_guard<std::mutex> lock(watch->mutex);
            watch->stop = true;
        }
        watch->cv.notify_all();
        uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(watch->stopFd, &one, sizeof one);
    }
    // A dispatch already posted to this thread finds watch_ changed and does nothing.
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0) {
        // Both queues are discarded on the way out, as pending operations are aborted.
        ::tcflush(fd_, TCIOFLUSH);
    }
}

void TSerialPort::WatcherLoop(std::shared_ptr<Watch> watch)
{
    for (;;) {
        epoll_event evs[2];
        const bool sampleModem = watch->SamplesModem();
        const int n = ::epoll_wait(watch->epollFd, evs, 2, sampleModem ? 200 : -1);
        if (watch->Stopping())
            break;
        if (n < 0 && errno != EINTR)
            break;

        TComEvents events;
        TComErrors errors;
        TComSignals signalsNow;
        watch->TakeReadiness(evs, n, events, errors);
        watch->TakeLineCounters(events, errors);
        if (sampleModem)
            watch->TakeModemLines(events, signalsNow);
        if (events.Contains(evRxChar))
            watch->TakeQueueMark(events);
        if (!errors.IsEmpty())
            events.Include(evError);
        const TComEvents wanted = watch->Wanted(events);
        if (!wanted.IsEmpty())
            HandOver(watch, wanted, errors, signalsNow);
    }
}

void TSerialPort::HandOver(
    const std::shared_ptr<Watch> &watch, TComEvents events, TComErrors errors, TComSignals signalsNow)
{
    switch (watch->sync) {
    case smNone:
        DispatchEvents(watch, events, errors, signalsNow);
        break;
    case smWindowSync:
        QMetaObject::invokeMethod(
            this, [this, watch, events, errors, signalsNow] { DispatchEvents(watch, events, errors, signalsNow); },
            Qt::QueuedConnection);
        break;
    case smThreadSync: {
        {
            std::lock_guard<std::mutex> lock(watch->mutex);
            watch->dispatchDone = false;
        }
        QMetaObject::invokeMethod(
            this,
            [this, watch, events, errors, signalsNow] {
                DispatchEvents(watch, events, errors, signalsNow);
                {
                    std::lock_guard<std::mutex> lock(watch->mutex);
                    watch->dispatchDone = true;
                }
                watch->cv.notify_all();
            },
            Qt::QueuedConnection);
        // Wait for the handlers, but give way at once to a stop: Close() on the owning thread must not
        // wait for a dispatch that the owning thread itself would have to run.
        std::unique_lock<std::mutex> lock(watch->mutex);
        watch->cv.wait(lock, [&] { return watch->dispatchDone || watch->stop; });
        break;
    }
    }
}

void TSerialPort::DispatchEvents(
    const std::shared_ptr<Watch> &watch, TComEvents events, TComErrors errors, TComSignals signalsNow)
{
    // The port may have been closed (or closed and opened again) since this wake-up was posted.
    auto current = [&] { return watch_ == watch && connected_; };
    auto guarded = [&](auto &&handler) {
        if (!current())
            return;
        try {
            handler();
        } catch (const std::exception &e) {
            qWarning("Serial port event handler failed: %s", e.what());
        }
    };
    if (events.Contains(evRxChar))
        guarded([&] { HandleRxChar(); });
    if (events.Contains(evTxEmpty))
        guarded([&] {
            if (OnTxEmpty)
                OnTxEmpty(this);
        });
    if (events.Contains(evRing))
        guarded([&] {
            if (OnRing)
                OnRing(this);
        });
    if (events.Contains(evBreak))
        guarded([&] {
            if (OnBreak)
                OnBreak(this);
        });
    if (events.Contains(evCTS))
        guarded([&] {
            if (OnCTSChange)
                OnCTSChange(this, signalsNow.Contains(csCTS));
        });
    if (events.Contains(evDSR))
        guarded([&] {
            if (OnDSRChange)
                OnDSRChange(this, signalsNow.Contains(csDSR));
        });
    if (events.Contains(evError)) {
        guarded([&] {
            TComErrors mapped = errors;
            // Without parity checking a parity count means nothing.
            if (parity_ == paNone)
                mapped.Exclude(ceRxParity);
            if (!mapped.IsEmpty() && OnError)
                OnError(this, mapped);
        });
    }
    if (events.Contains(evRLSD))
        guarded([&] {
            if (OnRLSDChange)
                OnRLSDChange(this, signalsNow.Contains(csRLSD));
        });
    if (events.Contains(evRx80Full))
        guarded([&] {
            if (OnRx80Full)
                OnRx80Full(this);
        });
}

void TSerialPort::HandleRxChar()
{
    int count = 0;
    try {
        count = InBufCount();
    } catch (const EComPort &) {
        return;
    }
    if (count <= 0)
        return;
    if (dataPacket_.Enabled && dataPacket_.PacketDefined()) {
        std::string bytes;
        ReadStr(bytes, count);
        dataPacket_.AddData(bytes, [this](const std::string &packet) {
            if (OnPacket)
                OnPacket(this, packet);
        });
        return;
    }
    if (OnRxChar)
        OnRxChar(this, count);
}

// ---------------------------------------------------------------------------------------------------------
// Port list

std::string TSerialPort::SimulatorLinkFolder()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && *runtime ? runtime : "/tmp";
    return base + "/kest-sim";
}

bool TSerialPort::IsPresentSerialPort(const TTtyEntry &entry)
{
    return entry.hasDevice && entry.uartType != 0;
}

QStringList TSerialPort::SerialDevices(const QString &ttyListFolder, const QString &devFolder)
{
    QStringList found;
    QDir sys(ttyListFolder);
    // The entries are links to the devices' folders: QDir::System lists them, and Dirs follows them.
    for (const QString &name : sys.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString base = sys.filePath(name);
        TTtyEntry entry;
        entry.name = name;
        entry.hasDevice = QFileInfo::exists(base + QStringLiteral("/device"));
        // Read from sysfs rather than by TIOCGSERIAL: opening a real port to ask would raise its DTR
        // and RTS lines just for listing it.
        QFile type(base + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const int v = QString::fromLatin1(type.read(32)).trimmed().toInt(&ok);
            if (ok)
                entry.uartType = v;
        }
        const QString dev = devFolder + u'/' + name;
        if (IsPresentSerialPort(entry) && QFileInfo::exists(dev))
            found << dev;
    }
    return found;
}

void TSerialPort::EnumComPorts(QStringList &ports)
{
    QStringList found = SerialDevices();
    // Ports announced by the simulated installation: live links only.
    QDir sim(QString::fromStdString(SimulatorLinkFolder()));
    const QFileInfoList links = sim.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo &link : links) {
        if (link.isSymLink() && QFileInfo::exists(link.symLinkTarget()))
            found << link.absoluteFilePath();
    }
    std::sort(found.begin(), found.end(),
        [](const QString &a, const QString &b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
    ports = found;
}
