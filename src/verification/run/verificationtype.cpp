#include "verification/run/verificationtype.h"

#include "presentation/errorcalculator.h"

namespace {

template<typename T> std::unique_ptr<TErrorCalculator> Make()
{
    return std::make_unique<T>();
}

using K = TKestCmdManager;
using C = TConfigurationCode;

// The PQ window's row, for "PQ" and the three configurations that open it.
TVerificationTypeRow PqRow(C code, std::unique_ptr<TErrorCalculator> (*calculator)(),
    TVerificationTypeRow::TRsParser parser, std::array<int, 3> analog)
{
    return {code, "TAvtopoverkaPQ", "PQ", calculator, parser, TAruKind::Qx4, false, false,
        /*current*/ true, /*scheme*/ true, /*voltage*/ true, /*range*/ false, {}, analog, {}, true, 2, true, true};
}

const TVerificationTypeRow kRows[] = {
    {C::I, "TAvtopoverkaI", "I", Make<TErrorCalculatorI>, &K::ParseParametersRS_ConfigurationI, TAruKind::I, false,
        false, true, false, false, false, {piIa}, {piIa, 0, 0}, {QStringLiteral("1")}, false, 0, false, false},
    {C::U, "TAvtopoverkaU", "U", Make<TErrorCalculatorU>, &K::ParseParametersRS_ConfigurationU, TAruKind::U, false,
        false, false, false, true, true, {piUa}, {piUa, 0, 0}, {QStringLiteral("1")}, false, 0, false, false},
    PqRow(C::F, Make<TErrorCalculatorF>, &K::ParseParametersRS_ConfigurationF, {piFreq, 0, 0}),
    PqRow(C::P, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationP, {piP, 0, 0}),
    PqRow(C::Q, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationQ, {piQ, 0, 0}),
    PqRow(C::PQ, Make<TErrorCalculatorPQ>, &K::ParseParametersRS_ConfigurationPQ, {piP, piQ, 0}),
    {C::QX4, "TForm3", "QX4", Make<TErrorCalculatorQX4>, &K::ParseParametersRS_ConfigurationQX4, TAruKind::Qx4, true,
        true, true, true, true, false, {}, {0, 0, 0}, {}, true, 0, false, true},
    {C::QX4E, "TAvtopoverkaQX4E", "QX4E", Make<TErrorCalculatorQX4>, &K::ParseParametersRS_ConfigurationQX4,
        TAruKind::Qx4, true, true, true, true, true, false, {}, {0, 0, 0}, {}, true, 0, false, false},
};
static_assert(std::size(kRows) == kConfigurationCount);

} // namespace

const TVerificationTypeRow &VerificationType(TConfigurationCode code)
{
    for (const TVerificationTypeRow &row : kRows)
        if (row.code == code)
            return row;
    return kRows[static_cast<int>(C::QX4)];
}
