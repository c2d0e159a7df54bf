// kestctl run as a program against the simulated installation in this process.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include "kestsimulator.h"

namespace {

// Beside the test in the build tree: tests/tools/ → tools/kestctl.
QString KestctlPath()
{
    const QByteArray dir = qgetenv("KEST_BINARY_DIR");
    if (!dir.isEmpty())
        return QString::fromUtf8(dir) + "/tools/kestctl";
    return QCoreApplication::applicationDirPath() + "/../../tools/kestctl";
}

struct Result {
    int code = -1;
    QString out;
    QString err;
};

class Kestctl : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        kestsim::SimOptions options;
        options.deviceType = "QX4";
        options.announce = false;
        sim = std::make_unique<kestsim::KestSimulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
    }

    Result Run(QStringList args, int timeoutMs = 30000)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A home of its own: no settings file of the user's is read.
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("XDG_DOCUMENTS_DIR", home.path() + "/Documents");
        env.insert("XDG_RUNTIME_DIR", home.path());
        p.setProcessEnvironment(env);
        p.start(KestctlPath(), args);
        EXPECT_TRUE(p.waitForFinished(timeoutMs));
        Result r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QStringList Port() { return {"--port", QString::fromStdString(sim->InstallationPath())}; }

    QTemporaryDir home;
    std::unique_ptr<kestsim::KestSimulator> sim;
};

// The value printed on the line of a quantity, e.g. "Ua" in " 1 Ua    100 V".
QString ValueOf(const QString &out, const QString &name)
{
    for (const QString &line : out.split('\n')) {
        const QStringList words = line.simplified().split(' ');
        if (words.size() >= 3 && words[1] == name)
            return words[2];
    }
    return {};
}

} // namespace

TEST_F(Kestctl, StatusListsEveryQuantityWithTheDecimalComma)
{
    Result r = Run(Port() << "status");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 36) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("V·A"));
    EXPECT_EQ(ValueOf(r.out, "Ua"), "0"); // remote control off: no output
    EXPECT_TRUE(r.out.contains("Преобразователь: подключён"));
}

TEST_F(Kestctl, SetThenOffRoundTrip)
{
    Result set = Run(Port() << "set"
                            << "--ua"
                            << "100"
                            << "--ia"
                            << "0,5"
                            << "--angle"
                            << "60"
                            << "--freq"
                            << "50"
                            << "--scheme"
                            << "4"
                            << "--range"
                            << "1");
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    EXPECT_EQ(ValueOf(set.out, "Ua"), "100");
    EXPECT_EQ(ValueOf(set.out, "Ia"), "0,5");
    EXPECT_EQ(ValueOf(set.out, "F"), "50");
    // P = U·I·cos 60° per phase.
    EXPECT_EQ(ValueOf(set.out, "Pa"), "25");
    const std::string state = sim->Command("state");
    EXPECT_NE(state.find("remote=1"), std::string::npos) << state;

    Result off = Run(Port() << "off");
    ASSERT_EQ(off.code, 0) << off.err.toStdString();
    const std::string after = sim->Command("state");
    EXPECT_NE(after.find("remote=0"), std::string::npos) << after;
    Result status = Run(Port() << "status");
    EXPECT_EQ(ValueOf(status.out, "Ua"), "0");
}

TEST_F(Kestctl, RawAppendsTheCheckAndPrintsTheAnswer)
{
    Result r = Run(Port() << "raw"
                          << "77 03 07 CE 00 01");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    // The transducer's address register: 77 03 02 00 01 and two check bytes.
    EXPECT_TRUE(r.out.startsWith("77 03 02 00 01 ")) << r.out.toStdString();

    Result bad = Run(Port() << "raw"
                            << "77 0");
    EXPECT_EQ(bad.code, 2);
}

TEST_F(Kestctl, FailuresPrintTheProgramsTextAndExitNonZero)
{
    Result missing = Run({"--port", home.path() + "/no-such-port", "status"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains("Нет ответа")) << missing.err.toStdString();
    EXPECT_TRUE(missing.err.contains("Попытка открыть несуществующий COM-порт"));

    ASSERT_EQ(sim->Command("fault installation:noanswer"), "ok");
    Result silent = Run(Port() << "--timeout"
                               << "100"
                               << "status");
    EXPECT_EQ(silent.code, 1);
    EXPECT_EQ(silent.err.trimmed(), "Нет ответа");
    sim->Command("clear-faults");

    ASSERT_EQ(sim->Command("fault installation:exception:2#4"), "ok");
    Result refused = Run(Port() << "--timeout"
                                << "200"
                                << "status");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err.trimmed(), "Адрес данных, указанный в запросе, недоступен данному устройству.");

    Result usage = Run({"frobnicate"});
    EXPECT_EQ(usage.code, 2);
    Result help = Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains("monitor"));
    EXPECT_TRUE(help.out.contains("[--u-range 0..125|75..125|0..250|0..400|0..500]")) << help.out.toStdString();
}

TEST_F(Kestctl, InfoAndMonitor)
{
    Result info = Run(Port() << "info");
    ASSERT_EQ(info.code, 0) << info.err.toStdString();
    EXPECT_TRUE(info.out.contains("Регистров: 19"));

    // An installation with the older, shorter identity block: the 15-register read follows.
    ASSERT_EQ(sim->Command("old-devinfo on"), "ok");
    Result old = Run(Port() << "--timeout"
                            << "200"
                            << "info");
    ASSERT_EQ(old.code, 0) << old.err.toStdString();
    EXPECT_TRUE(old.out.contains("Регистров: 15")) << old.out.toStdString();

    Result mon = Run(Port() << "monitor"
                            << "--count"
                            << "2"
                            << "--interval"
                            << "0,2");
    ASSERT_EQ(mon.code, 0) << mon.err.toStdString();
    EXPECT_EQ(mon.out.count("26 F"), 2);
}

TEST(KestctlPorts, ListsAnnouncedSimulatorLinks)
{
    QTemporaryDir runtime;
    kestsim::SimOptions options;
    options.announceDir = (runtime.path() + "/kest-sim").toStdString();
    options.installationLink = (runtime.path() + "/inst").toStdString();
    kestsim::KestSimulator sim(options);
    ASSERT_TRUE(sim.Start());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    p.setProcessEnvironment(env);
    p.start(KestctlPath(), {"ports"});
    ASSERT_TRUE(p.waitForFinished(20000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(out.contains(QString::fromStdString(sim.AnnouncedInstallation()))) << out.toStdString();
}
