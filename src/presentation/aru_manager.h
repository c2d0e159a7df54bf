#pragma once
// Automatic range control ("АРУ"): after each reading of the transducer, every phase current and
// voltage whose reading strays from the requested value by more than the permitted error is scaled
// by requested/read, so that the transducer ends up reading what the user asked for.
//
// A manager lives from one user setting to the next: the caller builds a new one whenever the
// requested values change, steps it once per transducer reading and sends `currentInputData` again
// whenever a step returns true.
//
// A corrected value never leaves what the user could have entered on the range in use: a transducer
// that reads far too low (or a wrong wire) must not drive the installation beyond its range.

#include "protocol/inputdata.h"
#include "protocol/parameters.h"

// The entry limits of the range in use, in the units of the values sent (the current, the voltage as
// entered); the lower limit is zero.
struct TAruLimits {
    double maxCurrent = 0;
    double maxVoltage = 0;
};

class TARU_Manager {
public:
    TARU_Manager(const TInputData &_inputData, const TTransfCoefs &_transfCoefs, float _aruError, bool _ReadOptionIb,
        bool _Scheme4wired, const TAruLimits &_limits);

    // Over Ia, Ib (only with ReadOptionIb or Scheme4wired), Ic, Ua, Ub, Uc: a deviation
    // |target − read| beyond AruError % of the secondary full scale is corrected.
    bool CorrectInputDataIfThereIsAruErrorQX4(const TParameters &params);
    // Current transducer: Ia only, by the ratio target/read.
    bool CorrectInputDataIfThereIsAruErrorI(const TParameters &params);
    // Voltage transducer: Ua, and Uc when the read Ua is above 300 V, by the ratio target/read.
    bool CorrectInputDataIfThereIsAruErrorU(const TParameters &params);

    // A reading that is zero, not finite or marked missing says nothing about how far off the
    // output is; such a quantity is left as it is rather than scaled by an infinite ratio.
    static bool IsUsableReading(const TParameter &read);

    TInputData currentInputData; // the values to send next
    TInputData initialInputData; // the values requested (the target)
    TTransfCoefs transfCoefs;
    float AruError; // percent
    bool ReadOptionIb;
    bool Scheme4wired;
    TAruLimits limits;

private:
    // One quantity by the ratio rule; true when it was corrected.
    bool CorrectByRatio(const TParameter &target, const TParameter &read, TParameter &current, double max) const;
    // Takes `corrected` within [0, max]; false when that leaves the value as it was (a value held at
    // its limit is not corrected again and again).
    static bool Apply(TParameter &current, double corrected, double max);
    double Tolerance() const { return double(AruError) / 100.0; }
};
