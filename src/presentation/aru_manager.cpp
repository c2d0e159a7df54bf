#include "presentation/aru_manager.h"

#include "presentation/parameterscaling.h"

#include <algorithm>
#include <cmath>

TARU_Manager::TARU_Manager(const TInputData &_inputData, const TTransfCoefs &_transfCoefs, float _aruError,
    bool _ReadOptionIb, bool _Scheme4wired, const TAruLimits &_limits)
    : currentInputData(_inputData), initialInputData(_inputData), transfCoefs(_transfCoefs), AruError(_aruError),
      ReadOptionIb(_ReadOptionIb), Scheme4wired(_Scheme4wired), limits(_limits)
{
}

bool TARU_Manager::Apply(TParameter &current, double corrected, double max)
{
    // Without a usable limit nothing is known to be safe to send: the value stays as it was.
    if (!std::isfinite(corrected) || !(max >= 0) || !std::isfinite(max))
        return false;
    const double bounded = std::clamp(corrected, 0.0, max);
    if (bounded == current.value)
        return false;
    current.value = bounded;
    return true;
}

bool TARU_Manager::IsUsableReading(const TParameter &read)
{
    return read.isDataCorrect && read.value != 0.0 && std::isfinite(read.value);
}

bool TARU_Manager::CorrectInputDataIfThereIsAruErrorQX4(const TParameters &params)
{
    struct TQuantity {
        TParameter TInputData::*input;
        TParameter TParameters::*reading;
        int paramNumber; // for the full scale: the measured quantity's own number
        double TAruLimits::*max;
    };
    static const TQuantity kQuantities[] = {
        {&TInputData::Ia, &TParameters::Ia, piIa, &TAruLimits::maxCurrent},
        {&TInputData::Ib, &TParameters::Ib, piIb, &TAruLimits::maxCurrent},
        {&TInputData::Ic, &TParameters::Ic, piIc, &TAruLimits::maxCurrent},
        {&TInputData::Ua, &TParameters::Ua, piUa, &TAruLimits::maxVoltage},
        {&TInputData::Ub, &TParameters::Ub, piUb, &TAruLimits::maxVoltage},
        {&TInputData::Uc, &TParameters::Uc, piUc, &TAruLimits::maxVoltage},
    };
    const double e = Tolerance();
    bool corrected = false;
    for (const TQuantity &q : kQuantities) {
        if (q.input == &TInputData::Ib && !ReadOptionIb && !Scheme4wired)
            continue;
        const double target = (initialInputData.*q.input).value;
        const TParameter &read = params.*q.reading;
        if (!IsUsableReading(read))
            continue;
        const double full = TParameterScaling::GetScale(q.paramNumber, transfCoefs.I2, transfCoefs.U2);
        if (!(full > 0.0) || !std::isfinite(full))
            continue; // no full scale to judge the deviation by
        if (std::fabs(target - read.value) / full <= e)
            continue;
        TParameter &current = currentInputData.*q.input;
        if (Apply(current, target / read.value * current.value, limits.*q.max))
            corrected = true;
    }
    return corrected;
}

bool TARU_Manager::CorrectByRatio(
    const TParameter &target, const TParameter &read, TParameter &current, double max) const
{
    if (!IsUsableReading(read))
        return false;
    const double ratio = target.value / read.value;
    if (std::fabs(ratio - 1.0) <= Tolerance())
        return false;
    // The installation takes single-precision values; the step works on what it was sent.
    return Apply(current, ratio * double(float(current.value)), max);
}

bool TARU_Manager::CorrectInputDataIfThereIsAruErrorI(const TParameters &params)
{
    return CorrectByRatio(initialInputData.Ia, params.Ia, currentInputData.Ia, limits.maxCurrent);
}

bool TARU_Manager::CorrectInputDataIfThereIsAruErrorU(const TParameters &params)
{
    bool corrected = CorrectByRatio(initialInputData.Ua, params.Ua, currentInputData.Ua, limits.maxVoltage);
    if (params.Ua.value > 300.0)
        corrected = CorrectByRatio(initialInputData.Uc, params.Uc, currentInputData.Uc, limits.maxVoltage) || corrected;
    return corrected;
}
