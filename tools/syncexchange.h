#pragma once
// One request answered synchronously over the asynchronous engine: the event loop runs until the engine
// calls back or reports an error. For command-line tools, benchmarks and tests, never for windows.

#include <memory>
#include <string>

#include "transport/deviceinterface.h"

class TSyncLink {
public:
    TSyncLink();
    ~TSyncLink();

    TDeviceInterface &Engine() { return *engine_; }

    // The answer to request; raises EKestError with the engine's text when the exchange fails.
    TFramePtr Exchange(const TFramePtr &request);

private:
    TCallBackObject callback_;
    std::unique_ptr<TDeviceInterface> engine_;
    TFramePtr answer_;
    std::string error_;
    bool done_ = false;
};
