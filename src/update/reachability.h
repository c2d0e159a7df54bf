#pragma once
// Is the maker's server there at all? An ICMP echo through an unprivileged ICMP datagram socket
// (no raw socket, no privileges); where the system allows no such socket, a TCP connection to the
// server's port stands in for the echo. Every wait is cut into short slices so that the caller can
// abort it at once.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace KestUpdate {

enum class TProbeMethod { Auto, Icmp, Tcp };
enum class TProbeResult { Reply, NoReply, Aborted };

struct TProbeOptions {
    int tries = 3;
    int timeoutMs = 5000; // per try
    TProbeMethod method = TProbeMethod::Auto; // Auto: ICMP, or TCP where ICMP sockets are refused
};

// Returns true when the caller wants the probe to stop.
using TAbortCheck = std::function<bool()>;

// Up to `tries` echoes (or connections) to `host`, one after another, each waiting at most
// `timeoutMs`; stops at the first reply. A host name that cannot be resolved counts as no reply.
// `used` receives the method actually used (Icmp or Tcp).
TProbeResult ProbeHost(const QString &host, int port, const TProbeOptions &options, const TAbortCheck &aborted,
    TProbeMethod *used = nullptr);

// Whether this system lets an unprivileged program open an ICMP datagram socket.
bool IcmpSocketsPermitted(bool ipv6 = false);

// An echo request (type 8, or 128 for ICMPv6) with the given sequence number and payload; the
// identifier is left to the kernel, which sets it per socket.
QByteArray BuildEchoRequest(bool ipv6, std::uint16_t sequence, const QByteArray &payload);

// Whether `data` (an ICMP message as a datagram socket delivers it, without IP header) is the
// echo reply to the request with `sequence`.
bool IsEchoReply(const unsigned char *data, std::size_t size, bool ipv6, std::uint16_t sequence);

} // namespace KestUpdate
