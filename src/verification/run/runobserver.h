#pragma once
// What a verification run tells those who follow it (the window's status line, the command line, a
// results journal): that it started and with what, the transducer's identity when it is read, every
// point the moment its row is filled, and how it ended. Observers only look; they are called on the
// window's thread, in the order they were added, and must not start or stop runs from inside a call.

#include "protocol/configuration.h"
#include "protocol/inputdata.h"
#include "protocol/parameters.h"
#include "protocol/ranges.h"
#include "verification/avtopoverkagrid.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// Which points a run takes: the active tab's rows, the rows of every visible tab with data, or the
// selected row of the active tab.
enum class TRunScope { CurrentTab, AllTabs, SelectedRow };

enum class TRunOutcome { Finished, Stopped, Failed };

// One point of a run, where its results go.
struct TRunPoint {
    int tab = 0; // 0-based tab
    int row = 1; // data row of the tab's table, from 1
    TInputData input; // as the row holds it; IsRsInterface is the tab's interface
    bool IsRs() const { return input.IsRsInterface; }
};

struct TRunStart {
    TConfigurationCode configuration = TConfigurationCode::QX4;
    TRunScope scope = TRunScope::CurrentTab;
    std::vector<TRunPoint> points; // the whole run, in run order
    int firstPoint = 0; // index of the first point measured now (more than 0: a run continued)
    TKestConfiguration kestConfiguration; // ranges, scheme, load, analog output range as sent
    bool scheme4 = true;
    TCurrentRange currentRange = TCurrentRange::A5;
    TVoltageRange voltageRange = TVoltageRange::V380;
    bool aru = false;
    double permissibleError = 0; // percent
    double permissibleErrorFreq = 0; // percent, for the frequency
    double permissibleErrorAnalog = 0; // percent, for analog outputs
    TTransfCoefs transfCoefs; // in force at the start
    std::optional<TDeviceInfo> deviceInfo; // the transducer's identity, when known at the start
    int waitingTimeMs = 0; // the measuring time of every point
    QDateTime time;
};

struct TMeasuredPoint {
    int index = 0; // in TRunStart::points
    TRunPoint point;
    TInputData sent; // the values the installation was last set to for it (range correction included)
    bool reused = false; // filled from an identical point measured earlier in the run
    TParametersPtr installation; // the installation's 33 readings (the last reading of the point)
    TParametersPtr transducer; // the transducer's relayed readings; null for analog tabs or when none came
    std::array<double, 3> analogCurrents{}; // mA measured on analog inputs 1–3 (analog tabs)
    QString note; // why the transducer's cells hold no reading (it did not answer through the installation)
    TSuperAvtopoverkaGrid::TRowResults results; // per parameter: values, errors, over-limit flags
    QStringList cells; // the row's cell texts, column 0 first
    std::vector<bool> marks; // the row's error marks, per column
    QDateTime time;
};

struct TRunEnd {
    TRunOutcome outcome = TRunOutcome::Finished;
    QString error; // why it failed
    int measured = 0; // points filled in this run
    bool outputsOff = false; // zero current and voltage were confirmed by the installation
    QDateTime time;
};

class IRunObserver {
public:
    virtual ~IRunObserver() = default;
    virtual void RunStarted(const TRunStart &) { }
    virtual void DeviceIdentified(const TDeviceInfo &) { }
    virtual void PointMeasured(const TMeasuredPoint &) { }
    virtual void RunEnded(const TRunEnd &) { }
};
