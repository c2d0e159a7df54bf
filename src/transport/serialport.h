#pragma once
// Serial port component over Linux termios.
//
// One device handle, the line settings, buffer sizes and time-outs, raw reads and writes, and a watcher
// thread that waits for line events and hands them to the thread that owns the port (the Qt main thread).
// Bytes are never read by the watcher: they stay in the kernel's queue until the owner reads them.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transport/kesterror.h"

#include <QStringList>

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br230400,
    br256000,
    br460800,
    br500000,
    br576000,
    br921600,
    br1000000,
    br1152000,
    br1500000,
    br2000000,
    br2500000,
    br3000000,
    br3500000,
    br4000000
};
enum TByteSize { bs5, bs6, bs7, bs8 };
enum TParity { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits { sb1, sb1_5, sb2 };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComEvent { evRxChar, evTxEmpty, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
enum TComError { ceBreak, ceFrame, ceIO, ceMode, ceOverrun, ceRxOver, ceRxParity, ceTxFull };

// A small set over one of the enumerations above (all have fewer than 32 members).
template<typename E> class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items)
    {
        for (E e : items)
            bits_ |= Bit(e);
    }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr void Include(E e) { bits_ |= Bit(e); }
    constexpr void Exclude(E e) { bits_ &= ~Bit(e); }
    constexpr bool IsEmpty() const { return bits_ == 0; }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const TSet &o) const { return bits_ == o.bits_; }

private:
    static constexpr uint32_t Bit(E e) { return 1u << static_cast<unsigned>(e); }
    uint32_t bits_ = 0;
};
using TComEvents = TSet<TComEvent>;
using TComSignals = TSet<TComSignal>;
using TComErrors = TSet<TComError>;

// Bit rate in bits per second of a TBaudRate other than brCustom; 0 for brCustom.
int BaudRateToInt(TBaudRate rate);

class TSerialPort;

// The five read/write time-outs in milliseconds. A negative value stands for "maximum".
class TComTimeouts {
public:
    int ReadInterval() const { return readInterval_; }
    int ReadTotalMultiplier() const { return readTotalMultiplier_; }
    int ReadTotalConstant() const { return readTotalConstant_; }
    int WriteTotalMultiplier() const { return writeTotalMultiplier_; }
    int WriteTotalConstant() const { return writeTotalConstant_; }
    void SetReadInterval(int v) { Set(readInterval_, v); }
    void SetReadTotalMultiplier(int v) { Set(readTotalMultiplier_, v); }
    void SetReadTotalConstant(int v) { Set(readTotalConstant_, v); }
    void SetWriteTotalMultiplier(int v) { Set(writeTotalMultiplier_, v); }
    void SetWriteTotalConstant(int v) { Set(writeTotalConstant_, v); }
    void Assign(const TComTimeouts &other);

private:
    friend class TSerialPort;
    void Set(int &field, int value);
    TSerialPort *port_ = nullptr;
    int readInterval_ = -1;
    int readTotalMultiplier_ = 0;
    int readTotalConstant_ = 0;
    int writeTotalMultiplier_ = 100;
    int writeTotalConstant_ = 1000;
};

// Assembler of delimited packets from the received bytes. Present for completeness; the program never
// enables it.
class TComDataPacket {
public:
    bool Enabled = false;
    bool IncludeStrings = true;
    std::string StartString;
    std::string StopString;

    int MaxBufferSize() const { return maxBufferSize_; }
    int PacketSize() const { return packetSize_; }
    // Accepted only between 1 and MaxBufferSize - 1; otherwise ignored.
    void SetPacketSize(int value);
    // Accepted only when greater than zero and greater than PacketSize; otherwise ignored.
    void SetMaxBufferSize(int value);
    bool PacketDefined() const { return packetSize_ > 0 || !StopString.empty(); }
    void Assign(const TComDataPacket &other);

    // Feeds received bytes; every completed packet goes to onPacket.
    void AddData(const std::string &bytes, const std::function<void(const std::string &)> &onPacket);
    void ResetBuffer();

private:
    int maxBufferSize_ = 1024;
    int packetSize_ = 0;
    std::string buffer_;
    bool inPacket_ = false;
};

class TSerialPort : public QObject {
    Q_OBJECT
public:
    explicit TSerialPort(QObject *owner = nullptr);
    ~TSerialPort() override;

    TSerialPort(const TSerialPort &) = delete;
    TSerialPort &operator=(const TSerialPort &) = delete;

    static constexpr const char *kDefaultPort = "/dev/ttyS0";

    // Properties.
    std::string Port() const { return port_; }
    void SetPort(const std::string &name);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate rate);
    int CustomBaudRate() const { return customBaudRate_; }
    void SetCustomBaudRate(int bitsPerSecond);
    TByteSize ByteSize() const { return byteSize_; }
    void SetByteSize(TByteSize value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits value);
    int InBufSize() const { return inBufSize_; }
    void SetInBufSize(int value);
    int OutBufSize() const { return outBufSize_; }
    void SetOutBufSize(int value);
    TSyncMethod SyncMethod() const { return syncMethod_; }
    void SetSyncMethod(TSyncMethod value);
    int ThreadPriority() const { return threadPriority_; }
    void SetThreadPriority(int value);
    TComTimeouts &Timeouts() { return timeouts_; }
    void SetTimeouts(const TComTimeouts &value) { timeouts_.Assign(value); }
    TComDataPacket &DataPacket() { return dataPacket_; }
    void SetDataPacket(const TComDataPacket &value) { dataPacket_.Assign(value); }
    TComEvents Events() const { return events_; }
    void SetEvents(TComEvents value) { events_ = value; }
    bool Connected() const { return connected_; }

    // Operations.
    void Open();
    void Close();
    int Write(const void *buffer, int count);
    int WriteStr(const std::string &str);
    int Read(void *buffer, int count);
    int ReadStr(std::string &str, int count);
    int InBufCount();
    int OutBufCount();
    void ClearBuffer(bool input, bool output);
    void SetBreak(bool state);
    void SetDTR(bool state);
    void SetRTS(bool state);
    TComSignals Signals();

    // Tests: while set, every Read asks the hook first, and true makes that read fail as a broken line
    // does ("Ошибка чтения из порта"), the line itself staying usable.
    using TReadFaultHook = std::function<bool()>;
    void SetReadFaultHookForTesting(TReadFaultHook hook) { readFaultHook_ = std::move(hook); }

    // The serial devices present and the live links announced by kest-sim, sorted case-insensitively.
    static void EnumComPorts(QStringList &ports);

    // What the kernel's tty list (/sys/class/tty/NAME) says of one tty.
    struct TTtyEntry {
        QString name; // "ttyS0", "ttyUSB0"
        bool hasDevice = false; // a "device" link: a driver and its hardware behind it
        int uartType = -1; // the serial core's "type" attribute (as TIOCGSERIAL gives it); -1 when none
    };
    // Whether a tty is a serial port to offer: one with a device behind it (consoles and
    // pseudo-terminals have none) that is not the placeholder of an absent legacy UART, which the
    // serial core registers with type 0 ("unknown"). Real UARTs on platform buses (LPSS, ARM boards)
    // are listed like any other.
    static bool IsPresentSerialPort(const TTtyEntry &entry);
    // The device nodes (in devFolder) of the present serial ports of a tty list folder, unsorted.
    static QStringList SerialDevices(const QString &ttyListFolder = QStringLiteral("/sys/class/tty"),
        const QString &devFolder = QStringLiteral("/dev"));
    // Folder where the simulated installation announces its ports.
    static std::string SimulatorLinkFolder();

    // Events (handlers run on the thread that owns the port, with the default smThreadSync).
    std::function<void(TSerialPort *, int count)> OnRxChar;
    std::function<void(TSerialPort *, TComErrors errors)> OnError;
    std::function<void(TSerialPort *)> OnTxEmpty;
    std::function<void(TSerialPort *)> OnRing;
    std::function<void(TSerialPort *)> OnBreak;
    std::function<void(TSerialPort *, bool state)> OnCTSChange;
    std::function<void(TSerialPort *, bool state)> OnDSRChange;
    std::function<void(TSerialPort *, bool state)> OnRLSDChange;
    std::function<void(TSerialPort *)> OnRx80Full;
    std::function<void(TSerialPort *, const std::string &packet)> OnPacket;

private:
    friend class TComTimeouts;
    struct Watch;

    void RequireOpen() const;
    void RequireClosed() const;
    void ApplyLineSettings();
    // Stores a changed line setting and, while open, puts it on the line.
    template<typename T> void SetLineSetting(T &field, T value);
    void SetBufferSize(int &field, int value);
    void ApplyBufferSizes();
    void ApplyTimeouts();
    void StartWatcher();
    void StopWatcher();
    void WatcherLoop(std::shared_ptr<Watch> watch);
    // Passes one wake-up's events to the owning thread as the sync method says.
    void HandOver(const std::shared_ptr<Watch> &watch, TComEvents events, TComErrors errors, TComSignals signalsNow);
    // Runs the handlers for one wake-up of the watcher, on the owning thread.
    void DispatchEvents(
        const std::shared_ptr<Watch> &watch, TComEvents events, TComErrors errors, TComSignals signalsNow);
    void HandleRxChar();

    std::string port_ = kDefaultPort;
    TBaudRate baudRate_ = br9600;
    int customBaudRate_ = 9600;
    TByteSize byteSize_ = bs8;
    TParity parity_ = paNone;
    TStopBits stopBits_ = sb1;
    int inBufSize_ = 2048;
    int outBufSize_ = 2048;
    TSyncMethod syncMethod_ = smThreadSync;
    int threadPriority_ = 0;
    TComTimeouts timeouts_;
    TComDataPacket dataPacket_;
    TComEvents events_{evRxChar, evTxEmpty, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full};

    TReadFaultHook readFaultHook_;
    int fd_ = -1;
    bool connected_ = false;
    std::shared_ptr<Watch> watch_;
    std::thread thread_;
};
