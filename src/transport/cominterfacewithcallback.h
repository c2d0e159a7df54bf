#pragma once
// The request/response engine: after each frame is written it waits for the answer, takes the answer as
// complete after 46 ms of line silence, hands it to the owner and re-sends a command that got no answer.

#include <QTimer>

#include <functional>
#include <memory>

#include "transport/cominterface.h"

class TComInterfaceWithCallback : public TComInterface {
    Q_OBJECT
public:
    static constexpr int kByteTimeout = 46;
    static constexpr int kDefaultResponseTimeout = 500;
    static constexpr int kMaxResends = 3;

    TComInterfaceWithCallback(QObject *owner, TCallBackObject *callback);
    ~TComInterfaceWithCallback() override;

    void SetResponseTimeOut(int value);
    int ResponseTimeOut() const { return currentResponseTimeOut; }
    void SetByteTimeout(int value);

    void ClosePort() override;
    void WriteBytes(const TFramePtr &bytes) override;
    void Dispose() override;

    // Inspection for tests and tools.
    int EffortsToReconnect() const { return effortsToReconnect; }
    bool HaveError() const { return haveError; }
    bool IsWaiting() const;

protected:
    // Handler of the byte timer: the line has been silent long enough, the answer is complete.
    virtual void ReadAnswer();
    // Reads the answer, stops both timers, validates it (validate raises for an invalid answer) and hands
    // it to the owner; a failure takes the failed-exchange path.
    void CompleteAnswer(const std::function<void(TFrame &)> &validate);
    // Reads the waiting bytes into a new frame that becomes ReadBuf. Raises the port's read error.
    TFramePtr TakeAnswer();
    void DeliverAnswer(const TFramePtr &answer);
    // An error while reading or validating: both timers stop, then re-send, or report and give up
    // on the queue.
    void FailedExchange(const std::exception &error);
    bool TryResend();
    void StopTimers();
    void OnResponseTimeout();
    void OnRxChar(int count);

    std::unique_ptr<QTimer> byteTimer;
    std::unique_ptr<QTimer> responseTimeoutTimer;
    int bytesRecieved = 0;
    int currentResponseTimeOut = kDefaultResponseTimeout;
    int effortsToReconnect = 0;

private:
    bool disposed_ = false;
};
