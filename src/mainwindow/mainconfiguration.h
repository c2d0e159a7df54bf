#pragma once
// The main window per device configuration: one row each, holding what only the main window keeps (the
// command queued when the configuration is applied, output controls, panels, toggles, readout groups,
// how the analog outputs are shown), and the readout groups themselves with their units and precision.
// The calculator, the decoding of the transducer's answer and the analog parameter of a single-output
// configuration are the shared configuration row's.

#include <QString>

#include <memory>
#include <optional>
#include <vector>

#include "mainwindow/mainview.h"
#include "protocol/configuration.h"
#include "protocol/kestcmdmanager.h"

// One readout group of the window: caption, unit, decimals of the installation value, widgets.
struct TReadoutGroupDef {
    QString caption;
    QString unit;
    int decimals = 2;
    std::vector<std::pair<int, QString>> widgets; // parameter number, caption
};

// The nine groups in the order they are built.
const std::vector<TReadoutGroupDef> &ReadoutGroups();
// The readout widgets in the order the transducer's readings are shown (31 of them).
const std::vector<int> &ReadoutOrder();
// Decimals of a widget's installation value: its group's, and those a current range ("5" or another)
// gives the currents and powers (none for the other quantities).
int GroupDecimals(int param);
std::optional<int> RangeDecimals(int param, bool fiveAmpRange);

struct TMainConfigurationRow {
    enum class TAnalogSetUp { Single, PQ, Qx4 };

    TConfigurationCode code;
    std::optional<bool> uaU650; // the CreateCmdSetUaU650 queued on applying it; none: nothing queued
    QStringList outputControls; // left to right
    bool currentRangePanel = false;
    bool schemePanel = false;
    bool voltagePanel = false;
    bool uRangeList = false;
    bool addressPanel = false; // "Авто", "Адр." (and the installation's auto mode from them)
    bool protocolList = false;
    bool rsParamNumber = false;
    bool phaseToggles = false; // "Ib"/"Ic" beside "Ia" as the scheme says
    bool energyGroups = false;
    TAnalogSetUp analog = TAnalogSetUp::Single;
    QString analogCaption{}; // Single: the selector's caption (empty: the parameter's name)
    std::vector<TMainLayout::TGroup> groups4{}; // readout groups in the four-wire scheme
    std::vector<TMainLayout::TGroup> groups3{}; // and in the three-wire one
};

const TMainConfigurationRow &MainConfiguration(TConfigurationCode code);

// The layout of a configuration in a scheme; an empty layout when nothing is selected.
TMainLayout MainLayout(const TMainConfigurationRow *row, bool scheme4);
