// The main window connected to the simulated installation (kest-sim as a separate process) and polling it
// every 2 s: CPU time of the program over the run as a share of one core, the polls it sent (counted in the
// frame trace) against the poll timer, and resident memory at the start and at the end. Prints its
// figures; asserts nothing.
//
//   mainwindow_bench [--seconds N] [--vector-diagram]   (default 300 s; the diagram open and redrawn at every poll)
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/resource.h>

#include <QComboBox>
#include <QPushButton>

#include "mainwindow/form1.h"
#include "protocol/kestparametercontroller.h"
#include "transport/frametrace.h"

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long RssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = 300;
    bool diagram = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--vector-diagram") == 0)
            diagram = true;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    setenv("HOME", home.path().toUtf8().constData(), 1);
    setenv("XDG_RUNTIME_DIR", home.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);

    QProcess sim;
    const QString simPath = QCoreApplication::applicationDirPath() + "/../sim/kest-sim";
    sim.start(
        simPath, {"--device-type", "QX4", "--installation", home.path() + "/inst", "--device", home.path() + "/dev"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "kest-sim did not start (%s)\n", qPrintable(simPath));
        return 1;
    }
    QString installation;
    for (const QByteArray &line : sim.readAllStandardOutput().split('\n'))
        if (line.startsWith("installation: "))
            installation = QString::fromUtf8(line.mid(14)).trimmed();

    TForm1::TOptions options;
    options.port1 = installation;
    options.checkForUpdates = false;
    TForm1 window(options);
    window.show();
    window.ConfigurationList()->setCurrentIndex(TMainLogic::kConfigurations.indexOf("QX4"));
    window.ConnectButton()->click();
    QElapsedTimer wait;
    wait.start();
    while (!window.Logic().DevInfo() && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!window.Logic().DevInfo()) {
        std::fprintf(stderr, "the window did not connect and identify the transducer\n");
        return 1;
    }
    if (diagram)
        window.OpenVectorDiagram();
    TKestParameterController::WaitBeforeGettingOutput(4000); // settle: first polls, caches, fonts

    // The status reads the window writes are counted in the frame trace: the polls really sent, whatever
    // the timer asked for.
    const std::string tracePath = (home.path() + "/trace.txt").toStdString();
    const bool traced = TFrameTrace::Instance().Open(tracePath);
    const long rssStart = RssKiB();
    const double cpuStart = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    TKestParameterController::WaitBeforeGettingOutput(seconds * 1000);
    const double wall = clock.elapsed() / 1000.0;
    const double cpu = CpuSeconds() - cpuStart;
    const long rssEnd = RssKiB();
    TFrameTrace::Instance().Close();
    long polls = 0;
    {
        std::ifstream trace(tracePath);
        std::string line;
        while (std::getline(trace, line))
            polls += line.find(" TX 77 03 03 E2 ") != std::string::npos ? 1 : 0;
    }
    const bool stillConnected = window.Logic().IsDistantControlEnabled();

    std::printf("main window polling kest-sim (QX4, poll every %d ms, transducer read after each poll%s)\n",
        TMainLogic::kPollInterval, diagram ? ", vector diagram open" : "");
    std::printf("  run:            %.1f s wall, still connected: %s\n", wall, stillConnected ? "yes" : "no");
    std::printf("  CPU time:       %.3f s = %.3f %% of one core (goal < 1 %%)\n", cpu, 100.0 * cpu / wall);
    if (traced)
        std::printf("  polls sent:     %ld = one every %.0f ms (timer %d ms; re-sends count again)\n", polls,
            polls ? 1000.0 * wall / double(polls) : 0.0, TMainLogic::kPollInterval);
    std::printf("  resident start: %ld KiB\n", rssStart);
    std::printf("  resident end:   %ld KiB (%+ld KiB)\n", rssEnd, rssEnd - rssStart);
    window.close();
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
