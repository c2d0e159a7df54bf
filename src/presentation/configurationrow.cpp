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

// "F", "P", "Q" and "PQ" share the PQ windows and sections; the decoding, the calculator and the
// quantities on the analog outputs are their own. The calculator is the configuration's own even where
// the window is the PQ one: the frequency transducer's errors are taken against the frequency's full
// scale (50 Hz, and the 45–55 Hz band on the analog output), not against the power's √3·U·I.
TConfigurationRow PqKind(C code, std::unique_ptr<TErrorCalculator> (*calculator)(), TConfigurationRow::TRsParser parser,
    std::array<int, 3> analog, QStringList analogInputs)
{
    return {.code = code,
        .makeCalculator = calculator,
        .rsParser = parser,
        .isQx4 = false,
        .aru = TAruKind::Qx4,
        .fixedAnalogParams = analog,
        .fixedAnalogInputs = std::move(analogInputs),
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
    // The single-quantity transducers have one analog output: it is the one read.
    PqKind(C::F, Make<TErrorCalculatorF>, &K::ParseParametersRS_ConfigurationF, {piFreq, 0, 0}, {QStringLiteral("1")}),
    PqKind(C::P, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationP, {piP, 0, 0}, {QStringLiteral("1")}),
    PqKind(C::Q, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationQ, {piQ, 0, 0}, {QStringLiteral("1")}),
    PqKind(C::PQ, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationPQ, {piP, piQ, 0}, {}),
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
