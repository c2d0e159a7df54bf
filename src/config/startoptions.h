#pragma once
// What this run of the program was started with (--port1/--port2, the demo): every window opened in this
// run talks over these ports instead of the settings' "Port1"/"Port2" and starts on this voltage range;
// the settings file keeps its own. Empty or none: the settings' own.

#include "protocol/ranges.h"

#include <QString>

#include <optional>

struct TStartOptions {
    QString port1; // the installation
    QString port2; // the transducer on its own line
    std::optional<TVoltageRange> voltage; // the voltage range the windows start on
};
