#include "update/reachability.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace KestUpdate {

namespace {

constexpr int kSliceMs = 50;

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) { }
    ~TFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::uint16_t Checksum(const QByteArray &bytes)
{
    std::uint32_t sum = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i + 1 < n; i += 2)
        sum += (std::uint32_t(p[i]) << 8) | p[i + 1];
    if (n % 2)
        sum += std::uint32_t(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// The first address of `host`; a null address when it cannot be resolved in time.
QHostAddress Resolve(const QString &host, int timeoutMs, const TAbortCheck &aborted, bool &wasAborted)
{
    wasAborted = false;
    QHostAddress literal;
    if (literal.setAddress(host))
        return literal;

    QHostAddress found;
    bool done = false;
    QEventLoop loop;
    const int id = QHostInfo::lookupHost(host, &loop, [&](const QHostInfo &info) {
        const auto list = info.addresses();
        // Prefer IPv4: the echo and the connection go to what most servers answer on.
        auto v4 = std::find_if(list.begin(), list.end(),
            [](const QHostAddress &a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
        if (v4 != list.end())
            found = *v4;
        else if (!list.isEmpty())
            found = list.first();
        done = true;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (aborted && aborted()) {
            wasAborted = true;
            loop.quit();
        } else if (clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    tick.start(kSliceMs);
    if (!done)
        loop.exec();
    if (!done)
        QHostInfo::abortHostLookup(id);
    return found;
}

bool ToSockaddr(const QHostAddress &address, int port, sockaddr_storage &out, socklen_t &len)
{
    out = {};
    bool ok = false;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *sa = reinterpret_cast<sockaddr_in *>(&out);
        sa->sin_family = AF_INET;
        sa->sin_port = htons(static_cast<std::uint16_t>(port));
        sa->sin_addr.s_addr = htonl(address.toIPv4Address(&ok));
        len = sizeof(sockaddr_in);
        return ok;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *sa = reinterpret_cast<sockaddr_in6 *>(&out);
        sa->sin6_family = AF_INET6;
        sa->sin6_port = htons(static_cast<std::uint16_t>(port));
        const Q_IPV6ADDR a = address.toIPv6Address();
        std::copy(std::begin(a.c), std::end(a.c), sa->sin6_addr.s6_addr);
        sa->sin6_scope_id = address.scopeId().toUInt();
        len = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

// Waits up to `ms` for `events` on `fd` in short slices. 1: ready, 0: time is up, -1: aborted.
int WaitFd(int fd, short events, qint64 ms, const TAbortCheck &aborted, short *revents = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (aborted && aborted())
            return -1;
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return 0;
        pollfd pfd{fd, events, 0};
        const int n = ::poll(&pfd, 1, static_cast<int>(std::min<qint64>(left, kSliceMs)));
        if (n > 0) {
            if (revents)
                *revents = pfd.revents;
            return 1;
        }
        if (n < 0 && errno != EINTR)
            return 0;
    }
}

TProbeResult EchoTries(int fd, const sockaddr_storage &to, socklen_t toLen, bool v6, const TProbeOptions &options,
    const TAbortCheck &aborted)
{
    const QByteArray payload("KestManager update check");
    for (int attempt = 1; attempt <= options.tries; ++attempt) {
        const auto sequence = static_cast<std::uint16_t>(attempt);
        const QByteArray request = BuildEchoRequest(v6, sequence, payload);
        if (::sendto(fd, request.constData(), static_cast<size_t>(request.size()), 0,
                reinterpret_cast<const sockaddr *>(&to), toLen)
            < 0)
            continue;
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const int ready = WaitFd(fd, POLLIN, options.timeoutMs - clock.elapsed(), aborted);
            if (ready < 0)
                return TProbeResult::Aborted;
            if (ready == 0)
                break;
            unsigned char buf[1500];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0 && IsEchoReply(buf, static_cast<std::size_t>(n), v6, sequence))
                return TProbeResult::Reply;
            // An error report or a late reply to an earlier try: keep waiting out this try.
        }
    }
    return TProbeResult::NoReply;
}

TProbeResult ConnectTries(
    const sockaddr_storage &to, socklen_t toLen, const TProbeOptions &options, const TAbortCheck &aborted)
{
    for (int attempt = 1; attempt <= options.tries; ++attempt) {
        if (aborted && aborted())
            return TProbeResult::Aborted;
        TFd fd(::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (fd.get() < 0)
            return TProbeResult::NoReply;
        if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&to), toLen) == 0)
            return TProbeResult::Reply;
        if (errno != EINPROGRESS)
            continue;
        const int ready = WaitFd(fd.get(), POLLOUT, options.timeoutMs, aborted);
        if (ready < 0)
            return TProbeResult::Aborted;
        if (ready == 0)
            continue;
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
            return TProbeResult::Reply;
    }
    return TProbeResult::NoReply;
}

} // namespace

QByteArray BuildEchoRequest(bool ipv6, std::uint16_t sequence, const QByteArray &payload)
{
    QByteArray packet(8, '\0');
    packet[0] = static_cast<char>(ipv6 ? 128 : 8);
    packet[6] = static_cast<char>(sequence >> 8);
    packet[7] = static_cast<char>(sequence & 0xFF);
    packet += payload;
    // ICMPv6 checksums cover a pseudo-header only the kernel knows; it fills them in.
    if (!ipv6) {
        const std::uint16_t sum = Checksum(packet);
        packet[2] = static_cast<char>(sum >> 8);
        packet[3] = static_cast<char>(sum & 0xFF);
    }
    return packet;
}

bool IsEchoReply(const unsigned char *data, std::size_t size, bool ipv6, std::uint16_t sequence)
{
    if (!data || size < 8)
        return false;
    const unsigned char replyType = ipv6 ? 129 : 0;
    return data[0] == replyType && data[1] == 0 && ((std::uint16_t(data[6]) << 8) | data[7]) == sequence;
}

bool IcmpSocketsPermitted(bool ipv6)
{
    TFd fd(
        ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, ipv6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP)));
    return fd.get() >= 0;
}

TProbeResult ProbeHost(
    const QString &host, int port, const TProbeOptions &options, const TAbortCheck &aborted, TProbeMethod *used)
{
    if (used)
        *used = options.method == TProbeMethod::Tcp ? TProbeMethod::Tcp : TProbeMethod::Icmp;
    if (aborted && aborted())
        return TProbeResult::Aborted;
    bool wasAborted = false;
    const QHostAddress address = Resolve(host, options.timeoutMs, aborted, wasAborted);
    if (wasAborted)
        return TProbeResult::Aborted;
    if (address.isNull())
        return TProbeResult::NoReply;
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;

    if (options.method != TProbeMethod::Tcp) {
        TFd fd(::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
            v6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP)));
        if (fd.get() >= 0) {
            sockaddr_storage to;
            socklen_t len = 0;
            if (!ToSockaddr(address, 0, to, len))
                return TProbeResult::NoReply;
            return EchoTries(fd.get(), to, len, v6, options, aborted);
        }
        if (options.method == TProbeMethod::Icmp)
            return TProbeResult::NoReply;
    }
    // No ICMP socket for unprivileged programs here: a connection to the server shows as well
    // that it is there.
    if (used)
        *used = TProbeMethod::Tcp;
    sockaddr_storage to;
    socklen_t len = 0;
    if (port <= 0 || port > 65535 || !ToSockaddr(address, port, to, len))
        return TProbeResult::NoReply;
    return ConnectTries(to, len, options, aborted);
}

} // namespace KestUpdate
