#include "transport/cominterfacewithcallback.h"

#include <algorithm>
#include <cstdio>

namespace {

// A periodic timer is "enabled" without restarting its period when already running.
void Enable(QTimer &timer)
{
    if (!timer.isActive())
        timer.start();
}

void Restart(QTimer &timer)
{
    timer.stop();
    timer.start();
}

} // namespace

TComInterfaceWithCallback::TComInterfaceWithCallback(QObject *owner, TCallBackObject *callback)
    : TComInterface(owner, callback)
{
    serialPort->OnRxChar = [this](TSerialPort *, int count) { OnRxChar(count); };
    currentResponseTimeOut = kDefaultResponseTimeout;

    byteTimer = std::make_unique<QTimer>();
    byteTimer->setTimerType(Qt::PreciseTimer);
    byteTimer->setInterval(kByteTimeout);
    QObject::connect(byteTimer.get(), &QTimer::timeout, this, [this] { ReadAnswer(); });

    responseTimeoutTimer = std::make_unique<QTimer>();
    responseTimeoutTimer->setTimerType(Qt::PreciseTimer);
    responseTimeoutTimer->setInterval(currentResponseTimeOut);
    QObject::connect(responseTimeoutTimer.get(), &QTimer::timeout, this, [this] { OnResponseTimeout(); });
}

TComInterfaceWithCallback::~TComInterfaceWithCallback()
{
    Dispose();
}

void TComInterfaceWithCallback::SetResponseTimeOut(int value)
{
    currentResponseTimeOut = value;
    if (responseTimeoutTimer)
        responseTimeoutTimer->setInterval(value);
}

void TComInterfaceWithCallback::SetByteTimeout(int value)
{
    if (byteTimer)
        byteTimer->setInterval(value);
}

bool TComInterfaceWithCallback::IsWaiting() const
{
    return (responseTimeoutTimer && responseTimeoutTimer->isActive()) || (byteTimer && byteTimer->isActive());
}

void TComInterfaceWithCallback::StopTimers()
{
    if (byteTimer)
        byteTimer->stop();
    if (responseTimeoutTimer)
        responseTimeoutTimer->stop();
}

void TComInterfaceWithCallback::ClosePort()
{
    StopTimers();
    TComInterface::ClosePort();
}

void TComInterfaceWithCallback::Dispose()
{
    if (disposed_)
        return;
    disposed_ = true;
    StopTimers();
    TComInterface::Dispose();
    byteTimer.reset();
    responseTimeoutTimer.reset();
}

void TComInterfaceWithCallback::WriteBytes(const TFramePtr &bytes)
{
    lastCmd = bytes;
    bytesRecieved = 0;
    if (responseTimeoutTimer)
        Enable(*responseTimeoutTimer);
    haveError = false;
    if (!Transmit(bytes)) {
        StopTimers();
        ReportError(EKestError(KestText::NoAnswer));
    }
}

void TComInterfaceWithCallback::OnRxChar(int count)
{
    bytesRecieved = count;
    if (byteTimer)
        Restart(*byteTimer);
    if (responseTimeoutTimer)
        Restart(*responseTimeoutTimer);
}

TFramePtr TComInterfaceWithCallback::TakeAnswer()
{
    TFramePtr frame = MakeFrame();
    ReadBuf = frame;
    const int wanted = std::clamp(bytesRecieved, 0, TFrame::kCapacity);
    const int got = wanted > 0 ? serialPort->Read(frame->data.data(), wanted) : 0;
    frame->size = got;
    // The tty layer queues at most about a frame's worth; a queue that full means a babbling line: keep the
    // first frame's worth and leave nothing stale for the next exchange. No Modbus answer comes near it.
    if (bytesRecieved >= TFrame::kCapacity - 1) {
        serialPort->ClearBuffer(true, false);
        char note[64];
        std::snprintf(note, sizeof note, "(%d bytes, kept %d)", bytesRecieved, got);
        Trace("RX", note);
    }
    Trace("RX", frame->ToHex());
    return frame;
}

void TComInterfaceWithCallback::ReadAnswer()
{
    CompleteAnswer(nullptr);
}

void TComInterfaceWithCallback::CompleteAnswer(const std::function<void(TFrame &)> &validate)
{
    if (haveError) {
        // Stray bytes after a failed exchange: nothing to deliver, and no reason to keep polling.
        if (byteTimer)
            byteTimer->stop();
        return;
    }
    TFramePtr answer;
    try {
        answer = TakeAnswer();
        StopTimers();
        if (validate)
            validate(*answer);
    } catch (const std::exception &e) {
        FailedExchange(e);
        return;
    }
    DeliverAnswer(answer);
}

void TComInterfaceWithCallback::DeliverAnswer(const TFramePtr &answer)
{
    effortsToReconnect = 0;
    if (callbackObject && callbackObject->Callback)
        callbackObject->Callback(answer);
}

bool TComInterfaceWithCallback::TryResend()
{
    if (effortsToReconnect >= kMaxResends)
        return false;
    ++effortsToReconnect;
    Trace("RESEND", std::to_string(effortsToReconnect));
    WriteBytes(lastCmd);
    return true;
}

void TComInterfaceWithCallback::OnResponseTimeout()
{
    if (!lastCmd || !lastCmd->isResponseRequired) {
        if (responseTimeoutTimer)
            responseTimeoutTimer->stop();
        return;
    }
    Trace("TIMEOUT", std::to_string(currentResponseTimeOut) + " ms");
    if (TryResend())
        return;
    StopTimers();
    effortsToReconnect = 0;
    Trace("ERROR", KestText::NoAnswer);
    ReportError(EKestError(KestText::NoAnswer));
}

void TComInterfaceWithCallback::FailedExchange(const std::exception &error)
{
    // Keep the text: a re-send may replace what error refers to.
    const std::string text = error.what();
    // A read that failed leaves both timers running: the silence timer would read an empty "answer"
    // 46 ms later and the response timer would keep its old period, each using up a re-send early.
    StopTimers();
    if (TryResend())
        return;
    haveError = true;
    cmdQueue.Clear();
    effortsToReconnect = 0;
    Trace("ERROR", text);
    ReportError(EKestError(text));
}
