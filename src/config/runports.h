#pragma once
// The ports given for this run of the program (--port1/--port2, the demo's simulated installation): every
// window opened in this run talks over them instead of the settings' "Port1"/"Port2"; the settings file
// keeps its own. Empty: the settings' port.

#include <QString>

struct TRunPorts {
    QString port1; // the installation
    QString port2; // the transducer on its own line
};
