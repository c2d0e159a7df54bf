#include "signalguard.h"

#include <QSocketNotifier>

#include <csignal>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gPair[2] = {-1, -1};
volatile std::sig_atomic_t gReceived = 0;
std::function<void()> gHandler;
std::unique_ptr<QSocketNotifier> gNotifier;

void Handle(int)
{
    gReceived = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gPair[0], &byte, 1);
}

} // namespace

void KestctlSignals::Install()
{
    if (gPair[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPair) != 0)
        return;
    struct sigaction action { };
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool KestctlSignals::Received()
{
    return gReceived != 0;
}

void KestctlSignals::OnSignal(std::function<void()> handler)
{
    gHandler = std::move(handler);
    // The watcher needs the event loop's application, which did not exist yet when the handlers went in.
    if (!gNotifier && gPair[1] >= 0) {
        gNotifier = std::make_unique<QSocketNotifier>(gPair[1], QSocketNotifier::Read);
        QObject::connect(gNotifier.get(), &QSocketNotifier::activated, [] {
            char byte = 0;
            [[maybe_unused]] const ssize_t n = ::read(gPair[1], &byte, 1);
            if (gHandler)
                gHandler();
        });
    }
}

void KestctlSignals::Release()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    if (gReceived)
        ::raise(SIGTERM);
}
