// kestmanager: the program's entry point and its command-line options.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include "app/demo.h"
#include "config/configcontroller.h"
#include "journal/journal.h"
#include "mainwindow/form1.h"
#include "presentation/controls/messageservice.h"
#include "presentation/controls/translations.h"
#include "protocol/switchoff.h"
#include "transport/frametrace.h"
#include "tuning/form14.h"
#include "verification/run/runjournal.h"
#include "verification/window/form2.h"

namespace {

const char *const kHelp = R"(kestmanager — управление установкой KEST (Modbus RTU).

  kestmanager [--port1 PATH] [--port2 PATH] [--trace FILE] [--demo] [--no-update-check]

  --port1 PATH        порт установки на этот запуск (файл настроек не меняется)
  --port2 PATH        порт проверяемого устройства на этот запуск
  --trace FILE        записывать все кадры обмена в FILE (то же, что KEST_TRACE=FILE)
  --demo              запустить имитатор установки kest-sim с преобразователем QX4 и работать с ним
  --no-update-check   не проверять обновление при запуске
  --help              эта справка
)";

// SIGINT and SIGTERM end the program as closing its window does (settings kept, the simulator stopped):
// the handler only writes to a socket that the event loop watches.
int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[0], &byte, 1);
}

void QuitOnSignals(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[1], &byte, 1);
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        app.quit();
    });
    struct sigaction action { };
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// kest-sim beside the program (installed or in the build tree), else on PATH.
QString FindSimulator()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {dir + "/kest-sim", dir + "/../../sim/kest-sim", dir + "/../sim/kest-sim"}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("kest-sim"));
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(
            stderr, "Нет дисплея. Запустите программу в виртуальном X-сервере:\n  xvfb-run -a %s --demo\n", argv[0]);
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KestManager"));
    QApplication::setOrganizationName(QStringLiteral("Valtrix"));
    if (!KestTranslations::Install(app))
        std::fprintf(stderr,
            "Переводы Qt не найдены (пакет qt6-translations-l10n): стандартные кнопки и диалоги "
            "будут на английском.\n");
    QuitOnSignals(app);

    QCommandLineParser parser;
    QCommandLineOption port1(QStringLiteral("port1"), QString(), QStringLiteral("PATH"));
    QCommandLineOption port2(QStringLiteral("port2"), QString(), QStringLiteral("PATH"));
    QCommandLineOption trace(QStringLiteral("trace"), QString(), QStringLiteral("FILE"));
    QCommandLineOption demo(QStringLiteral("demo"));
    QCommandLineOption noUpdate(QStringLiteral("no-update-check"));
    parser.addOptions({port1, port2, trace, demo, noUpdate});
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "%s\n%s", qPrintable(parser.errorText()), kHelp);
        return 2;
    }
    if (parser.isSet(trace) && !TFrameTrace::Instance().Open(parser.value(trace).toStdString())) {
        std::fprintf(stderr, "Не удалось открыть файл трассировки %s\n", qPrintable(parser.value(trace)));
        return 2;
    }

    TForm1::TOptions options;
    options.port1 = parser.value(port1);
    options.port2 = parser.value(port2);
    options.checkForUpdates = !parser.isSet(noUpdate) && !parser.isSet(demo);
    // One journal for every window of this run of the program; it outlives them all.
    TConfigController settings;
    // Outputs left on are owed per port, remembered beside the settings; the demo's ports are made anew
    // for every run, so its ledger lives only as long as the program.
    if (!parser.isSet(demo))
        TOutputsLedger::SetFolder(settings.programFolder);
    TJournal journal(TJournalOptions::FromSettings(&settings));
    journal.Open();
    options.journal = &journal;
    // Every window of this run talks over its ports (given, or the demo's), never the settings' alone.
    options.verificationWindow = [&journal](TConfigController *store, TConfigurationCode code, QWidget *parent,
                                     const TStartOptions &thisRun) -> QWidget * {
        return CreateVerificationWindow(store, code, parent, &journal, thisRun);
    };
    options.tuningWindow
        = [&journal](TConfigController *store, QWidget *parent, const TStartOptions &thisRun) -> QWidget * {
        return CreateTuningWindow(store, &journal, parent, thisRun.port1, thisRun.port2);
    };
    options.journalledRunWindow = [&journal](TConfigController *store, const TJournalRun &run, bool readOnly,
                                      QWidget *parent, const TStartOptions &thisRun) -> QWidget * {
        if (readOnly)
            return CreateJournalledRunWindow(store, &journal, run, true, parent, thisRun);
        return RestoreJournalledRun(store, &journal, run, parent, thisRun);
    };
    options.journalReport = [](TConfigController *store, const TJournalRun &run, QWidget *parent) {
        ReportJournalledRun(store, run, parent);
    };
    options.journalProtocol = KestRunJournal::ProducePdfProtocol;

    QProcess simulator;
    if (parser.isSet(demo)) {
        QString error;
        if (!KestDemo::StartSimulator(simulator, FindSimulator(), options.port1, options.port2, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        options.voltage = KestDemo::Voltage();
    }

    int code = 0;
    {
        TForm1 window(options);
        window.show();
        QTimer::singleShot(0, &window, &TForm1::OfferUnfinishedRuns);
        code = app.exec();
    }
    // The server is tried once more before the program goes; what stays in this bench's buffer is said
    // (it goes to the server at the next start), never left to look like unfinished runs.
    if (const int waiting = journal.FlushBeforeExit(5000); waiting > 0) {
        const QString text = QStringLiteral("Журнал: сервер недоступен, в буфере стенда остаются поверок: %1; они "
                                            "будут отправлены при следующем запуске")
                                 .arg(waiting);
        std::fprintf(stderr, "%s\n", qPrintable(text));
        TMessageService::Information(nullptr, text);
    }
    if (simulator.state() != QProcess::NotRunning) {
        simulator.terminate();
        if (!simulator.waitForFinished(3000))
            simulator.kill();
    }
    return code;
}
