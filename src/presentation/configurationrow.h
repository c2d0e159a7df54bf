#pragma once
// Everything that differs between the device configurations and is used by more than one window, one
// row per configuration code. The main window, the verification windows, the scenario windows and the
// settings sections read these facts from here; each window's own table keeps only what is truly its
// own (captions, geometry, tab rules).
//
// "F", "P" and "Q" have no verification or scenario window of their own: they open the PQ ones and keep
// their settings in the PQ sections, but decode and judge the transducer's readings as their own kind,
// their single analog output carries their own quantity, and their tabs show that quantity alone.

#include "protocol/configuration.h"
#include "protocol/kestcmdmanager.h"

#include <QStringList>

#include <array>
#include <memory>

class TErrorCalculator;

// Which range correction ("АРУ") a run applies.
enum class TAruKind { Qx4, I, U };

// How the transducer's identity block is laid out.
enum class TIdentityLayout { Qx4, Single };

// What makes a verification run's voltage "high" (it decides the installation's voltage flag).
enum class THighVoltageRule {
    Selection, // the 380 V or 400 V selection
    RangeList, // the top entry of "Диапазон"
};

// The controls of the verification window's entry panel.
struct TEntryPanel {
    bool current; // "Ток" and the current range
    bool schemeAndVoltage; // scheme and voltage range groups
    bool voltage; // "Напр."
    bool rangeList; // "Диапазон" (then also the voltage transducer's form of the voltage)
};

struct TConfigurationRow {
    using TRsParser = TParametersAndStatusPtr (TKestCmdManager::*)(const TFrame &) const;

    TConfigurationCode code;
    std::unique_ptr<TErrorCalculator> (*makeCalculator)();
    TRsParser rsParser;
    bool isQx4; // the multi-function kind: address, full readout, "Прочитать настройки"
    TAruKind aru;
    std::array<int, 3> fixedAnalogParams; // parameters of analog outputs 1–3; all 0: device or settings
    QStringList fixedAnalogInputs; // the analog inputs read; empty: the tab's stored set
    TConfigurationCode settingsCode; // whose sections of the settings file its verification tabs use
    TConfigurationCode scenarioWindow; // which scenario settings window edits them
    TConfigurationCode verificationWindow; // which verification window it opens
    TEntryPanel entry;
    THighVoltageRule highVoltage;
    TIdentityLayout identity;
};

const TConfigurationRow &ConfigurationRow(TConfigurationCode code);
