#include "protocol/inputdata.h"

#include "protocol/numberformat.h"

#include <utility>

TInputData::TInputData()
    : Ia(kAmperageIndex, QStringLiteral("Ток"), QStringLiteral("A")), Ib(kAmperageIndex, QString(), QString()),
      Ic(kAmperageIndex, QString(), QString()), Ua(kVoltageIndex, QStringLiteral("Напр."), QStringLiteral("V")),
      Ub(kVoltageIndex, QString(), QString()), Uc(kVoltageIndex, QString(), QString()),
      Angle(kAngleIndex, QStringLiteral("Угол"), QStringLiteral("°")),
      Freq(kFrequencyIndex, QStringLiteral("Частота"), QStringLiteral("Hz"))
{
}

const TParameter *TInputData::GetParameterByIndex(int index) const
{
    if (Freq.index == index)
        return &Freq;
    if (Angle.index == index)
        return &Angle;
    if (Ua.index == index)
        return &Ua;
    if (Ia.index == index)
        return &Ia;
    return nullptr;
}

TParameter *TInputData::GetParameterByIndex(int index)
{
    return const_cast<TParameter *>(std::as_const(*this).GetParameterByIndex(index));
}

QString TInputData::ToString() const
{
    QString s = IsRsInterface ? QStringLiteral("-1") : QStringLiteral("0");
    for (const TParameter *p : {&Ia, &Ib, &Ic, &Ua, &Ub, &Uc, &Angle, &Freq})
        s += FloatToQStr(p->value);
    return s;
}
