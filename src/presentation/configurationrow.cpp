#include "presentation/configurationrow.h"

#include "presentation/errorcalculator.h"

namespace {

template<typename T> std::unique_ptr<TErrorCalculator> Make()
{
    return std::make_unique<T>();
}

using K = TKestCmdManager;
using C = TConfigurationCode;

constexpr TEntryPanel kFullPanel{.current = true, .schemeAndVoltage = true, .voltage = true, .rangeList = false};

// "F", "P", "Q" and "PQ" share the PQ windows and sections; only the decoding, the calculator and the
// quantity on the analog output are their own.
TConfigurationRow PqKind(C code, std::unique_ptr<TErrorCalculator> (*calculator)(), TConfigurationRow::TRsParser parser,
    std::array<int, 3> analog)
{
    return {.code = code,
        .makeCalculator = calculator,
        .rsParser = parser,
        .isQx4 = false,
        .aru = TAruKind::Qx4,
        .fixedAnalogParams = analog,
        .fixedAnalogInputs = {},
        .settingsCode = C::PQ,
        .scenarioWindow = C::PQ,
        .verificationWindow = C::PQ,
        .entry = kFullPanel,
        .highVoltage = THighVoltageRule::Selection,
        .identity = TIdentityLayout::Single};
}

const TConfigurationRow kRows[] = {
    {.code = C::I,
        .makeCalculator = Make<TErrorCalculatorI>,
        .rsParser = &K::ParseParametersRS_ConfigurationI,
        .isQx4 = false,
        .aru = TAruKind::I,
        .fixedAnalogParams = {piIa, 0, 0},
        .fixedAnalogInputs = {QStringLiteral("1")},
        .settingsCode = C::I,
        .scenarioWindow = C::I,
        .verificationWindow = C::I,
        .entry = {.current = true, .schemeAndVoltage = false, .voltage = false, .rangeList = false},
        .highVoltage = THighVoltageRule::Selection,
        .identity = TIdentityLayout::Single},
    {.code = C::U,
        .makeCalculator = Make<TErrorCalculatorU>,
        .rsParser = &K::ParseParametersRS_ConfigurationU,
        .isQx4 = false,
        .aru = TAruKind::U,
        .fixedAnalogParams = {piUa, 0, 0},
        .fixedAnalogInputs = {QStringLiteral("1")},
        .settingsCode = C::U,
        .scenarioWindow = C::U,
        .verificationWindow = C::U,
        .entry = {.current = false, .schemeAndVoltage = false, .voltage = true, .rangeList = true},
        .highVoltage = THighVoltageRule::RangeList,
        .identity = TIdentityLayout::Single},
    PqKind(C::F, Make<TErrorCalculatorF>, &K::ParseParametersRS_ConfigurationF, {piFreq, 0, 0}),
    PqKind(C::P, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationP, {piP, 0, 0}),
    PqKind(C::Q, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationQ, {piQ, 0, 0}),
    PqKind(C::PQ, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationPQ, {piP, piQ, 0}),
    {.code = C::QX4,
        .makeCalculator = Make<TErrorCalculatorQX4>,
        .rsParser = &K::ParseParametersRS_ConfigurationQX4,
        .isQx4 = true,
        .aru = TAruKind::Qx4,
        .fixedAnalogParams = {0, 0, 0},
        .fixedAnalogInputs = {},
        .settingsCode = C::QX4,
        .scenarioWindow = C::QX4,
        .verificationWindow = C::QX4,
        .entry = kFullPanel,
        .highVoltage = THighVoltageRule::Selection,
        .identity = TIdentityLayout::Qx4},
    {.code = C::QX4E,
        .makeCalculator = Make<TErrorCalculatorQX4>,
        .rsParser = &K::ParseParametersRS_ConfigurationQX4,
        .isQx4 = true,
        .aru = TAruKind::Qx4,
        .fixedAnalogParams = {0, 0, 0},
        .fixedAnalogInputs = {},
        .settingsCode = C::QX4E,
        .scenarioWindow = C::QX4E,
        .verificationWindow = C::QX4E,
        .entry = kFullPanel,
        .highVoltage = THighVoltageRule::Selection,
        .identity = TIdentityLayout::Qx4},
};
static_assert(std::size(kRows) == kConfigurationCount);

} // namespace

const TConfigurationRow &ConfigurationRow(TConfigurationCode code)
{
    return kRows[ConfigurationIndex(code)]; // the rows stand in code order
}
