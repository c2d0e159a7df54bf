// The reachability probe: echo packets, the ICMP echo where the system permits it, the TCP stand-in
// where it does not, and aborting.

#include "update/reachability.h"

#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QTcpServer>

#include <gtest/gtest.h>

using namespace KestUpdate;

namespace {

std::uint16_t Sum(const QByteArray &bytes)
{
    std::uint32_t sum = 0;
    for (qsizetype i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t hi = static_cast<unsigned char>(bytes[i]);
        const std::uint32_t lo = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        sum += (hi << 8) | lo;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

TEST(Reachability, EchoRequestsAndReplies)
{
    for (const QByteArray &payload : {QByteArray("odd"), QByteArray("even"), QByteArray()}) {
        const QByteArray v4 = BuildEchoRequest(false, 0x0102, payload);
        ASSERT_EQ(v4.size(), 8 + payload.size());
        EXPECT_EQ(static_cast<unsigned char>(v4[0]), 8);
        EXPECT_EQ(v4[1], 0);
        EXPECT_EQ(v4[6], 1);
        EXPECT_EQ(v4[7], 2);
        EXPECT_EQ(v4.mid(8), payload);
        // A correct internet checksum makes the one's-complement sum of the packet all ones.
        EXPECT_EQ(Sum(v4), 0xFFFF) << payload.constData();
    }
    const QByteArray v6 = BuildEchoRequest(true, 3, "x");
    EXPECT_EQ(static_cast<unsigned char>(v6[0]), 128);

    struct Case {
        std::vector<unsigned char> data;
        bool ipv6;
        std::uint16_t sequence;
        bool reply;
    };
    const Case cases[] = {
        {{0, 0, 0x12, 0x34, 0, 9, 0, 2}, false, 2, true},
        {{0, 0, 0x12, 0x34, 0, 9, 0, 2, 'p'}, false, 2, true},
        {{0, 0, 0x12, 0x34, 0, 9, 0, 2}, false, 3, false}, // a late reply to another try
        {{0, 0, 0x12, 0x34, 0, 9, 1, 2}, false, 2, false},
        {{8, 0, 0x12, 0x34, 0, 9, 0, 2}, false, 2, false}, // a request, not a reply
        {{3, 1, 0x12, 0x34, 0, 9, 0, 2}, false, 2, false}, // host unreachable
        {{0, 1, 0x12, 0x34, 0, 9, 0, 2}, false, 2, false},
        {{0, 0, 0x12, 0x34, 0, 9, 0}, false, 2, false}, // too short
        {{129, 0, 0, 0, 0, 9, 0, 2}, true, 2, true},
        {{0, 0, 0, 0, 0, 9, 0, 2}, true, 2, false},
        {{129, 0, 0, 0, 0, 9, 0, 2}, false, 2, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IsEchoReply(c.data.data(), c.data.size(), c.ipv6, c.sequence), c.reply);
    EXPECT_FALSE(IsEchoReply(nullptr, 8, false, 0));
}

TEST(Reachability, ListeningLoopbackServerAnswers)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    for (TProbeMethod method : {TProbeMethod::Auto, TProbeMethod::Tcp}) {
        TProbeOptions options;
        options.method = method;
        TProbeMethod used = TProbeMethod::Auto;
        EXPECT_EQ(ProbeHost("127.0.0.1", server.serverPort(), options, {}, &used), TProbeResult::Reply);
        const TProbeMethod expected
            = method == TProbeMethod::Tcp || !IcmpSocketsPermitted() ? TProbeMethod::Tcp : TProbeMethod::Icmp;
        EXPECT_EQ(used, expected);
    }
}

TEST(Reachability, HostNamesAreResolved)
{
    // "localhost" comes from the hosts file: no query leaves the machine.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    TProbeOptions options;
    options.method = TProbeMethod::Tcp;
    EXPECT_EQ(ProbeHost("localhost", server.serverPort(), options, {}), TProbeResult::Reply);
}

TEST(Reachability, NobodyListening)
{
    const quint16 port = ClosedLoopbackPort();
    // The TCP stand-in gets no connection; three refusals end the probe without waiting out the
    // time-out.
    TProbeOptions options;
    options.method = TProbeMethod::Tcp;
    EXPECT_EQ(ProbeHost("127.0.0.1", port, options, {}), TProbeResult::NoReply);
    // A port of 0 cannot be connected to at all.
    EXPECT_EQ(ProbeHost("127.0.0.1", 0, options, {}), TProbeResult::NoReply);
    // Nothing to resolve, nothing to probe.
    EXPECT_EQ(ProbeHost("", port, options, {}), TProbeResult::NoReply);

    // With Auto the loopback host answers an echo where the system allows one; otherwise the
    // stand-in finds nobody.
    TProbeMethod used = TProbeMethod::Auto;
    const TProbeResult automatic = ProbeHost("127.0.0.1", port, {}, {}, &used);
    if (IcmpSocketsPermitted()) {
        EXPECT_EQ(used, TProbeMethod::Icmp);
        EXPECT_EQ(automatic, TProbeResult::Reply);
    } else {
        EXPECT_EQ(used, TProbeMethod::Tcp);
        EXPECT_EQ(automatic, TProbeResult::NoReply);
    }
}

TEST(Reachability, IcmpOnly)
{
    TProbeOptions options;
    options.method = TProbeMethod::Icmp;
    options.tries = 1;
    const TProbeResult result = ProbeHost("127.0.0.1", 1, options, {});
    if (!IcmpSocketsPermitted()) {
        // No socket, no echo; and no fallback when ICMP is asked for explicitly.
        EXPECT_EQ(result, TProbeResult::NoReply);
        GTEST_SKIP() << "unprivileged ICMP sockets are not permitted here (net.ipv4.ping_group_range); "
                        "the echo itself was not exercised";
    }
    EXPECT_EQ(result, TProbeResult::Reply);
}

TEST(Reachability, UnansweredConnectionsTimeOutOrAbort)
{
    TBlackHolePort hole;
    if (!hole.Ok())
        GTEST_SKIP() << "this system completes connections beyond a full listen queue";
    TProbeOptions options;
    options.method = TProbeMethod::Tcp;
    options.tries = 2;
    options.timeoutMs = 300;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ProbeHost("127.0.0.1", hole.Port(), options, {}), TProbeResult::NoReply);
    // Both tries were waited out (no early give-up).
    EXPECT_GE(clock.elapsed(), 2 * 300 - 20);

    // A stop request ends the wait long before the try's time-out.
    options.tries = 3;
    options.timeoutMs = 60000;
    clock.restart();
    EXPECT_EQ(
        ProbeHost("127.0.0.1", hole.Port(), options, [&] { return clock.elapsed() > 200; }), TProbeResult::Aborted);
    EXPECT_LT(clock.elapsed(), 20000);
}

} // namespace
