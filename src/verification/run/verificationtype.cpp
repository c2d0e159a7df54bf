#include "verification/run/verificationtype.h"

#include <array>
#include <stdexcept>

namespace {

using C = TConfigurationCode;

const TVerificationWindowRow kWindows[] = {
    {.window = C::I,
        .windowName = "TAvtopoverkaI",
        .fixedOutputs = {piIa},
        .reshowHiddenTabs = false,
        .initialRsParamNum = 0,
        .scenarioAlwaysFixedAnalog = false,
        .scenarioTakesAnalogOut = false},
    {.window = C::U,
        .windowName = "TAvtopoverkaU",
        .fixedOutputs = {piUa},
        .reshowHiddenTabs = false,
        .initialRsParamNum = 0,
        .scenarioAlwaysFixedAnalog = false,
        .scenarioTakesAnalogOut = false},
    {.window = C::PQ,
        .windowName = "TAvtopoverkaPQ",
        .fixedOutputs = {},
        .reshowHiddenTabs = true,
        .initialRsParamNum = 2,
        .scenarioAlwaysFixedAnalog = true,
        .scenarioTakesAnalogOut = true},
    // The single-quantity transducers open the PQ window; their tabs are bound to the one quantity
    // they measure, whatever the PQ sections store, as the current and voltage windows are.
    {.window = C::F,
        .windowName = "TAvtopoverkaPQ",
        .fixedOutputs = {piFreq},
        .reshowHiddenTabs = true,
        .initialRsParamNum = 2,
        .scenarioAlwaysFixedAnalog = true,
        .scenarioTakesAnalogOut = false},
    {.window = C::P,
        .windowName = "TAvtopoverkaPQ",
        .fixedOutputs = {piP},
        .reshowHiddenTabs = true,
        .initialRsParamNum = 2,
        .scenarioAlwaysFixedAnalog = true,
        .scenarioTakesAnalogOut = false},
    {.window = C::Q,
        .windowName = "TAvtopoverkaPQ",
        .fixedOutputs = {piQ},
        .reshowHiddenTabs = true,
        .initialRsParamNum = 2,
        .scenarioAlwaysFixedAnalog = true,
        .scenarioTakesAnalogOut = false},
    {.window = C::QX4,
        .windowName = "TForm3",
        .fixedOutputs = {},
        .reshowHiddenTabs = true,
        .initialRsParamNum = 0,
        .scenarioAlwaysFixedAnalog = false,
        .scenarioTakesAnalogOut = true},
    {.window = C::QX4E,
        .windowName = "TAvtopoverkaQX4E",
        .fixedOutputs = {},
        .reshowHiddenTabs = true,
        .initialRsParamNum = 0,
        .scenarioAlwaysFixedAnalog = false,
        .scenarioTakesAnalogOut = false},
};

// The row of the configuration's own kind where it has one, else that of the window it opens.
const TVerificationWindowRow &WindowRow(C code, C window)
{
    for (const TVerificationWindowRow &row : kWindows)
        if (row.window == code)
            return row;
    for (const TVerificationWindowRow &row : kWindows)
        if (row.window == window)
            return row;
    // Every configuration row names one of the five windows above; a test walks them all.
    throw std::logic_error("no verification window for this configuration");
}

std::array<TVerificationTypeRow, kConfigurationCount> MakeRows()
{
    std::array<TVerificationTypeRow, kConfigurationCount> rows;
    for (int i = 0; i < kConfigurationCount; ++i) {
        const TConfigurationRow &config = ConfigurationRow(static_cast<C>(i));
        rows[size_t(i)] = TVerificationTypeRow{config, WindowRow(config.code, config.verificationWindow)};
    }
    return rows;
}

} // namespace

const TVerificationTypeRow &VerificationType(TConfigurationCode code)
{
    static const std::array<TVerificationTypeRow, kConfigurationCount> rows = MakeRows();
    return rows[size_t(ConfigurationIndex(code))];
}
