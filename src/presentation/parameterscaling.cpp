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
    case piUa:
    case piUb:
    case piUc:
    case piULa:
    case piULb:
    case piULc:
    case piU:
    case piUL:
    case piU0:
        return 770;
    case piIa:
    case piIb:
    case piIc:
    case piI:
    case piI0:
        return 8000;
    default:
        return 800;
    }
}

double TParameterScaling::GetScale(int paramNumber, double I, double U)
{
    // By ranges of the numbering, as the full scales are defined; 25 (the total power factor) shares
    // the frequency's 50.
    if (paramNumber <= piUc)
        return U / kSqrt3;
    if (paramNumber <= piIc)
        return I;
    if (paramNumber <= piULc)
        return U;
    if (paramNumber <= piSc)
        return U * I / kSqrt3;
    if (paramNumber <= piKc)
        return 1.0;
    if (paramNumber <= piS)
        return kSqrt3 * U * I;
    if (paramNumber <= piFreq)
        return 50.0;
    switch (paramNumber) {
    case piU:
        return U / kSqrt3;
    case piI:
        return I;
    case piUL:
        return U;
    case piU0:
        return U / kSqrt3;
    default:
        return I;
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
    case 1:
        return QStringLiteral("k");
    case 2:
        return QStringLiteral("M");
    case 3:
        return QStringLiteral("G");
    default:
        return QString();
    }
}

QString TParameterScaling::GetUnitName(int unitCode)
{
    static const char *const kNames[kUnitCodeCount] = {
        "V",
        "A",
        "W",
        "var",
        "kV",
        "kA",
        "kW",
        "kvar",
        "MV",
        "MA",
        "MW",
        "Mvar",
        "Hz",
        "C",
        "mA",
        "mkA",
        "GW",
        "Gvar",
        "mV",
        "N",
        "%",
        "",
        "",
        "",
        "",
    };
    if (unitCode < 1 || unitCode > kUnitCodeCount)
        return QString();
    return QString::fromLatin1(kNames[unitCode - 1]);
}
