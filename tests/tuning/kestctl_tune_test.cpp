// kestctl tune as a program against kest-sim in this process, settling times shortened.
#include "tuningtestutil.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <csignal>

#include "journal/journal.h"
#include "procsignals.h"

using namespace tuningtest;

namespace {

class KestctlTune : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        kestsim::SimOptions o;
        o.announce = false;
        o.turnaroundMs = 1;
        sim = std::make_unique<kestsim::KestSimulator>(o);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
    }
    void Start(QProcess &p, const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("XDG_DATA_HOME", home.path() + "/.local/share");
        env.insert("XDG_DOCUMENTS_DIR", home.path() + "/Documents");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("KEST_WAIT_SCALE", "0.01");
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("KEST_BINARY_DIR") + "/tools/kestctl", QStringList{"tune"} + args);
        ASSERT_TRUE(p.waitForStarted());
    }
    int Run(const QStringList &args, QString *out = nullptr, QString *err = nullptr)
    {
        QProcess p;
        Start(p, args);
        EXPECT_TRUE(p.waitForFinished(180000));
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput());
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QStringList Ports() const
    {
        return {"--port1", QString::fromStdString(sim->InstallationPath()), "--port2",
            QString::fromStdString(sim->DevicePath())};
    }

    QTemporaryDir home;
    std::unique_ptr<kestsim::KestSimulator> sim;
};

} // namespace

// The whole procedure: the address found, the log lines printed as they come and written to the log
// file, the final interface settings in the transducer, exit 0 with the outputs off; a failing run
// exits 1 with its outputs off as well.
TEST_F(KestctlTune, TunesAndFails)
{
    ASSERT_EQ(sim->Command("phase-error B 1.5"), "ok");
    const QString logFile = home.path() + "/tune.log";
    QString out;
    EXPECT_EQ(Run(Ports() << "--new-address"
                          << "4"
                          << "--rs1"
                          << "19200"
                          << "--scheme"
                          << "3"
                          << "--log" << logFile,
                  &out),
        0)
        << out.toStdString();
    QStringList lines = out.trimmed().split('\n');
    ASSERT_GE(lines.size(), 10);
    EXPECT_EQ(lines.first(), "Сетевой адрес: 1");
    EXPECT_EQ(lines.last(), "Готово.");
    QFile file(logFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).trimmed().split('\n'), lines.mid(1));
    const auto memory = Fields(sim->Command("memory"));
    EXPECT_EQ(memory.at("address"), 4);
    EXPECT_EQ(memory.at("rs1"), 4);
    EXPECT_EQ(memory.at("scheme"), 0);
    EXPECT_TRUE(OutputsZero(*sim));

    ASSERT_EQ(sim->Command("phase-error A 6.5"), "ok");
    EXPECT_EQ(Run(Ports() << "--address"
                          << "4",
                  &out),
        1);
    EXPECT_TRUE(out.contains("Настройка невозможна на фазе \u0410 \n")) << out.toStdString();
    EXPECT_FALSE(out.contains("Готово."));
    EXPECT_TRUE(OutputsZero(*sim));
}

// The window's interface settings from the command line (RS 2, its configuration, the scheme), and
// "--read-settings": a later run keeps what the transducer has instead of writing the window's defaults
// (9600, four-wire) over it; an explicit option still wins over what was read.
TEST_F(KestctlTune, InterfaceSettingsAndReadingThemFirst)
{
    QString out, err;
    ASSERT_EQ(Run(Ports() << "--new-address"
                          << "4"
                          << "--rs1"
                          << "19200"
                          << "--rs2"
                          << "38400"
                          << "--rs2-config"
                          << "mb"
                          << "--scheme"
                          << "3",
                  &out, &err),
        0)
        << err.toStdString();
    auto memory = Fields(sim->Command("memory"));
    const std::map<std::string, double> written{{"rs1", 4}, {"rs2", 5}, {"rs2-config", 1}, {"scheme", 0}};
    for (const auto &[field, value] : written)
        EXPECT_EQ(memory.at(field), value) << field;

    ASSERT_EQ(Run(Ports() << "--read-settings", &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral(
        "Настройки: схема 3-х, RS 1 19200, RS 2 38400 (MB / IEC / CRC_RB) не записывается, выходы Ua, Ub, Uc\n")))
        << out.toStdString();
    memory = Fields(sim->Command("memory"));
    for (const auto &[field, value] : written)
        EXPECT_EQ(memory.at(field), value) << field;

    ASSERT_EQ(Run(Ports() << "--read-settings"
                          << "--scheme"
                          << "4",
                  &out, &err),
        0)
        << err.toStdString();
    memory = Fields(sim->Command("memory"));
    EXPECT_EQ(memory.at("scheme"), 1);
    EXPECT_EQ(memory.at("rs1"), 4);
    EXPECT_TRUE(OutputsZero(*sim));
}

// Every way a kestctl tune process can end leaves the installation off: SIGTERM mid-run stops it as "Стоп"
// does (exit 1, the zero output and the release confirmed first); SIGINT as it starts ends it before
// anything is sent; killed outright, the next run sends the switch-off before anything else.
TEST_F(KestctlTune, SignalsAndKillLeaveTheOutputsOff)
{
    enum class End { SigtermMidRun, SigintAtOnce, Killed };
    for (const End end : {End::SigtermMidRun, End::SigintAtOnce, End::Killed}) {
        SCOPED_TRACE(int(end));
        const size_t from = RequestCount(*sim);
        QProcess p;
        Start(p, Ports());
        QString out;
        if (end == End::SigintAtOnce) {
            ASSERT_TRUE(WaitUntilCatching(p.processId(), SIGINT));
            ::kill(pid_t(p.processId()), SIGINT);
        } else {
            ASSERT_TRUE(PumpUntil(
                [&] {
                    p.waitForReadyRead(20);
                    out += QString::fromUtf8(p.readAllStandardOutput());
                    return out.contains("Настройка угла по фазе");
                },
                120000));
            EXPECT_FALSE(OutputsZero(*sim));
            if (end == End::Killed)
                p.kill();
            else
                p.terminate();
        }
        ASSERT_TRUE(p.waitForFinished(30000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (end == End::Killed) {
            EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
            EXPECT_FALSE(OutputsZero(*sim));
            // The next run: the switch-off owed first, then the configuration as usual.
            const size_t again = RequestCount(*sim);
            QString next;
            EXPECT_EQ(Run(Ports() << "--address"
                                  << "1",
                          &next),
                0)
                << next.toStdString();
            const std::string frames = Requests(*sim, again);
            EXPECT_EQ(frames.rfind("K:U K:F K:ang K:I K:6@0 K:cfg ", 0), 0u) << frames;
        } else {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), 1);
            // As it starts the signal may find the search or the run's first frames: either way it is said.
            if (end == End::SigtermMidRun)
                EXPECT_TRUE(err.contains("Остановлено.")) << err.toStdString();
            else
                EXPECT_TRUE(err.contains("до начала") || err.contains("Остановлено.")) << err.toStdString();
        }
        if (end == End::SigtermMidRun) {
            const std::string frames = Requests(*sim, from);
            EXPECT_TRUE(EndsWithZeroOutput(frames)) << frames;
        }
        EXPECT_TRUE(OutputsZero(*sim));
        EXPECT_EQ(Fields(sim->Command("state")).at("remote"), 0);
    }
}

TEST_F(KestctlTune, WrongCommandLinesExitTwo)
{
    const QStringList rows[] = {
        {},
        {"--port1", "/dev/null"},
        Ports() << "--voltage"
                << "220",
        Ports() << "--current"
                << "3",
        Ports() << "--scheme"
                << "5",
        Ports() << "--new-address"
                << "300",
        Ports() << "--analog"
                << "0..5",
        Ports() << "--rs1"
                << "300",
        Ports() << "--rs2"
                << "300",
        Ports() << "--rs2-config"
                << "rtu",
        Ports() << "--outputs"
                << "Ua,Ub",
        Ports() << "--outputs"
                << "Ua,Ub,Xx",
        Ports() << "--bogus"
                << "1",
        Ports() << "--log",
    };
    for (const QStringList &args : rows)
        EXPECT_EQ(Run(args), 2) << args.join(' ').toStdString();
    EXPECT_EQ(RequestCount(*sim), 0u);
}

// A run goes into the journal the settings file names, as a run of the window would, unless
// "--no-journal"; a journal that cannot be written is told on the error stream, a line a message,
// and leaves the exit code as it was.
TEST_F(KestctlTune, JournalsItsRuns)
{
    auto journalled = [&] {
        TJournal journal(TJournalOptions::Local(home.path() + "/.local/share/Valtrix/KestManager"));
        journal.Open();
        std::vector<TJournalTuningRun> out;
        for (const TJournalRunSummary &s : journal.ListRuns())
            out.push_back(journal.LoadTuning(s.id).value_or(TJournalTuningRun()));
        return out;
    };
    const QStringList args = Ports() + QStringList{"--address", "1"};
    QString out, err;
    EXPECT_EQ(Run(args + QStringList{"--no-journal"}), 0);
    EXPECT_TRUE(journalled().empty());
    ASSERT_EQ(Run(args, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(err, "");
    const std::vector<TJournalTuningRun> runs = journalled();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].end && runs[0].end->outcome == TJournalOutcome::Finished);
    EXPECT_TRUE(runs[0].asFound && runs[0].asLeft);
    QStringList lines;
    for (const TJournalLogLine &l : runs[0].lines)
        lines << l.text;
    EXPECT_EQ(lines, out.trimmed().split('\n'));

    QFile blocker(home.path() + "/blocked"); // a file where the journal's folder would be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    TConfigController settings(home.path() + "/Documents", "/Valtrix", "/KestManager", "/Settings.txt");
    TJournalConfig(&settings).WriteFile(home.path() + "/blocked/journal.sqlite");
    EXPECT_EQ(Run(args, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.endsWith("Готово.\n"));
    const QStringList told = err.trimmed().split('\n');
    EXPECT_FALSE(err.isEmpty());
    for (const QString &line : told)
        EXPECT_TRUE(line.startsWith("kestctl tune: ")) << line.toStdString();
    EXPECT_EQ(QSet<QString>(told.begin(), told.end()).size(), told.size()) << err.toStdString();
}
