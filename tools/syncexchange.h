#pragma once
// One request answered synchronously over the asynchronous engine: the event loop runs until the engine
// calls back or reports an error. For command-line tools, benchmarks and tests, never for windows.

#include <memory>
#include <string>

#include "protocol/switchoff.h"
#include "transport/deviceinterface.h"

class TSyncLink {
public:
    TSyncLink();
    ~TSyncLink();

    TDeviceInterface &Engine() { return *engine_; }

    // The answer to request; raises EKestError with the engine's text when the exchange fails.
    TFramePtr Exchange(const TFramePtr &request);
    // The switch-off of the program's windows: each frame confirmed by its echo, at most maxMs.
    TSwitchOffResult SwitchOff(std::vector<TSwitchOffFrame> frames, int maxMs);

private:
    TCallBackObject callback_;
    std::unique_ptr<TDeviceInterface> engine_;
    TFramePtr answer_;
    std::string error_;
    bool done_ = false;
    std::unique_ptr<TSwitchOff> switchOff_; // after engine_: gone before it
};
