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

const TVerificationWindowRow &WindowRow(C window)
{
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
        rows[size_t(i)] = TVerificationTypeRow{config, WindowRow(config.verificationWindow)};
    }
    return rows;
}

} // namespace

const TVerificationTypeRow &VerificationType(TConfigurationCode code)
{
    static const std::array<TVerificationTypeRow, kConfigurationCount> rows = MakeRows();
    return rows[size_t(ConfigurationIndex(code))];
}
