// The in-process simulator over its pseudo-terminals: pacing, the control language and every
// injectable fault. Timing checks use wide margins; the assertions are about bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <unistd.h>

#include "kestsimulator.h"
#include "simtestutil.h"

using namespace simtest;
using kestsim::ToHex;
using namespace std::chrono;

namespace {
struct Sim {
    kestsim::KestSimulator sim;
    explicit Sim(kestsim::SimOptions o = {}) : sim(Prepare(std::move(o)))
    {
        std::string error;
        started = sim.Start(&error);
        EXPECT_TRUE(started) << error;
    }
    static kestsim::SimOptions Prepare(kestsim::SimOptions o)
    {
        o.announce = false;
        return o;
    }
    bool started = false;
};

Bytes StatusRead()
{
    return Read(0x77, 994, 69);
}
} // namespace

TEST(SimLine, AnswersArePacedAtTheLineRate)
{
    kestsim::SimOptions o;
    o.rate = 9600; // 143 bytes take about 149 ms
    Sim s(o);
    Line line(s.sim.InstallationPath());
    ASSERT_TRUE(line.ok());
    ASSERT_TRUE(line.Send(StatusRead()));
    // Note when the first and the last byte arrive; pacing can only make the spread longer.
    size_t got = 0;
    steady_clock::time_point first{}, last{};
    while (got < 143) {
        const Bytes part = line.Collect(1500, 0, 143 - got);
        if (part.empty())
            break;
        if (got == 0)
            first = steady_clock::now();
        last = steady_clock::now();
        got += part.size();
    }
    EXPECT_EQ(got, 143u);
    EXPECT_GE(duration_cast<milliseconds>(last - first).count(), 120);
}

TEST(SimLine, ControlCommands)
{
    Sim s;
    const struct {
        const char *command;
        const char *answerStart;
    } cases[] = {
        {"state", "ok remote=0"},
        {"type PQ", "ok"},
        {"type XX", "error"},
        {"error Uab 1.5 0.1", "ok"},
        {"error 34 1", "error"},
        {"phase-error B 0.5", "ok"},
        {"analog-error 2 1 0.01", "ok"},
        {"analog-range 5", "error"},
        {"coefs 6000 100 300 5", "ok"},
        {"coefs 6000 0 300 5", "error"},
        {"fault delay:10#2", "ok"},
        {"fault device:babble:6000@0", "ok"},
        {"fault split:3", "error"},
        {"fault crc#2@0x3E2", "ok"},
        {"fault crc#0", "error"},
        {"fault noanswer@1996+3#1", "ok"},
        {"fault unplug+2", "ok"}, // waits for its request instead of acting at once
        {"fault silent:500", "ok"},
        {"fault silent:0", "error"},
        {"fault noanswer+x", "error"},
        {"fault wrongecho:1", "error"},
        {"fault searchwrong", "ok"},
        {"fault installation:searchwrong", "error"},
        {"fault device:remoteoff", "error"},
        {"faults",
            "ok delay:10#2 (2 left) device:babble:6000@0 crc#2@0x3E2 (2 left) noanswer@1996+3#1 (3 to pass, "
            "1 left) unplug+2 (2 to pass) silent:500 (1 left) searchwrong"},
        {"requests device 2", "ok"},
        {"requests modem", "error"},
        {"clear-faults", "ok"},
        {"faults", "ok"},
        {"noise 0.5", "error"},
        {"protocol vq", "ok"},
        {"frobnicate", "error unknown command"},
        // Too few or too many arguments, or one out of its range: the usage of that command.
        {"type", "error usage: type "},
        {"hangup device 1 2", "error usage: hangup "},
        {"coefs 1 2 3", "error usage: coefs "},
        {"coefs 1 2 3 x", "error usage: coefs U1 U2 I1 I2 (positive)"},
        {"last 1 2", "error usage: last "},
        {"requests device 3 4", "error usage: requests "},
        {"analog-error 4 1", "error usage: analog-error "},
        {"", "error"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(s.sim.Command(c.command).rfind(c.answerStart, 0), 0u)
            << c.command << " → " << s.sim.Command(c.command);
    EXPECT_NE(s.sim.Command("state").find("device=PQ"), std::string::npos);
}

TEST(SimLine, RequestFaults)
{
    Sim s;
    Line line(s.sim.InstallationPath());
    ASSERT_TRUE(line.ok());
    const Bytes request = StatusRead();

    // Lost for the next two requests on register 994 only, then answered again.
    ASSERT_EQ(s.sim.Command("fault noanswer@994#2"), "ok");
    EXPECT_TRUE(line.Exchange(request, 300).empty());
    EXPECT_TRUE(ValidAnswer(line.Exchange(Read(0x77, 700, 19))));
    EXPECT_TRUE(line.Exchange(request, 300).empty());
    EXPECT_TRUE(ValidAnswer(line.Exchange(request)));

    ASSERT_EQ(s.sim.Command("fault crc#1"), "ok");
    Bytes a = line.Exchange(request);
    EXPECT_EQ(a.size(), 143u);
    EXPECT_FALSE(ValidAnswer(a));
    a[142] ^= 0x5A;
    EXPECT_TRUE(ValidAnswer(a)); // only the last check byte was touched

    ASSERT_EQ(s.sim.Command("fault exception:4#1"), "ok");
    a = line.Exchange(request);
    EXPECT_EQ(a, Frame({0x77, 0x83, 0x04}));

    ASSERT_EQ(s.sim.Command("fault garbage:7#1"), "ok");
    a = line.Exchange(request);
    ASSERT_EQ(a.size(), 150u);
    EXPECT_TRUE(kestsim::HasValidCrc(a.data(), 143));

    ASSERT_EQ(s.sim.Command("fault babble#1"), "ok");
    a = line.Exchange(request, 1500, 150);
    EXPECT_EQ(a.size(), 5000u);

    // Two bursts 400 ms apart: a master that waits 150 ms of silence sees only the first.
    ASSERT_EQ(s.sim.Command("fault split:10:400#1"), "ok");
    ASSERT_TRUE(line.Send(request));
    const Bytes first = line.Collect(1500, 150);
    const Bytes second = line.Collect(1500, 150);
    EXPECT_EQ(first.size(), 10u);
    EXPECT_EQ(second.size(), 133u);
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_TRUE(ValidAnswer(joined));

    // A delay of 600 ms: nothing within 300 ms, the whole answer afterwards.
    ASSERT_EQ(s.sim.Command("fault delay:600#1"), "ok");
    ASSERT_TRUE(line.Send(request));
    EXPECT_TRUE(line.Collect(300, 50).empty());
    EXPECT_TRUE(ValidAnswer(line.Collect(1500, 100)));

    // Faults of the other line leave this one alone.
    ASSERT_EQ(s.sim.Command("fault device:noanswer"), "ok");
    EXPECT_TRUE(ValidAnswer(line.Exchange(request)));

    // On the transducer's port, per register: the refused address write changes nothing.
    Line dev(s.sim.DevicePath());
    ASSERT_TRUE(dev.ok());
    ASSERT_EQ(s.sim.Command("clear-faults"), "ok");
    ASSERT_EQ(s.sim.Command("fault device:exception:4@0x204#1"), "ok");
    EXPECT_TRUE(ValidAnswer(dev.Exchange(Read(1, 0x210, 1))));
    EXPECT_EQ(dev.Exchange(WriteOne(1, 0x204, 7)), Frame({0x01, 0x86, 0x04}));
    EXPECT_NE(s.sim.Command("memory").find("ok address=1 "), std::string::npos);
    // A transducer that is not there does not answer with an exception either.
    ASSERT_EQ(s.sim.Command("unplug"), "ok");
    ASSERT_EQ(s.sim.Command("fault device:exception:4#1"), "ok");
    EXPECT_TRUE(dev.Exchange(Read(1, 0x210, 1), 300).empty());
}

TEST(SimLine, StateFaults)
{
    Sim s;
    Line line(s.sim.InstallationPath());
    ASSERT_TRUE(line.ok());
    auto statusByte = [&](size_t i) {
        const Bytes a = line.Exchange(StatusRead());
        return a.size() == 143 ? int(a[i]) : -1;
    };
    EXPECT_EQ(statusByte(4) & 1, 0);
    ASSERT_EQ(s.sim.Command("unplug"), "ok");
    EXPECT_EQ(statusByte(4) & 1, 1);
    ASSERT_EQ(s.sim.Command("replug"), "ok");
    EXPECT_EQ(statusByte(4) & 1, 0);
    // Comes back by itself. A second is far more than one exchange takes even on a loaded machine, and the
    // return is waited for, not timed.
    ASSERT_EQ(s.sim.Command("unplug 1000"), "ok");
    EXPECT_EQ(statusByte(4) & 1, 1);
    const auto unplugged = steady_clock::now();
    int plugged = -1;
    while (plugged != 0 && steady_clock::now() - unplugged < milliseconds(10000)) {
        std::this_thread::sleep_for(milliseconds(100));
        plugged = statusByte(4) & 1;
    }
    EXPECT_EQ(plugged, 0);

    ASSERT_EQ(s.sim.Command("amplifier 3"), "ok");
    EXPECT_EQ(statusByte(3), 3);
    EXPECT_EQ(statusByte(4) & 2, 2);
    ASSERT_EQ(s.sim.Command("amplifier 0"), "ok");
    EXPECT_EQ(statusByte(4) & 2, 0);
}

TEST(SimLine, HangUpAndBack)
{
    char dir[] = "/tmp/kest-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string link = std::string(dir) + "/inst";
    kestsim::SimOptions o;
    o.installationLink = link;
    o.logFile = std::string(dir) + "/log";
    {
        Sim s(o);
        const std::string before = s.sim.InstallationPath();
        Line line(link);
        ASSERT_TRUE(line.ok());
        ASSERT_TRUE(ValidAnswer(line.Exchange(StatusRead())));
        ASSERT_EQ(s.sim.Command("hangup installation 400"), "ok");
        // The open line is dead: the client sees the hang-up.
        line.Send(StatusRead());
        line.Collect(300);
        EXPECT_TRUE(line.hungUp());
        std::string after;
        for (int i = 0; i < 40 && (after.empty() || after == before); ++i) {
            std::this_thread::sleep_for(milliseconds(50));
            const std::string state = s.sim.Command("state");
            if (state.find("installation-line=down") == std::string::npos)
                after = s.sim.InstallationPath();
        }
        ASSERT_FALSE(after.empty());
        char target[256] = {};
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(after, target);
        Line again(link);
        ASSERT_TRUE(again.ok());
        EXPECT_TRUE(ValidAnswer(again.Exchange(StatusRead())));
    }
    // Stopped: the link is gone, the log holds both directions with time stamps.
    EXPECT_NE(access(link.c_str(), F_OK), 0);
    FILE *f = fopen(o.logFile.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[8192];
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    const std::string log(buf, n);
    EXPECT_NE(log.find("installation rx 77 03 03 E2 00 45"), std::string::npos);
    EXPECT_NE(log.find("installation tx 77 03 8A"), std::string::npos);
    EXPECT_NE(log.find("hang-up"), std::string::npos);
    std::remove(o.logFile.c_str());
    rmdir(dir);
}

// The faults that strike in the middle of a conversation, request by request: what each request
// gets back, and the fate the "requests" command and the log give it.
TEST(SimLine, FaultsThatStrikeLater)
{
    const Bytes search = Frame({0xFF, 0x77, 0xFF, 0xFF, 0x00, 0x01});
    const Bytes remoteOn = WriteWords(0x77, 0, {1, 1, 1, 0, 1, 1, 1});
    const Bytes relayRead = Read(0x77, 1996, 68);
    const Bytes remoteIsOff = Frame({0x77, 0x03, 0x02, 0x00, 0x00});
    // a: the normal answer (a write's own echo); -: nothing; w: a valid frame like the write's echo but
    // another; s: a search answer; =: exactly `exact`; v / f: a relayed read with / without values.
    struct Step {
        Bytes request;
        char expect;
        Bytes exact = {};
        int sleepBeforeMs = 0;
    };
    const struct Case {
        const char *name;
        const char *fault;
        bool device;
        std::vector<Step> steps;
        const char *fates;
        std::vector<std::string> logOrder; // substrings the log holds in this order
        const char *stateHas = "";
    } cases[] = {
        {"no answer after two status reads, twice", "noanswer@994+2#2", false,
            {{StatusRead(), 'a'}, {Read(0x77, 700, 19), 'a'}, {StatusRead(), 'a'}, {StatusRead(), '-'},
                {StatusRead(), '-'}, {StatusRead(), 'a'}},
            "done done done lost lost done",
            {"installation lost " + ToHex(StatusRead()) + " (noanswer@994+2#2)",
                "installation lost " + ToHex(StatusRead())}},
        {"wrong echo of a single write, not carried out", "wrongecho@0#1", false,
            {{Read(0x77, 0, 1), 'a'}, {WriteOne(0x77, 0, 1), 'w'}, {Read(0x77, 0, 1), '=', remoteIsOff}},
            "done faked done", {"installation faked " + ToHex(WriteOne(0x77, 0, 1)) + " (wrongecho@0#1)"}, "remote=0"},
        {"wrong echo of the remote-control block after one write", "wrongecho@0+1#1", false,
            {{WriteOne(0x77, 0, 0), 'a'}, {remoteOn, 'w'}, {Read(0x77, 0, 1), '=', remoteIsOff}, {remoteOn, 'a'}},
            "done faked done done", {}, "remote=1"},
        {"remote control kept off: every write to 0 echoed as 0 written", "remoteoff", false,
            {{remoteOn, '=', Frame({0x77, 0x06, 0x00, 0x00, 0x00, 0x00})}, {Read(0x77, 0, 1), '=', remoteIsOff},
                {WriteOne(0x77, 0, 1), '=', Frame({0x77, 0x06, 0x00, 0x00, 0x00, 0x00})}, {WriteOne(0x77, 2, 1), 'a'}},
            "faked done faked done", {"installation faked " + ToHex(remoteOn) + " (remoteoff)"}, "remote=0"},
        {"silent window after one status read, then back", "silent:1500@994+1", false,
            {{StatusRead(), 'a'}, {StatusRead(), '-'}, {WriteOne(0x77, 0, 1), '-'},
                {WriteOne(0x77, 2, 1), 'a', {}, 2000}, {StatusRead(), 'a'}, {Read(0x77, 0, 1), '=', remoteIsOff}},
            "done lost lost done done done",
            {"installation silent for 1500 ms",
                "installation lost " + ToHex(WriteOne(0x77, 0, 1)) + " (silent:1500@994+1)",
                "installation answers again", "installation rx " + ToHex(WriteOne(0x77, 2, 1))},
            "range=5A"},
        {"search answered with a read answer, reads untouched", "searchwrong+1#1", true,
            {{Read(1, 0x210, 1), 'a'}, {search, 's'}, {search, '=', Frame({0x01, 0x03, 0x02, 0x00, 0x00})},
                {search, 's'}},
            "done done faked done", {"device faked " + ToHex(search) + " (searchwrong+1#1)"}},
        {"transducer behind the relay gone at the second relayed read", "unplug@1996+1", false,
            {{relayRead, 'v'}, {StatusRead(), 'a'}, {relayRead, 'f'}}, "done done done",
            {"installation rx " + ToHex(relayRead), "installation rx " + ToHex(relayRead), "transducer unplugged"},
            "plugged=0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sim s;
        Line line(c.device ? s.sim.DevicePath() : s.sim.InstallationPath());
        ASSERT_TRUE(line.ok());
        ASSERT_EQ(s.sim.Command(std::string("fault ") + c.fault), "ok");
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step &st = c.steps[i];
            SCOPED_TRACE("step " + std::to_string(i));
            std::this_thread::sleep_for(milliseconds(st.sleepBeforeMs));
            const Bytes a = line.Exchange(st.request, st.expect == '-' ? 300 : 1500);
            Bytes echo(st.request.begin(), st.request.begin() + 6);
            kestsim::AppendCrc(echo);
            const bool relayed = a.size() == 5u + 136u && ValidAnswer(a);
            const bool valuesMissing = relayed && a[7] == 0xFF && a[8] == 0xFF && a[9] == 0xFF && a[10] == 0xFF;
            switch (st.expect) {
            case 'a':
                EXPECT_TRUE(ValidAnswer(a) && a[0] == st.request[0] && a[1] == st.request[1]);
                if (st.request[1] != 0x03) {
                    EXPECT_EQ(a, echo);
                }
                break;
            case '-':
                EXPECT_TRUE(a.empty()) << a.size();
                break;
            case 'w':
                EXPECT_TRUE(ValidAnswer(a));
                EXPECT_EQ(a.size(), 8u);
                EXPECT_NE(a, echo);
                EXPECT_TRUE(a.size() >= 4 && std::equal(a.begin(), a.begin() + 4, st.request.begin()));
                break;
            case 's':
                EXPECT_TRUE(ValidAnswer(a) && a.size() == 7 && a[1] == 0x77);
                break;
            case '=':
                EXPECT_EQ(a, st.exact);
                break;
            case 'v':
                EXPECT_TRUE(relayed && !valuesMissing);
                break;
            case 'f':
                EXPECT_TRUE(valuesMissing);
                break;
            }
        }
        // The fates of this line's requests, oldest first: "N LINE FATE HEX | …".
        const std::string listed = s.sim.Command(
            std::string("requests ") + (c.device ? "device " : "installation ") + std::to_string(c.steps.size()));
        std::string got;
        for (size_t at = 0; (at = listed.find(c.device ? " device " : " installation ", at)) != std::string::npos;) {
            at = listed.find(' ', at + 1) + 1;
            got += (got.empty() ? "" : " ") + listed.substr(at, listed.find(' ', at) - at);
        }
        EXPECT_EQ(got, c.fates) << listed;
        const std::vector<std::string> log = s.sim.Log();
        auto it = log.begin();
        for (const std::string &want : c.logOrder) {
            it = std::find_if(it, log.end(), [&](const std::string &l) { return l.find(want) != std::string::npos; });
            EXPECT_NE(it, log.end()) << "log has no '" << want << "' in order";
            if (it != log.end())
                ++it;
        }
        if (*c.stateHas) {
            EXPECT_NE(s.sim.Command("state").find(c.stateHas), std::string::npos) << c.stateHas;
        }
    }
}
