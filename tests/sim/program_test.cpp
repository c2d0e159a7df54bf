// The kest-sim executable: against mbpoll (an independent Modbus master), its control socket, its
// links and announcements, SIGTERM, and a client that writes garbage and vanishes.

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "simtestutil.h"

using namespace simtest;

namespace {
std::string Run(const std::string &command, int *status = nullptr)
{
    std::string out;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int st = pclose(p);
    if (status)
        *status = st;
    return out;
}

// The value mbpoll prints for register `reg` ("[997]: \t57.735"), or NaN.
double Value(const std::string &out, int reg)
{
    const std::string key = "[" + std::to_string(reg) + "]:";
    const size_t at = out.find(key);
    if (at == std::string::npos)
        return std::nan("");
    return std::strtod(out.c_str() + at + key.size(), nullptr);
}

class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string> &extra = {})
    {
        char tmpl[] = "/tmp/kest-sim-exe-XXXXXX";
        dir = mkdtemp(tmpl);
        inst = dir + "/kest";
        dev = dir + "/qx4";
        control = dir + "/control";
        std::vector<std::string> args{
            KEST_SIM_EXECUTABLE, "--installation", inst, "--device", dev, "--control", control};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
            std::vector<char *> argv;
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        FILE *f = fdopen(out[0], "r");
        char line[512];
        for (int i = 0; i < 2 && fgets(line, sizeof line, f); ++i)
            banner += line;
        fclose(f);
    }
    ~SimProcess()
    {
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        Run("rm -rf " + dir);
    }
    int Terminate()
    {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        reaped = true;
        return status;
    }
    std::string Mbpoll(const std::string &args, const std::string &line)
    {
        return Run("mbpoll -m rtu -b 115200 -P none -0 -1 -o 2 " + args + " " + line);
    }
    std::string Control(const std::string &command)
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", control.c_str());
        std::string answer;
        if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
            const std::string line = command + "\n";
            (void)!write(fd, line.data(), line.size());
            char c;
            while (read(fd, &c, 1) == 1 && c != '\n')
                answer.push_back(c);
        }
        close(fd);
        return answer;
    }
    std::string dir, inst, dev, control, banner;
    pid_t pid = -1;
    bool reaped = false;
};
} // namespace

TEST(SimProgram, MbpollReadsWritesAndExceptions)
{
    SimProcess sim;
    ASSERT_NE(sim.banner.find("installation: /dev/pts/"), std::string::npos) << sim.banner;
    ASSERT_NE(sim.banner.find("device: /dev/pts/"), std::string::npos) << sim.banner;

    // The status block, 69 registers from 994.
    std::string out = sim.Mbpoll("-a 119 -r 994 -c 69 -t 4:hex", sim.inst);
    EXPECT_NE(out.find("[994]:"), std::string::npos) << out;
    EXPECT_NE(out.find("[1062]:"), std::string::npos) << out;
    // The identity block of a QX4: type 1, coefficients 10000/100.
    out = sim.Mbpoll("-a 119 -r 700 -c 19", sim.inst);
    EXPECT_EQ(Value(out, 700), 1) << out;
    out = sim.Mbpoll("-a 119 -r 702 -c 2 -t 4:float -B", sim.inst);
    EXPECT_EQ(Value(out, 702), 10000) << out;
    EXPECT_EQ(Value(out, 704), 100) << out;

    // Remote control, outputs as big-endian floats, then the measured values.
    sim.Mbpoll("-a 119 -r 0", sim.inst + " 1");
    sim.Mbpoll("-a 119 -r 2", sim.inst + " 1");
    sim.Mbpoll("-a 119 -r 4", sim.inst + " 1");
    sim.Mbpoll("-a 119 -r 100 -t 4:float -B", sim.inst + " 100 110 120");
    sim.Mbpoll("-a 119 -r 124 -t 4:float -B", sim.inst + " 2 3 4");
    sim.Mbpoll("-a 119 -r 140", sim.inst + " 60");
    out = sim.Mbpoll("-a 119 -r 997 -c 33 -t 4:float -B", sim.inst);
    EXPECT_NEAR(Value(out, 997), 100, 1e-3) << out;
    EXPECT_NEAR(Value(out, 1001), 120, 1e-3) << out;
    EXPECT_NEAR(Value(out, 1003), 2, 1e-4) << out;
    EXPECT_NEAR(Value(out, 1015), 100 * 2 * 0.5, 1e-2) << out; // Pa = U·I·cos 60°
    EXPECT_NEAR(Value(out, 1039), (200 + 330 + 480) * 0.5, 1e-2) << out; // P
    EXPECT_NEAR(Value(out, 1047), 50, 1e-3) << out; // F

    out = sim.Mbpoll("-a 119 -r 300 -c 1", sim.inst);
    EXPECT_NE(out.find("Illegal data address"), std::string::npos) << out;
    out = sim.Mbpoll("-a 1 -r 0x0300 -c 1", sim.dev);
    EXPECT_NE(out.find("Illegal data address"), std::string::npos) << out;

    // The transducer's own port: the measured block in primary units (Ua × 100).
    out = sim.Mbpoll("-a 1 -r 0 -c 31 -t 4:float -B", sim.dev);
    EXPECT_NEAR(Value(out, 0), 10000, 0.1) << out;

    // mbpoll has no vendor functions: the search frame goes out by hand.
    Line line(sim.dev);
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(
        line.Exchange(Bytes{0xFF, 0x77, 0xFF, 0xFF, 0x00, 0x01, 0x21, 0xFB}), Frame({0x01, 0x77, 0x02, 0x00, 0x01}));
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(SimProgram, ControlSocketAndStartupCommands)
{
    SimProcess sim({"--device-type", "U", "--command", "error Ua 1", "--fault", "amplifier:2", "--seed", "3"});
    ASSERT_FALSE(sim.banner.empty());
    EXPECT_NE(sim.Control("state").find("device=U"), std::string::npos);
    EXPECT_NE(sim.Control("state").find("amplifier-failure=2"), std::string::npos);
    EXPECT_EQ(sim.Control("type I"), "ok");
    EXPECT_NE(sim.Control("state").find("device=I"), std::string::npos);
    EXPECT_EQ(sim.Control("bogus").rfind("error", 0), 0u);
    sim.Mbpoll("-a 119 -r 994 -c 1", sim.inst);
    EXPECT_NE(sim.Control("last 2").find("installation tx 77 03 02 02 02"), std::string::npos);
    EXPECT_EQ(sim.Terminate(), 0);

    SimProcess refused({"--fault", "nonsense"});
    EXPECT_TRUE(refused.banner.empty());
    int status = refused.Terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

TEST(SimProgram, GarbageClientAndSigterm)
{
    SimProcess sim;
    ASSERT_FALSE(sim.banner.empty());
    const std::string announced = sim.dir + "/kest-sim/kest";
    char target[512] = {};
    ASSERT_GT(readlink(announced.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.inst);

    // Clients that write rubbish (or half a request) and disappear.
    for (int round = 0; round < 3; ++round) {
        Line rude(sim.inst);
        ASSERT_TRUE(rude.ok());
        Bytes junk(round == 2 ? 5 : 700);
        for (size_t i = 0; i < junk.size(); ++i)
            junk[i] = uint8_t(i * 37 + round);
        if (round == 2)
            junk = {0x77, 0x03, 0x03, 0xE2, 0x00};
        ASSERT_EQ(write(rude.fd(), junk.data(), junk.size()), ssize_t(junk.size()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string out = sim.Mbpoll("-a 119 -r 994 -c 69", sim.inst);
    EXPECT_NE(out.find("[1062]:"), std::string::npos) << out;

    const int status = sim.Terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(access(sim.inst.c_str(), F_OK), 0);
    EXPECT_NE(access(sim.dev.c_str(), F_OK), 0);
    EXPECT_NE(access(sim.control.c_str(), F_OK), 0);
    struct stat st;
    EXPECT_NE(lstat(announced.c_str(), &st), 0);
}
