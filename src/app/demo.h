#pragma once
// What `kestmanager --demo` runs against: kest-sim with a QX4 transducer whose transformation
// coefficients are the program's defaults (KU 100/100, KI 5/5), so that a fresh start reads the
// transducer right without "Авто" and without touching the user's settings, and whose channels carry
// small, realistic gain errors: a few tenths of a percent, some above the default permissible error.

#include "protocol/ranges.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

namespace KestDemo {

// One gain error of the demo's transducer: the quantity as kest-sim names it, its readout number in
// the main window, and the error in percent of the reading.
struct TInjectedError {
    const char *quantity;
    int param;
    double gainPercent;
};

const std::vector<TInjectedError> &InjectedErrors();

// kest-sim's command line for the demo.
QStringList SimulatorArguments();

// The voltage range the window starts on for the demo: that of the demo's transducer (KU 100/100 make it
// a 100 V one), for this run only; the window's own preset, "380", would overdrive it.
TVoltageRange Voltage();

// Starts `program` (kest-sim) with SimulatorArguments() and waits for the two lines that name its
// ports. The simulator gets SIGTERM should the calling process die. False with `error` set when it
// does not come up.
bool StartSimulator(QProcess &sim, const QString &program, QString &installation, QString &device, QString &error);

} // namespace KestDemo
