#include "transport/cominterface.h"

#include <QStringList>

#include <algorithm>

#include "transport/frametrace.h"

namespace {

struct RateEntry {
    const char *text;
    TBaudRate rate;
    int value;
};
constexpr RateEntry kRates[] = {
    {"1200", br1200, 1200},
    {"2400", br2400, 2400},
    {"4800", br4800, 4800},
    {"9600", br9600, 9600},
    {"19200", br19200, 19200},
    {"38400", br38400, 38400},
    {"57600", br57600, 57600},
    {"115200", br115200, 115200},
};

} // namespace

TComInterface::TComInterface(QObject *owner, TCallBackObject *callback) : QObject(owner), callbackObject(callback)
{
    TFrameTrace::Instance().OpenFromEnvironment();
    CreatePort(owner);
}

TComInterface::~TComInterface()
{
    Dispose();
}

void TComInterface::CreatePort(QObject *)
{
    try {
        serialPort = std::make_unique<TSerialPort>();
        serialPort->OnError = [this](TSerialPort *, TComErrors errors) { OnPortError(errors); };
    } catch (const std::exception &) {
        throw EKestError(KestText::NoAnswer);
    }
}

void TComInterface::SetPort(const std::string &port)
{
    try {
        serialPort->SetPort(port);
    } catch (const std::exception &) {
        throw EKestError(KestText::NoAnswer);
    }
}

std::string TComInterface::Port() const
{
    return serialPort ? serialPort->Port() : std::string();
}

void TComInterface::SetRate(const std::string &rate)
{
    for (const RateEntry &entry : kRates) {
        if (rate == entry.text) {
            try {
                serialPort->SetBaudRate(entry.rate);
            } catch (const std::exception &) {
                // The line refused it; the port keeps what it had and the next exchange will tell.
            }
            rateInt = entry.value;
            return;
        }
    }
}

void TComInterface::GetAvailablePorts(QStringList &target)
{
    try {
        QStringList ports;
        TSerialPort::EnumComPorts(ports);
        target = ports;
    } catch (...) {
    }
}

void TComInterface::OpenPort()
{
    try {
        serialPort->Open();
        Trace("OPEN", std::to_string(rateInt) + " bit/s");
    } catch (const std::exception &e) {
        Trace("ERROR", std::string("open: ") + e.what());
        throw EKestError(KestText::NoAnswer);
    }
}

bool TComInterface::IsOpen() const
{
    return serialPort && serialPort->Connected();
}

void TComInterface::ClosePort()
{
    cmdQueue.Clear();
    if (!serialPort)
        return;
    try {
        const bool wasOpen = serialPort->Connected();
        serialPort->Close();
        if (wasOpen)
            Trace("CLOSE", "");
    } catch (const std::exception &) {
        throw EKestError(KestText::NoAnswer);
    }
}

void TComInterface::WriteBytes(const TFramePtr &bytes)
{
    lastCmd = bytes;
    haveError = false;
    if (!Transmit(bytes))
        ReportError(EKestError(KestText::NoAnswer));
}

bool TComInterface::Transmit(const TFramePtr &bytes)
{
    try {
        if (!bytes || !serialPort)
            throw EKestError(KestText::NoAnswer);
        serialPort->ClearBuffer(true, false);
        serialPort->ClearBuffer(false, true);
        Trace("TX", bytes->ToHex());
        const int n = std::clamp(bytes->size, 0, TFrame::kCapacity);
        if (serialPort->Write(bytes->data.data(), n) != n)
            throw EKestError(KestText::NoAnswer);
        return true;
    } catch (const std::exception &e) {
        Trace("ERROR", std::string("write: ") + e.what());
        return false;
    }
}

void TComInterface::AddCmd(const TFramePtr &cmd)
{
    cmdQueue.Add(cmd);
}

void TComInterface::SendNextCmd()
{
    if (cmdQueue.IsEmpty())
        return;
    TFramePtr next = cmdQueue.Get();
    WriteBytes(next);
}

void TComInterface::CleaerQueue()
{
    cmdQueue.Clear();
}

void TComInterface::Dispose()
{
    if (disposed_)
        return;
    disposed_ = true;
    try {
        ClosePort();
    } catch (...) {
    }
    ReadBuf.reset();
    serialPort.reset();
}

void TComInterface::ReportError(const std::exception &error)
{
    if (callbackObject && callbackObject->ShowError)
        callbackObject->ShowError(error);
}

void TComInterface::Trace(const char *direction, const std::string &text) const
{
    TFrameTrace &trace = TFrameTrace::Instance();
    if (trace.IsOn())
        trace.Write(Port(), direction, text);
}

std::string TComInterface::LineErrorText(TComErrors errors)
{
    // Checked in this order; the last one present wins.
    static const std::pair<TComError, const char *> texts[] = {
        {ceBreak, "Обнаружено состояние разрыва связи"},
        {ceFrame, "Ошибка формата кадра"},
        {ceIO, "Ошибка ввода-вывода"},
        {ceMode, "Запрошенный режим не поддерживается"},
        {ceOverrun, "Переполнение аппаратного буфера"},
        {ceRxOver, "Переполнение приемного буфера драйвера порта"},
        {ceRxParity, "Ошибка четности"},
        {ceTxFull, "Переполнение буфера передачи драйвера порта"},
    };
    std::string text;
    for (const auto &[error, message] : texts)
        if (errors.Contains(error))
            text = message;
    return text;
}

void TComInterface::OnPortError(TComErrors errors)
{
    lastLineError_ = LineErrorText(errors);
    if (lastLineError_.empty())
        return;
    Trace("LINE", lastLineError_);
    if (callbackObject && callbackObject->AddLog)
        callbackObject->AddLog(lastLineError_);
}
