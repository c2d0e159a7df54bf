#include "parameters.h"

#include <utility>

namespace {
const QString kV = QStringLiteral("V");
const QString kA = QStringLiteral("A");
const QString kW = QStringLiteral("W");
const QString kVar = QStringLiteral("Var");
const QString kVA = QStringLiteral("V\u00B7A");
} // namespace

TParameters::TParameters()
    : Ua(1, "Ua", kV), Ub(2, "Ub", kV), Uc(3, "Uc", kV),
      Ia(4, "Ia", kA), Ib(5, "Ib", kA), Ic(6, "Ic", kA),
      ULa(7, "Uab", kV), ULb(8, "Ubc", kV), ULc(9, "Uac", kV),
      Pa(10, "Pa", kW), Pb(11, "Pb", kW), Pc(12, "Pc", kW),
      Qa(13, "Qa", kVar), Qb(14, "Qb", kVar), Qc(15, "Qc", kVar),
      Sa(16, "Sa", kVA), Sb(17, "Sb", kVA), Sc(18, "Sc", kVA),
      Ka(19, "Ka", QString()), Kb(20, "Kb", QString()), Kc(21, "Kc", QString()),
      P(22, "P", kW), S(24, "S", kVA), Q(23, "Q", kVar), K(25, QStringLiteral("K сум."), QString()),
      Freq(26, "F", QStringLiteral("Hz")), U(27, QStringLiteral("U фазное ср."), kV),
      I(28, QStringLiteral("I ср."), kA), UL(29, QStringLiteral("U лин. ср."), kV),
      U0(30, "U0", kV), I0(31, "I0", kA), Ea(32, "Wa", QString()), Er(33, "Wr", QString())
{
    BindArray();
}

TParameters::TParameters(const TParameters &other)
    : TSuperParameterList(),
      Ua(other.Ua), Ub(other.Ub), Uc(other.Uc), Ia(other.Ia), Ib(other.Ib), Ic(other.Ic),
      ULa(other.ULa), ULb(other.ULb), ULc(other.ULc), Pa(other.Pa), Pb(other.Pb), Pc(other.Pc),
      Qa(other.Qa), Qb(other.Qb), Qc(other.Qc), Sa(other.Sa), Sb(other.Sb), Sc(other.Sc),
      Ka(other.Ka), Kb(other.Kb), Kc(other.Kc), P(other.P), S(other.S), Q(other.Q), K(other.K),
      Freq(other.Freq), U(other.U), I(other.I), UL(other.UL), U0(other.U0), I0(other.I0),
      Ea(other.Ea), Er(other.Er)
{
    BindArray();
}

TParameters &TParameters::operator=(const TParameters &other)
{
    if (this != &other) {
        // The array points into this object and stays as it is; only the values are copied.
        for (int k = 0; k < kCount; ++k)
            *ParamArray[static_cast<size_t>(k)] = *other.ParamArray[static_cast<size_t>(k)];
    }
    return *this;
}

void TParameters::BindArray()
{
    ParamArray = {&Ua, &Ub, &Uc, &Ia, &Ib, &Ic, &ULa, &ULb, &ULc, &Pa, &Pb, &Pc, &Qa, &Qb, &Qc, &Sa, &Sb,
                  &Sc, &Ka, &Kb, &Kc, &P, &Q, &S, &K, &Freq, &U, &I, &UL, &U0, &I0, &Ea, &Er, nullptr};
}

const TParameter *TParameters::GetParameterByIndex(int index) const
{
    for (int k = 0; k < kCount; ++k)
        if (ParamArray[static_cast<size_t>(k)]->index == index)
            return ParamArray[static_cast<size_t>(k)];
    return nullptr;
}

TParameter *TParameters::GetParameterByIndex(int index)
{
    return const_cast<TParameter *>(std::as_const(*this).GetParameterByIndex(index));
}

const TParameter *TParameters::GetParameterByName(const QString &name) const
{
    for (int k = 0; k < kCount; ++k)
        if (ParamArray[static_cast<size_t>(k)]->name == name)
            return ParamArray[static_cast<size_t>(k)];
    return nullptr;
}

TParameter *TParameters::GetParameterByName(const QString &name)
{
    return const_cast<TParameter *>(std::as_const(*this).GetParameterByName(name));
}
