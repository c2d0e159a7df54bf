#pragma once
// The request/response engine with Modbus RTU validation of each answer: check bytes and exception
// answers, with the standard exception texts. Every window talks to its devices through one of these.

#include "transport/cominterfacewithcallback.h"

class TDeviceInterface : public TComInterfaceWithCallback {
    Q_OBJECT
public:
    using TComInterfaceWithCallback::TComInterfaceWithCallback;
    ~TDeviceInterface() override;

    // Why an answer is refused; empty when it is accepted. Public for tests and tools.
    static std::string ValidationError(const TFrame &answer);

    static constexpr const char *kShortAnswer = "Неполный ответ устройства.";

protected:
    void ReadAnswer() override;
};
