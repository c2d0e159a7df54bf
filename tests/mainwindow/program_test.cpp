// kestmanager as a program: --help, and --demo with the simulator it starts and stops.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include "pty.h"

namespace {

QString Program()
{
    const QByteArray dir = qgetenv("KEST_BINARY_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : QString::fromUtf8(dir))
        + "/src/app/kestmanager";
}

QProcessEnvironment Environment(const QTemporaryDir &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.remove("XDG_DOCUMENTS_DIR");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

} // namespace

TEST(Program, HelpNamesEveryOption)
{
    QProcess p;
    p.start(Program(), {"--help"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    for (const char *option : {"--port1", "--port2", "--trace", "--demo", "--help"})
        EXPECT_TRUE(out.contains(option)) << option;
}

TEST(Program, DemoStartsTheSimulatorAndStopsItOnTerminate)
{
    QTemporaryDir home;
    QProcess p;
    p.setProcessEnvironment(Environment(home));
    p.start(Program(), {"--demo"});
    ASSERT_TRUE(p.waitForStarted(20000));
    // The simulator announces its two ports while it runs.
    const QDir announced(home.path() + "/kest-sim");
    ASSERT_TRUE(PumpUntil(
        [&] {
            return announced.exists()
                && announced.entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot).size() >= 2;
        },
        20000))
        << p.readAllStandardError().toStdString();
    PumpFor(500);
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    // The simulator went with it and took its announcements away.
    EXPECT_TRUE(PumpUntil(
        [&] { return announced.entryList(QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty(); }, 10000));
    // Closing stored the window's position in the settings of this home.
    EXPECT_TRUE(QFile::exists(home.path() + "/Documents/Valtrix/KestManager/Settings.txt"));
}
