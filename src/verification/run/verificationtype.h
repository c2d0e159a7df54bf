#pragma once
// What the verification windows of the device configurations differ in, one row per configuration:
// the verification configuration and scenario window they use, how the transducer's relayed readings
// are decoded and its errors computed, which range correction applies, which controls the entry
// panel shows, and the fixed output and analog set-up of the current and voltage transducers.
//
// "F", "P" and "Q" have no window of their own: they open the PQ window, but decode and judge the
// transducer's readings as their own kind (as the main window does), and their single analog output
// carries their own quantity.

#include "protocol/configuration.h"
#include "protocol/kestcmdmanager.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

class TErrorCalculator;

enum class TAruKind { Qx4, I, U };

struct TVerificationTypeRow {
    using TRsParser = TParametersAndStatusPtr (TKestCmdManager::*)(const TFrame &) const;

    TConfigurationCode code;
    const char *windowName; // the window class: "TForm3", "TAvtopoverkaI" …
    const char *settingsCode; // the verification configuration and scenario window: "QX4", "I", "U", "PQ", "QX4E"
    std::unique_ptr<TErrorCalculator> (*makeCalculator)();
    TRsParser rsParser;
    TAruKind aru;
    bool isQx4; // the transducer's identity block has the QX4 layout
    bool readSettings; // "Прочитать настройки" shown

    // Entry panel.
    bool currentControls; // "Ток" and the current range
    bool schemeAndVoltage; // scheme and voltage range groups
    bool voltageEntry; // "Напр."
    bool rangeList; // "Диапазон" (then also the high-voltage rule and the voltage form)

    std::vector<int> fixedOutputs; // output columns of every RS tab; empty: the configuration's
    std::array<int, 3> fixedAnalogParams; // parameters of analog outputs 1–3; all 0: device or configuration
    QStringList fixedAnalogInputs; // the analog inputs used; empty: the configuration's
    bool reshowHiddenTabs; // "+" with ten tabs shows a closed one again
    int initialRsParamNum; // sent when the window opens (0: nothing)
    bool scenarioAlwaysFixedAnalog; // the scenario window never reads the analog set itself
    bool scenarioTakesAnalogOut; // a non-zero analog assignment of the scenario window is taken
};

const TVerificationTypeRow &VerificationType(TConfigurationCode code);
