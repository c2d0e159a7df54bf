#pragma once
// What the verification windows of the device configurations differ in: the shared configuration row
// (calculator, decoding, range correction, entry panel, analog set-up, the windows and settings it uses)
// and what only the verification window keeps, one row per window: its class name, the output columns
// its tabs are bound to, how its tabs come back, what it sends on opening and how its scenario window's
// analog assignment is taken.

#include "presentation/configurationrow.h"

#include <vector>

struct TVerificationWindowRow {
    TConfigurationCode window; // the key: the code whose window this is
    const char *windowName; // the window class: "TForm3", "TAvtopoverkaI" …
    std::vector<int> fixedOutputs; // output columns of every RS tab; empty: the configuration's
    bool reshowHiddenTabs; // "+" with ten tabs shows a closed one again
    int initialRsParamNum; // sent when the window opens (0: nothing)
    bool scenarioAlwaysFixedAnalog; // the scenario window never reads the analog set itself
    bool scenarioTakesAnalogOut; // a non-zero analog assignment of the scenario window is taken
};

struct TVerificationTypeRow : TConfigurationRow, TVerificationWindowRow { };

const TVerificationTypeRow &VerificationType(TConfigurationCode code);
