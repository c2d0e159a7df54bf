#pragma once
// A pseudo-terminal pair for tests: the test holds the master side and plays the device; the program's
// serial port opens the slave side by its path, through a real tty line discipline.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>

class TestPty {
public:
    TestPty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            return;
        slave_ = name;
        // Raw on the master side as well: the device speaks binary.
        termios tio{};
        if (::tcgetattr(master_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(master_, TCSANOW, &tio);
        }
    }
    ~TestPty() { CloseMaster(); }
    TestPty(const TestPty &) = delete;
    TestPty &operator=(const TestPty &) = delete;

    bool Ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string &SlavePath() const { return slave_; }
    int Master() const { return master_; }

    void Send(const std::vector<uint8_t> &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Everything the slave side wrote within timeoutMs (returns early once quietMs of silence follow data).
    std::vector<uint8_t> Receive(int timeoutMs = 500, int quietMs = 60)
    {
        std::vector<uint8_t> out;
        QElapsedTimer clock;
        clock.start();
        QElapsedTimer quiet;
        quiet.start();
        while (clock.elapsed() < timeoutMs) {
            uint8_t buf[4096];
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
                quiet.restart();
                continue;
            }
            if (!out.empty() && quiet.elapsed() >= quietMs)
                break;
            pollfd pfd{master_, POLLIN, 0};
            ::poll(&pfd, 1, 5);
            QCoreApplication::processEvents();
        }
        return out;
    }

    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

// Runs the Qt event loop until pred() holds or timeoutMs passes; returns pred().
template<typename Pred> bool PumpUntil(Pred pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

inline void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}
