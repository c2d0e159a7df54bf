// The one switch-off over a real engine and a scripted installation on a pseudo-terminal: what is in
// flight is let end first, frames go one at a time, only the echo of a frame confirms it, silence is
// re-sent, and the result names the first frame that failed.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>

#include <map>
#include <optional>

#include "protocol/modbuscommands.h"
#include "protocol/switchoff.h"
#include "pty.h"
#include "scripteddevice.h"
#include "transport/deviceinterface.h"

namespace {

Bytes Echo(const Bytes &request)
{
    return WithCrc(Bytes(request.begin(), request.begin() + 6));
}

// How the installation treats the k-th arrival of one switch-off frame.
enum class Act { Echo, Silent, WrongEcho, Exception };

struct Case {
    const char *name;
    std::map<int, std::vector<Act>> perFrame; // frame index → act per arrival (then Echo)
    bool readInFlight; // a status read is under way when the switch-off begins
    bool readAnswered; // ... and is answered (else silent through its re-sends)
    std::vector<int> expectedOrder; // frame indices as they reach the installation (-1: the read)
    bool confirmed;
    int failedFrame;
    const char *reasonPart;
};

TEST(SwitchOff, EveryFrameConfirmedByItsOwnEchoInOrderAfterWhatWasInFlight)
{
    const std::vector<Case> cases = {
        {"all echoed", {}, false, false, {0, 1, 2}, true, -1, ""},
        {"answered read in flight", {}, true, true, {-1, 0, 1, 2}, true, -1, ""},
        {"failing read in flight", {}, true, false, {-1, -1, -1, -1, 0, 1, 2}, true, -1, ""},
        {"silence re-sent", {{1, {Act::Silent}}}, false, false, {0, 1, 1, 2}, true, -1, ""},
        {"wrong echo named, rest still sent", {{0, {Act::WrongEcho}}}, false, false, {0, 1, 2}, false, 0, "вместо"},
        {"exception after re-sends", {{2, {Act::Exception, Act::Exception, Act::Exception, Act::Exception}}}, false,
            false, {0, 1, 2, 2, 2, 2}, false, 2, "функции"},
        {"silent installation stops the sequence", {{1, {Act::Silent, Act::Silent, Act::Silent, Act::Silent}}}, false,
            false, {0, 1, 1, 1, 1}, false, 1, "Нет ответа"},
    };
    TKestCmdManager cmd;
    TKestConfiguration configuration;
    configuration.AmperageMax = 5;
    const std::vector<TSwitchOffFrame> frames = TSwitchOffSequence::Run(cmd, configuration, false);
    ASSERT_EQ(frames.size(), 3u);
    const TFramePtr read = TModbusCommands::CreateCmdRead(0x03E2, 2, 0x77);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestPty pty;
        ASSERT_TRUE(pty.Ok());
        ScriptedDevice device(pty);
        std::map<int, int> arrivals;
        int readArrivals = 0;
        device.SetResponder([&](const Bytes &request) -> Reply {
            if (request == FrameBytes(*read)) {
                ++readArrivals;
                if (!c.readAnswered)
                    return {};
                return {{100, WithCrc({0x77, 0x03, 0x04, 0x42, 0xC8, 0x00, 0x00})}};
            }
            for (size_t i = 0; i < frames.size(); ++i) {
                if (request != FrameBytes(*frames[i].frame))
                    continue;
                const int k = arrivals[int(i)]++;
                const auto acts = c.perFrame.find(int(i));
                const Act act
                    = acts != c.perFrame.end() && k < int(acts->second.size()) ? acts->second[size_t(k)] : Act::Echo;
                Bytes wrong = Echo(request);
                switch (act) {
                case Act::Echo:
                    return {{0, Echo(request)}};
                case Act::Silent:
                    return {};
                case Act::WrongEcho:
                    wrong = Bytes(request.begin(), request.begin() + 6);
                    wrong[5] ^= 0x01;
                    return {{0, WithCrc(wrong)}};
                case Act::Exception:
                    return {{0, WithCrc({request[0], uint8_t(request[1] | 0x80), 0x01})}};
                }
            }
            return {};
        });

        TCallBackObject callback;
        int ownerAnswers = 0, ownerErrors = 0;
        callback.Callback = [&](const TFramePtr &) { ++ownerAnswers; };
        callback.ShowError = [&](const std::exception &) { ++ownerErrors; };
        TDeviceInterface engine(nullptr, &callback);
        engine.SetResponseTimeOut(600); // generous: the suite runs two tests at once under the sanitizers
        engine.SetPort(pty.SlavePath());
        engine.SetRate("115200");
        engine.OpenPort();
        TSwitchOff off(engine, callback);
        if (c.readInFlight) {
            engine.AddCmd(read);
            engine.AddCmd(read); // queued behind: must give way to the switch-off
            engine.SendNextCmd();
        }
        const TSwitchOffResult r = off.Run(frames, 15000);

        // What reached the installation, in order.
        std::vector<int> order;
        for (const Bytes &request : device.Requests()) {
            int index = request == FrameBytes(*read) ? -1 : -2;
            for (size_t i = 0; i < frames.size(); ++i)
                if (request == FrameBytes(*frames[i].frame))
                    index = int(i);
            order.push_back(index);
        }
        EXPECT_EQ(order, c.expectedOrder);
        EXPECT_EQ(r.confirmed, c.confirmed) << r.Text().toStdString();
        EXPECT_EQ(r.failedFrame, c.failedFrame);
        EXPECT_TRUE(r.reason.contains(QString::fromUtf8(c.reasonPart))) << r.reason.toStdString();
        if (!c.confirmed)
            EXPECT_TRUE(r.Text().contains(frames[size_t(c.failedFrame)].caption)) << r.Text().toStdString();
        // The owner saw nothing of the switch-off, and has its handlers back for what follows.
        EXPECT_EQ(ownerAnswers + ownerErrors, 0);
        EXPECT_FALSE(off.IsActive());
        engine.AddCmd(frames[0].frame);
        engine.SendNextCmd();
        QElapsedTimer t;
        t.start();
        while (ownerAnswers + ownerErrors == 0 && t.elapsed() < 5000)
            PumpFor(20);
        EXPECT_EQ(ownerAnswers + ownerErrors, 1);
        engine.ClosePort();
    }
}

TEST(SwitchOff, ClosedPortAndTimeLimitAreReportedNotConfirmed)
{
    TKestCmdManager cmd;
    TCallBackObject callback;
    TDeviceInterface engine(nullptr, &callback);
    TSwitchOff off(engine, callback);
    const TSwitchOffResult closed = off.Run(TSwitchOffSequence::Disconnect(cmd), 1000);
    EXPECT_FALSE(closed.confirmed);
    EXPECT_EQ(closed.reason, TSwitchOff::kPortClosed);

    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    ScriptedDevice silent(pty);
    engine.SetResponseTimeOut(2000);
    engine.SetPort(pty.SlavePath());
    engine.SetRate("115200");
    engine.OpenPort();
    const TSwitchOffResult late = off.Run(TSwitchOffSequence::Disconnect(cmd), 300);
    EXPECT_FALSE(late.confirmed);
    EXPECT_EQ(late.failedFrame, 0);
    EXPECT_TRUE(late.reason.contains(QStringLiteral("300"))) << late.reason.toStdString();
    EXPECT_FALSE(off.IsActive());
    engine.ClosePort();
}

TEST(OutputsLedger, KeptOnDiskAcrossProgramsPerPort)
{
    const QString folder
        = QDir::temp().filePath(QStringLiteral("kest-ledger-%1").arg(QCoreApplication::applicationPid()));
    QDir(folder).removeRecursively();
    TOutputsLedger::SetFolder(folder);
    TOutputsLedger::MarkOn(QStringLiteral("/dev/ttyUSB0"));
    TOutputsLedger::MarkOn(QStringLiteral("/tmp/kest-sim/installation"));
    EXPECT_TRUE(TOutputsLedger::IsOn(QStringLiteral("/dev/ttyUSB0")));
    EXPECT_FALSE(TOutputsLedger::IsOn(QStringLiteral("/dev/ttyUSB1")));
    // Another program finds the same entries by the folder alone.
    TOutputsLedger::SetFolder(QString());
    EXPECT_FALSE(TOutputsLedger::IsOn(QStringLiteral("/dev/ttyUSB1")));
    TOutputsLedger::SetFolder(folder);
    EXPECT_EQ(TOutputsLedger::Ports(),
        (QStringList{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/tmp/kest-sim/installation")}));
    TOutputsLedger::MarkOff(QStringLiteral("/dev/ttyUSB0"));
    EXPECT_FALSE(TOutputsLedger::IsOn(QStringLiteral("/dev/ttyUSB0")));
    EXPECT_TRUE(TOutputsLedger::IsOn(QStringLiteral("/tmp/kest-sim/installation")));
    TOutputsLedger::SetFolder(QString());
    QDir(folder).removeRecursively();
}

} // namespace
