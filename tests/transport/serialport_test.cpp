// The serial port over pseudo-terminal pairs: a real tty line discipline on the slave side, the test
// playing the device on the master side.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>

#include "pty.h"
#include "transport/serialport.h"

namespace {

std::string MessageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const EComPort &e) {
        return e.what();
    } catch (const std::exception &e) {
        return std::string("other: ") + e.what();
    }
    return "";
}

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct RxRecorder {
    std::vector<int> counts;
    std::vector<TComErrors> errors;
    void Attach(TSerialPort &port)
    {
        port.OnRxChar = [this](TSerialPort *, int count) { counts.push_back(count); };
        port.OnError = [this](TSerialPort *, TComErrors e) { errors.push_back(e); };
    }
};

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        port.SetPort(pty.SlavePath());
    }
    TestPty pty;
    TSerialPort port;
};

} // namespace

TEST(SerialPortDefaults, MatchTheComponentDefaults)
{
    TSerialPort port;
    EXPECT_EQ(port.Port(), "/dev/ttyS0");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.ByteSize(), bs8);
    EXPECT_EQ(port.Parity(), paNone);
    EXPECT_EQ(port.StopBits(), sb1);
    EXPECT_EQ(port.InBufSize(), 2048);
    EXPECT_EQ(port.OutBufSize(), 2048);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
}

TEST(SerialPortDefaults, BufferSizesAreEven)
{
    TSerialPort port;
    port.SetInBufSize(1025);
    port.SetOutBufSize(4097);
    EXPECT_EQ(port.InBufSize(), 1024);
    EXPECT_EQ(port.OutBufSize(), 4096);
}

TEST(SerialPortDefaults, OperationsOnAClosedPortAreRefused)
{
    TSerialPort port;
    uint8_t buf[4] = {};
    const std::string notOpen = "Порт не открыт";
    EXPECT_EQ(MessageOf([&] { port.Read(buf, 4); }), notOpen);
    EXPECT_EQ(MessageOf([&] { port.Write(buf, 4); }), notOpen);
    EXPECT_EQ(MessageOf([&] { port.SetDTR(true); }), notOpen);
    EXPECT_EQ(MessageOf([&] { port.SetRTS(true); }), notOpen);
    EXPECT_EQ(MessageOf([&] { port.SetBreak(true); }), notOpen);
    EXPECT_EQ(MessageOf([&] { port.Signals(); }), notOpen);
    EXPECT_NO_THROW(port.Close());
}

TEST(SerialPortOpen, MissingDeviceAndNonTerminal)
{
    TSerialPort port;
    port.SetPort("/dev/kest-no-such-device");
    EXPECT_EQ(MessageOf([&] { port.Open(); }), "Попытка открыть несуществующий COM-порт");
    EXPECT_FALSE(port.Connected());

    // A file that opens but is no terminal fails at the line settings and leaves the port closed.
    QTemporaryDir dir;
    const std::string file = dir.filePath("plain").toStdString();
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    port.SetPort(file);
    EXPECT_EQ(MessageOf([&] { port.Open(); }), "Ошибка функции SetCommState");
    EXPECT_FALSE(port.Connected());
}

TEST_F(SerialPortTest, OpenAndCloseAreIdempotent)
{
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_NO_THROW(port.Open());
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_NO_THROW(port.Close());
    // And it opens again after a close.
    port.Open();
    EXPECT_TRUE(port.Connected());
}

TEST_F(SerialPortTest, SecondOpenerIsRefusedInThisProcessAndAnother)
{
    port.Open();
    TSerialPort second;
    second.SetPort(pty.SlavePath());
    EXPECT_EQ(MessageOf([&] { second.Open(); }), "Порт занят другой программой");
    EXPECT_FALSE(second.Connected());

    // Another process (root included, which TIOCEXCL alone would let in).
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TSerialPort other;
        other.SetPort(pty.SlavePath());
        std::string msg = MessageOf([&] { other.Open(); });
        _exit(msg == "Порт занят другой программой" ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Once closed, the port is free again.
    port.Close();
    EXPECT_NO_THROW(second.Open());
}

TEST_F(SerialPortTest, LockedPropertiesWhileOpen)
{
    port.Open();
    const std::string locked = "Нельзя менять свойство, пока порт открыт";
    // Even the same name is refused: the check comes first.
    EXPECT_EQ(MessageOf([&] { port.SetPort(pty.SlavePath()); }), locked);
    EXPECT_EQ(MessageOf([&] { port.SetSyncMethod(smNone); }), locked);
    EXPECT_EQ(MessageOf([&] { port.SetThreadPriority(1); }), locked);
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_NO_THROW(port.SetSyncMethod(smThreadSync));
}

TEST_F(SerialPortTest, LineSettingsApplyAtOnceWhileOpen)
{
    port.Open();
    termios tio{};
    // On Linux the master side reports the line settings of its slave.
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_iflag & INPCK, 0u);

    port.SetBaudRate(br115200);
    port.SetStopBits(sb2);
    ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    port.SetStopBits(sb1);

    // Pseudo-terminals carry no parity; whether the kernel takes the flag or refuses it, the port must
    // either show it or report the refusal and keep its old value.
    try {
        port.SetParity(paEven);
        ASSERT_EQ(tcgetattr(pty.Master(), &tio), 0);
        EXPECT_NE(tio.c_iflag & INPCK, 0u);
        port.SetParity(paNone);
    } catch (const EComPort &e) {
        EXPECT_STREQ(e.what(), "Ошибка функции SetCommState");
        EXPECT_EQ(port.Parity(), paNone);
    }
    EXPECT_TRUE(port.Connected());

    // Rates without a termios constant go through the arbitrary-rate interface.
    port.SetBaudRate(br14400);
    EXPECT_TRUE(port.Connected());
    port.SetCustomBaudRate(31250);
    port.SetBaudRate(brCustom);
    EXPECT_TRUE(port.Connected());

    // A setting the line refuses says so, leaves the port open and the property as it was: a rate of
    // zero, and seven data bits, which a pseudo-terminal does not take.
    EXPECT_EQ(MessageOf([&] { port.SetCustomBaudRate(0); }), "Ошибка функции SetCommState");
    EXPECT_EQ(port.CustomBaudRate(), 31250);
    EXPECT_EQ(MessageOf([&] { port.SetByteSize(bs7); }), "Ошибка функции SetCommState");
    EXPECT_EQ(port.ByteSize(), bs8);
    EXPECT_TRUE(port.Connected());
    EXPECT_NO_THROW(port.SetBaudRate(br19200));
}

TEST_F(SerialPortTest, ReadReturnsAtOnceWithWhatIsWaiting)
{
    port.Open();
    pty.Send({1, 2, 3, 4});
    ASSERT_TRUE(PumpUntil([&] { return port.InBufCount() == 4; }, 2000));
    uint8_t buf[10] = {};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(port.Read(buf, 10), 4);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[3], 4);
    EXPECT_EQ(port.Read(buf, 10), 0);
    EXPECT_EQ(port.Read(buf, 0), 0);
}

TEST_F(SerialPortTest, TotalTimeoutWaitsForTheRest)
{
    port.Open();
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalConstant(300);
    pty.Send({9, 8});
    uint8_t buf[4] = {};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(port.Read(buf, 4), 2);
    // It waited for the missing bytes until the total time-out ran out (wide margins).
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(SerialPortTest, WriteReachesTheDeviceAndPurgeDiscardsInput)
{
    port.Open();
    const std::string text("\x01\x03\x00\x00\x00\x01", 6);
    EXPECT_EQ(port.WriteStr(text), 6);
    auto got = pty.Receive();
    EXPECT_EQ(std::string(got.begin(), got.end()), text);

    pty.Send({5, 6, 7});
    ASSERT_TRUE(PumpUntil([&] { return port.InBufCount() == 3; }, 2000));
    port.ClearBuffer(true, true);
    EXPECT_EQ(port.InBufCount(), 0);
    EXPECT_EQ(port.OutBufCount(), 0);
}

TEST_F(SerialPortTest, MaximumWriteTimeoutsWaitForASlowReader)
{
    // More than a pseudo-terminal holds, so the write has to wait for the reader; with a "maximum"
    // multiplier the deadline is as far off as Read's, not an overflow in the past.
    constexpr int kSize = 80000;
    const struct {
        int multiplier;
        int constant;
    } timeouts[] = {{-1, 0}, {-1, -1}, {-1, 1000}};
    port.Open();
    for (const auto &t : timeouts) {
        SCOPED_TRACE(t.multiplier);
        SCOPED_TRACE(t.constant);
        port.Timeouts().SetWriteTotalMultiplier(t.multiplier);
        port.Timeouts().SetWriteTotalConstant(t.constant);
        std::vector<uint8_t> data(kSize);
        for (int i = 0; i < kSize; ++i)
            data[i] = static_cast<uint8_t>(i * 7);
        std::vector<uint8_t> got;
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (got.size() < data.size() && std::chrono::steady_clock::now() < until) {
                uint8_t buf[4096];
                const ssize_t n = ::read(pty.Master(), buf, sizeof buf);
                if (n > 0) {
                    got.insert(got.end(), buf, buf + n);
                } else {
                    pollfd pfd{pty.Master(), POLLIN, 0};
                    ::poll(&pfd, 1, 20);
                }
            }
        });
        const int written = port.Write(data.data(), kSize);
        reader.join();
        EXPECT_EQ(written, kSize);
        EXPECT_TRUE(got == data) << got.size() << " bytes arrived";
    }
}

TEST_F(SerialPortTest, RxCharCountsWaitingBytesOnTheOwningThread)
{
    RxRecorder rec;
    rec.Attach(port);
    Qt::HANDLE owner = QThread::currentThreadId();
    Qt::HANDLE seen = nullptr;
    port.OnRxChar = [&](TSerialPort *, int count) {
        rec.counts.push_back(count);
        seen = QThread::currentThreadId();
    };
    port.Open();
    pty.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(PumpUntil([&] { return !rec.counts.empty() && rec.counts.back() == 5; }, 2000));
    EXPECT_EQ(seen, owner);
    // Unread bytes stay waiting; the next arrival reports all that waits.
    pty.Send({6, 7, 8});
    ASSERT_TRUE(PumpUntil([&] { return rec.counts.back() == 8; }, 2000));
    for (int c : rec.counts)
        EXPECT_GE(c, 1);
    EXPECT_TRUE(rec.errors.empty());
}

TEST_F(SerialPortTest, WakeUpWithNothingWaitingGivesNoEvent)
{
    RxRecorder rec;
    rec.Attach(port);
    port.Open();
    pty.Send({1, 2, 3});
    // Let the watcher wake and post its dispatch, then take the bytes before the dispatch runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, 8), 3);
    PumpFor(200);
    EXPECT_TRUE(rec.counts.empty());
}

TEST_F(SerialPortTest, CloseWithAPendingDispatchDoesNotDeadlockOrDeliverLate)
{
    RxRecorder rec;
    rec.Attach(port);
    port.Open();
    pty.Send({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    // The watcher is now waiting for the owning thread, which closes instead of dispatching.
    port.Close();
    EXPECT_FALSE(port.Connected());
    PumpFor(200);
    EXPECT_TRUE(rec.counts.empty());
    // Reopened, the port works again and the stale dispatch never surfaces.
    port.Open();
    pty.Send({4});
    EXPECT_TRUE(PumpUntil([&] { return !rec.counts.empty(); }, 2000));
}

TEST_F(SerialPortTest, UnreadBytesCostNoCpu)
{
    RxRecorder rec;
    rec.Attach(port);
    port.Open();
    pty.Send({1, 2, 3, 4});
    ASSERT_TRUE(PumpUntil([&] { return !rec.counts.empty(); }, 2000));
    const double before = ProcessCpuSeconds();
    PumpFor(1000);
    const double used = ProcessCpuSeconds() - before;
    // A spinning watcher burns a whole core; the pump loop itself costs a few percent. Wide margin.
    EXPECT_LT(used, 0.4) << "CPU seconds over one second with 4 unread bytes";
    EXPECT_EQ(rec.counts.size(), 1u);
    EXPECT_EQ(port.InBufCount(), 4);
}

TEST_F(SerialPortTest, VanishedPeerIsReportedOnceWithoutSpinning)
{
    RxRecorder rec;
    rec.Attach(port);
    port.Open();
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !rec.errors.empty(); }, 2000));
    EXPECT_TRUE(rec.errors[0].Contains(ceIO));
    const double before = ProcessCpuSeconds();
    PumpFor(800);
    EXPECT_LT(ProcessCpuSeconds() - before, 0.4);
    EXPECT_EQ(rec.errors.size(), 1u);

    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(MessageOf([&] { port.Read(buf, 4); }), "Ошибка чтения из порта");
    EXPECT_EQ(MessageOf([&] { port.Write(buf, 4); }), "Ошибка записи в порт");
    EXPECT_TRUE(port.Connected());
    EXPECT_NO_THROW(port.Close());
}

TEST(SerialPortEnum, ListsLiveSimulatorLinksSorted)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    TestPty a, b;
    QDir(runtime.path()).mkdir("kest-sim");
    const QString folder = runtime.path() + "/kest-sim/";
    ASSERT_EQ(symlink(a.SlavePath().c_str(), (folder + "installation").toUtf8().constData()), 0);
    ASSERT_EQ(symlink(b.SlavePath().c_str(), (folder + "Device").toUtf8().constData()), 0);
    ASSERT_EQ(symlink("/dev/kest-gone", (folder + "stale").toUtf8().constData()), 0);

    QStringList ports;
    TSerialPort::EnumComPorts(ports);
    qputenv("XDG_RUNTIME_DIR", old);

    const int dev = ports.indexOf(folder + "Device");
    const int inst = ports.indexOf(folder + "installation");
    EXPECT_GE(dev, 0);
    EXPECT_GE(inst, 0);
    EXPECT_LT(dev, inst); // case-insensitive order
    EXPECT_EQ(ports.indexOf(folder + "stale"), -1);
    for (int i = 1; i < ports.size(); ++i)
        EXPECT_LE(QString::compare(ports[i - 1], ports[i], Qt::CaseInsensitive), 0);
}

TEST(SerialPortEnum, OnlyPlaceholdersOfAbsentUartsAreSkipped)
{
    // A tty list laid out as sysfs lays it out: each tty a folder with a "device" link to its parent,
    // the parent's "subsystem" link naming its bus, and the serial core's "type" attribute.
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString ttyList = root.path() + "/class/tty";
    const QString devFolder = root.path() + "/dev";
    QDir().mkpath(ttyList);
    QDir().mkpath(devFolder);
    const struct {
        const char *name;
        const char *bus; // parent's bus, nullptr for no device link
        const char *type; // content of "type", nullptr for none
        int uartType; // what that content says: -1 for none or unreadable
        bool node; // /dev node present
        bool listed;
    } ttys[] = {
        {"ttyS0", "platform", "4\n", 4, true, true}, // legacy port that is there (16550A)
        {"ttyS1", "platform", "0\n", 0, true, false}, // placeholder of an absent legacy port
        {"ttyS2", "platform", "0", 0, true, false},
        {"ttyS4", "platform", "4\n", 4, true, true}, // a UART on a platform bus (LPSS)
        {"ttyS5", "pnp", "4\n", 4, true, true},
        {"ttyAMA0", "amba", "32\n", 32, true, true}, // ARM board
        {"ttymxc1", "platform", "55\n", 55, true, true},
        {"ttyS6", "platform", "?", -1, true, true}, // unreadable type: offered, opening tells
        {"ttyUSB0", "usb-serial", nullptr, -1, true, true},
        {"ttyACM0", "usb", nullptr, -1, true, true},
        {"ttyUSB1", "usb-serial", nullptr, -1, false, false}, // no device node
        {"tty1", nullptr, nullptr, -1, true, false}, // virtual console
        {"ptmx", nullptr, nullptr, -1, true, false},
    };
    QStringList expected;
    for (const auto &t : ttys) {
        const QString folder = ttyList + "/" + t.name;
        QDir().mkpath(folder);
        if (t.bus) {
            const QString parent = root.path() + "/devices/" + t.name + "-parent";
            QDir().mkpath(parent);
            QDir().mkpath(root.path() + "/bus/" + t.bus);
            ASSERT_TRUE(QFile::link(root.path() + "/bus/" + t.bus, parent + "/subsystem"));
            ASSERT_TRUE(QFile::link(parent, folder + "/device"));
        }
        if (t.type) {
            QFile f(folder + "/type");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(t.type);
        }
        if (t.node) {
            QFile f(devFolder + "/" + t.name);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        if (t.listed)
            expected << t.name;
        TSerialPort::TTtyEntry entry;
        entry.name = t.name;
        entry.hasDevice = t.bus != nullptr;
        entry.uartType = t.uartType;
        // The decision alone: a missing node is no concern of it.
        EXPECT_EQ(TSerialPort::IsPresentSerialPort(entry), t.listed || !t.node) << t.name;
    }
    QStringList listed = TSerialPort::SerialDevices(ttyList, devFolder);
    for (QString &path : listed)
        path.remove(0, devFolder.size() + 1);
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed.join(' ').toStdString(), expected.join(' ').toStdString());
    EXPECT_TRUE(TSerialPort::SerialDevices(root.path() + "/missing", devFolder).isEmpty());
}

TEST(SerialPortEnum, NoFolderNoError)
{
    QTemporaryDir runtime;
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", (runtime.path() + "/missing").toUtf8());
    QStringList ports{"stale entry"};
    EXPECT_NO_THROW(TSerialPort::EnumComPorts(ports));
    qputenv("XDG_RUNTIME_DIR", old);
    EXPECT_FALSE(ports.contains("stale entry"));
}

TEST(ComDataPacket, AssemblesDelimitedAndSizedPackets)
{
    std::vector<std::string> got;
    auto sink = [&](const std::string &p) { got.push_back(p); };

    TComDataPacket delimited;
    delimited.Enabled = true;
    delimited.StartString = "<";
    delimited.StopString = ">";
    delimited.AddData("xx<ab>y<c", sink);
    delimited.AddData("d>", sink);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "<ab>");
    EXPECT_EQ(got[1], "<cd>");

    got.clear();
    delimited.IncludeStrings = false;
    delimited.AddData("<zz>", sink);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], "zz");

    got.clear();
    TComDataPacket sized;
    sized.Enabled = true;
    sized.SetPacketSize(3);
    sized.AddData("abcdefg", sink);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], "def");

    // Limits on the sizes.
    TComDataPacket limits;
    limits.SetPacketSize(1024); // not below MaxBufferSize
    EXPECT_EQ(limits.PacketSize(), 0);
    limits.SetPacketSize(10);
    limits.SetMaxBufferSize(5); // not above PacketSize
    EXPECT_EQ(limits.MaxBufferSize(), 1024);
    EXPECT_FALSE(TComDataPacket().PacketDefined());
}
