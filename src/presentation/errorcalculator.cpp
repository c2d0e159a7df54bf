#include "presentation/errorcalculator.h"

#include "presentation/parameterscaling.h"
#include "protocol/ranges.h"

#include <cmath>
#include <limits>

namespace {

const double kSqrt3 = std::sqrt(3.0);
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The two lower ranges added after the first three have their zero at the bottom for every
// parameter, signed or not: "0 - 5 мА" starts at 0 mA and "4 - 20 мА" at 4 mA.
const TErrorCalculator::TAnalogRange kRanges[TErrorCalculator::kAnalogRangeCount] = {
    {"-5 - 0 - +5 мА", 5.0, 0.0, 0.0},
    {"4 - 12 - 20 мА", 20.0, 4.0, 12.0},
    {"0 - 2,5 - 5 мА", 5.0, 2.5, 2.5},
    {"0 - 5 мА", 5.0, 0.0, 0.0},
    {"4 - 20 мА", 20.0, 4.0, 4.0},
};

bool IsFrequency(int paramNum)
{
    return paramNum == piFreq;
}

// The voltage transducer is measured on the range of "Диапазон": its top is the installation's full
// scale, as the transducer's own scale is its top. The voltage selection is hidden in that window and
// says nothing about the transducer.
double VoltageTransducerScale(const TKestConfiguration &k)
{
    const std::optional<TURange> range = URangeFromIndex(k.URangeIndex);
    return range ? RangeRow(*range).top : double(k.VoltageMax);
}

} // namespace

const TErrorCalculator::TAnalogRange &TErrorCalculator::AnalogRange(int amperageRangeNum)
{
    return kRanges[amperageRangeNum];
}

QStringList TErrorCalculator::AnalogRangeCaptions()
{
    QStringList captions;
    for (const TAnalogRange &r : kRanges)
        captions << QString::fromUtf8(r.caption);
    return captions;
}

bool TErrorCalculator::IsSignedPower(int paramNum)
{
    return (paramNum >= piPa && paramNum <= piQc) || paramNum == piP || paramNum == piQ;
}

bool TErrorCalculator::FrequencyBand(int index, double &low, double &high)
{
    static const double kBands[5][2] = {{0, 0}, {45, 55}, {48, 52}, {49, 51}, {47, 52}};
    if (index < 1 || index > 5)
        return false;
    low = kBands[index - 1][0];
    high = kBands[index - 1][1];
    return true;
}

double TErrorCalculator::DigitalError(double value, double kestFullScale, double valueRs, double rsFullScale)
{
    const double error = (valueRs / rsFullScale - value / kestFullScale) * 100.0;
    return std::fabs(error) > 100.0 ? std::round(error) : error;
}

double TErrorCalculator::AnalogError(int paramNum, int FreqLimitIndex, const TKestConfiguration &kestConfiguration,
    double p, double &value, double valueAnalog)
{
    const int rangeNum = kestConfiguration.AmperageRangeNum;
    if (rangeNum >= kAnalogRangeCount) {
        // A range the installation does not offer: there is no expected current to compare with.
        value = kNaN;
        return kNaN;
    }
    if (IsFrequency(paramNum)) {
        double low = 0;
        double high = 0;
        // A band without width (band 1) cannot normalise anything: the reading counts as the
        // band's bottom instead of dividing by zero.
        if (FrequencyBand(FreqLimitIndex, low, high) && high > low)
            p = (value - low) / (high - low);
        else
            p = 0.0;
    }
    const TAnalogRange &range = kRanges[rangeNum];
    const double low = IsSignedPower(paramNum) ? range.lowSigned : range.low;
    const double b = low + p * (range.up - low);
    double error = (valueAnalog - b) / range.up * 100.0;
    if (IsFrequency(paramNum))
        error /= rangeNum == 1 ? 4.0 : 5.0;
    value = b;
    return error;
}

// --- I ---

double TErrorCalculatorI::CalculateError(
    int, const TDeviceInfo &devinfo, const TKestConfiguration &k, double value, double valueRs) const
{
    return DigitalError(value, k.AmperageMax, valueRs, devinfo.Scale);
}

double TErrorCalculatorI::CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &,
    const TKestConfiguration &k, double &value, double valueAnalog) const
{
    return AnalogError(paramNum, FreqLimitIndex, k, value / k.AmperageMax, value, valueAnalog);
}

// --- U ---

double TErrorCalculatorU::CalculateError(
    int, const TDeviceInfo &devinfo, const TKestConfiguration &k, double value, double valueRs) const
{
    return DigitalError(value, VoltageTransducerScale(k), valueRs, devinfo.Scale);
}

double TErrorCalculatorU::CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &,
    const TKestConfiguration &k, double &value, double valueAnalog) const
{
    return AnalogError(paramNum, FreqLimitIndex, k, value / VoltageTransducerScale(k), value, valueAnalog);
}

// --- F ---

double TErrorCalculatorF::CalculateError(
    int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &, double value, double valueRs) const
{
    const TTransfCoefs &c = devinfo.transfCoefs;
    return DigitalError(value, TParameterScaling::GetScale(paramNum, c.I2, c.U2), valueRs,
        TParameterScaling::GetScale(paramNum, c.I1, c.U1));
}

double TErrorCalculatorF::CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &,
    const TKestConfiguration &k, double &value, double valueAnalog) const
{
    return AnalogError(paramNum, FreqLimitIndex, k, value / k.VoltageMax, value, valueAnalog);
}

// --- PQ ---

double TErrorCalculatorPQ::CalculateError(
    int, const TDeviceInfo &devinfo, const TKestConfiguration &k, double value, double valueRs) const
{
    return DigitalError(value, k.AmperageMax * k.VoltageMax * kSqrt3, valueRs, devinfo.Scale);
}

double TErrorCalculatorPQ::CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &,
    const TKestConfiguration &k, double &value, double valueAnalog) const
{
    return AnalogError(
        paramNum, FreqLimitIndex, k, value / (k.AmperageMax * k.VoltageMax * kSqrt3), value, valueAnalog);
}

// --- QX4 ---

double TErrorCalculatorQX4::CalculateError(
    int paramNum, const TDeviceInfo &devinfo, const TKestConfiguration &, double value, double valueRs) const
{
    const TTransfCoefs &c = devinfo.transfCoefs;
    return DigitalError(value, TParameterScaling::GetScale(paramNum, c.I2, c.U2), valueRs,
        TParameterScaling::GetScale(paramNum, c.I1, c.U1));
}

double TErrorCalculatorQX4::CalculateErrorAnalog(int paramNum, int FreqLimitIndex, const TDeviceInfo &devinfo,
    const TKestConfiguration &k, double &value, double valueAnalog) const
{
    const TTransfCoefs &c = devinfo.transfCoefs;
    double p = value / TParameterScaling::GetScale(paramNum, c.I2, c.U2);
    // The voltage outputs of a QX4 reach their top at 125 % of the nominal voltage.
    const bool voltage
        = (paramNum >= piUa && paramNum <= piUc) || paramNum == piU || (paramNum >= piULa && paramNum <= piULc);
    if (voltage)
        p /= 1.25;
    return AnalogError(paramNum, FreqLimitIndex, k, p, value, valueAnalog);
}
