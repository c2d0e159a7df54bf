#pragma once
// The base transport: one serial port, its name and bit rate, and a queue of frames sent one at a time.

#include <QObject>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "transport/frame.h"
#include "transport/framequeue.h"
#include "transport/kesterror.h"
#include "transport/serialport.h"

#include <QStringList>

// Handlers a window gives its transport. A handler that is not set is not called.
struct TCallBackObject {
    // A complete, valid answer. The frame is new for every answer.
    std::function<void(const TFramePtr &answer)> Callback;
    // A failure; the error object is valid only during the call.
    std::function<void(const std::exception &error)> ShowError;
    // Diagnostic lines (line errors of the port).
    std::function<void(const std::string &line)> AddLog;
};

class TComInterface : public QObject {
    Q_OBJECT
public:
    // callback is not owned and must outlive the transport.
    TComInterface(QObject *owner, TCallBackObject *callback);
    ~TComInterface() override;

    virtual void ClosePort();
    virtual void WriteBytes(const TFramePtr &bytes);
    virtual void Dispose();

    void SetPort(const std::string &port);
    std::string Port() const;
    // Accepts "1200" ... "115200"; any other text keeps the previous rate.
    void SetRate(const std::string &rate);
    int Rate() const { return rateInt; }
    void GetAvailablePorts(QStringList &target);
    void OpenPort();
    bool IsOpen() const;

    void AddCmd(const TFramePtr &cmd);
    void SendNextCmd();
    TFramePtr GetLastCmd() const { return lastCmd; }
    bool IsQueueEmpty() const { return cmdQueue.IsEmpty(); }
    std::vector<TFramePtr> QueuedCmds() const { return cmdQueue.Snapshot(); }
    void CleaerQueue();

    // The port component, for tests and tools that need its finer settings.
    TSerialPort *SerialPort() const { return serialPort.get(); }

    // Text of the last line error the port reported (reported nowhere else but the log and the trace).
    std::string LastLineError() const { return lastLineError_; }
    static std::string LineErrorText(TComErrors errors);

protected:
    virtual void CreatePort(QObject *owner);
    void ReportError(const std::exception &error);
    // Purges both queues and writes the frame; false (after tracing why) when any of it fails.
    bool Transmit(const TFramePtr &bytes);
    void Trace(const char *direction, const std::string &text) const;

    std::unique_ptr<TSerialPort> serialPort;
    int rateInt = 9600;
    TFramePtr lastCmd;
    TFramePtr ReadBuf;
    bool haveError = false;
    TFrameQueue cmdQueue;
    TCallBackObject *callbackObject = nullptr;

private:
    void OnPortError(TComErrors errors);
    std::string lastLineError_;
    bool disposed_ = false;
};
