#include "presentation/parameterscaling.h"

#include "protocol/numberformat.h"

#include <charconv>
#include <cmath>

namespace {

const double kSqrt3 = std::sqrt(3.0);

} // namespace

int TParameterScaling::GetLimit(int paramNumber)
{
    switch (paramNumber) {
    case 1: case 2: case 3: case 7: case 8: case 9: case 27: case 29: case 30:
        return 770;
    case 4: case 5: case 6: case 28: case 31:
        return 8000;
    default:
        return 800;
    }
}

double TParameterScaling::GetScale(int paramNumber, double I, double U)
{
    if (paramNumber <= 3)
        return U / kSqrt3;
    if (paramNumber <= 6)
        return I;
    if (paramNumber <= 9)
        return U;
    if (paramNumber <= 18)
        return U * I / kSqrt3;
    if (paramNumber <= 21)
        return 1.0;
    if (paramNumber <= 24)
        return kSqrt3 * U * I;
    if (paramNumber <= 26)
        return 50.0;
    switch (paramNumber) {
    case 27: return U / kSqrt3;
    case 28: return I;
    case 29: return U;
    case 30: return U / kSqrt3;
    default: return I;
    }
}

int TParameterScaling::GetPrefixNum(int paramNum, const TTransfCoefs &transfCoefs)
{
    double s = GetScale(paramNum, transfCoefs.I1, transfCoefs.U1);
    const int limit = GetLimit(paramNum);
    if (!std::isfinite(s))
        return 0;
    // "G" is the largest prefix there is a name for; beyond it the value keeps more integer digits.
    int n = 0;
    while (s >= limit && n < 3) {
        s /= 1000.0;
        ++n;
    }
    return n;
}

QString TParameterScaling::GetValueStringAccordingToPrefix(int prefix, double value)
{
    return GetStringFromFloat(4, value / std::pow(1000.0, prefix));
}

QString TParameterScaling::GetStringFromFloat(int digitsNum, double value)
{
    const QString zero = QStringLiteral("0");
    if (!std::isfinite(value) || value >= 2147483647.0)
        return zero;

    int width = digitsNum;
    if (value != std::trunc(value))
        ++width; // room for the separator
    if (value < 0)
        ++width; // room for the sign

    // Fixed form with ten decimals, rounded there; from_chars/to_chars never look at the locale.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 10);
    if (res.ec != std::errc())
        return zero;
    QString text = QString::fromLatin1(buf, res.ptr - buf);
    const qsizetype point = text.indexOf(u'.');
    text[point] = u',';
    if (width < point)
        width = int(point); // never cut the integer part
    text.truncate(width);
    if (text.endsWith(u','))
        text.chop(1);

    double shown = 0;
    if (!TryStrToFloat(text, shown) || shown == 0.0)
        return zero;
    return text;
}

QString TParameterScaling::GetPrefixName(int prefixNum)
{
    switch (prefixNum) {
    case 1: return QStringLiteral("k");
    case 2: return QStringLiteral("M");
    case 3: return QStringLiteral("G");
    default: return QString();
    }
}

QString TParameterScaling::GetUnitName(int unitCode)
{
    static const char *const kNames[kUnitCodeCount] = {
        "V", "A", "W", "var", "kV", "kA", "kW", "kvar", "MV", "MA", "MW", "Mvar", "Hz", "C", "mA", "mkA",
        "GW", "Gvar", "mV", "N", "%", "", "", "", "",
    };
    if (unitCode < 1 || unitCode > kUnitCodeCount)
        return QString();
    return QString::fromLatin1(kNames[unitCode - 1]);
}
