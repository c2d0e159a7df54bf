#include "protocol/parameters.h"

#include <array>
#include <utility>

namespace {

// The 33 quantities, built once: every new reading set copies them, which only shares the texts.
const TParameter &Proto(int index)
{
    static const std::array<TParameter, TParameters::kCount> protos = [] {
        const QString V = QStringLiteral("V"), A = QStringLiteral("A"), W = QStringLiteral("W"),
                      Var = QStringLiteral("Var"), VA = QStringLiteral("V\u00B7A"), none;
        return std::array<TParameter, TParameters::kCount>{TParameter(1, QStringLiteral("Ua"), V),
            TParameter(2, QStringLiteral("Ub"), V), TParameter(3, QStringLiteral("Uc"), V),
            TParameter(4, QStringLiteral("Ia"), A), TParameter(5, QStringLiteral("Ib"), A),
            TParameter(6, QStringLiteral("Ic"), A), TParameter(7, QStringLiteral("Uab"), V),
            TParameter(8, QStringLiteral("Ubc"), V), TParameter(9, QStringLiteral("Uac"), V),
            TParameter(10, QStringLiteral("Pa"), W), TParameter(11, QStringLiteral("Pb"), W),
            TParameter(12, QStringLiteral("Pc"), W), TParameter(13, QStringLiteral("Qa"), Var),
            TParameter(14, QStringLiteral("Qb"), Var), TParameter(15, QStringLiteral("Qc"), Var),
            TParameter(16, QStringLiteral("Sa"), VA), TParameter(17, QStringLiteral("Sb"), VA),
            TParameter(18, QStringLiteral("Sc"), VA), TParameter(19, QStringLiteral("Ka"), none),
            TParameter(20, QStringLiteral("Kb"), none), TParameter(21, QStringLiteral("Kc"), none),
            TParameter(22, QStringLiteral("P"), W), TParameter(23, QStringLiteral("Q"), Var),
            TParameter(24, QStringLiteral("S"), VA), TParameter(25, QStringLiteral("K сум."), none),
            TParameter(26, QStringLiteral("F"), QStringLiteral("Hz")),
            TParameter(27, QStringLiteral("U фазное ср."), V), TParameter(28, QStringLiteral("I ср."), A),
            TParameter(29, QStringLiteral("U лин. ср."), V), TParameter(30, QStringLiteral("U0"), V),
            TParameter(31, QStringLiteral("I0"), A), TParameter(32, QStringLiteral("Wa"), none),
            TParameter(33, QStringLiteral("Wr"), none)};
    }();
    return protos[static_cast<size_t>(index - 1)];
}

} // namespace

TParameters::TParameters()
    : Ua(Proto(1)), Ub(Proto(2)), Uc(Proto(3)), Ia(Proto(4)), Ib(Proto(5)), Ic(Proto(6)), ULa(Proto(7)), ULb(Proto(8)),
      ULc(Proto(9)), Pa(Proto(10)), Pb(Proto(11)), Pc(Proto(12)), Qa(Proto(13)), Qb(Proto(14)), Qc(Proto(15)),
      Sa(Proto(16)), Sb(Proto(17)), Sc(Proto(18)), Ka(Proto(19)), Kb(Proto(20)), Kc(Proto(21)), P(Proto(22)),
      S(Proto(24)), Q(Proto(23)), K(Proto(25)), Freq(Proto(26)), U(Proto(27)), I(Proto(28)), UL(Proto(29)),
      U0(Proto(30)), I0(Proto(31)), Ea(Proto(32)), Er(Proto(33))
{
    BindArray();
}

TParameters::TParameters(const TParameters &other)
    : TSuperParameterList(), Ua(other.Ua), Ub(other.Ub), Uc(other.Uc), Ia(other.Ia), Ib(other.Ib), Ic(other.Ic),
      ULa(other.ULa), ULb(other.ULb), ULc(other.ULc), Pa(other.Pa), Pb(other.Pb), Pc(other.Pc), Qa(other.Qa),
      Qb(other.Qb), Qc(other.Qc), Sa(other.Sa), Sb(other.Sb), Sc(other.Sc), Ka(other.Ka), Kb(other.Kb), Kc(other.Kc),
      P(other.P), S(other.S), Q(other.Q), K(other.K), Freq(other.Freq), U(other.U), I(other.I), UL(other.UL),
      U0(other.U0), I0(other.I0), Ea(other.Ea), Er(other.Er)
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
    ParamArray = {&Ua, &Ub, &Uc, &Ia, &Ib, &Ic, &ULa, &ULb, &ULc, &Pa, &Pb, &Pc, &Qa, &Qb, &Qc, &Sa, &Sb, &Sc, &Ka, &Kb,
        &Kc, &P, &Q, &S, &K, &Freq, &U, &I, &UL, &U0, &I0, &Ea, &Er, nullptr};
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
