#pragma once
// One test point (what the installation is asked to output) and the three phase toggles of the
// current output. Both are copyable values; TInputData owns its eight parameters as members and
// GetParameterByIndex points into the object.

#include "protocol/parameters.h"

#include <QString>

struct TToggleStates {
    bool Toggle1 = true; // phase A
    bool Toggle2 = true; // phase B
    bool Toggle3 = true; // phase C

    TToggleStates() = default;
    TToggleStates(bool value1, bool value2, bool value3) : Toggle1(value1), Toggle2(value2), Toggle3(value3) { }
};

class TInputData {
public:
    static constexpr int kAmperageIndex = 100;
    static constexpr int kVoltageIndex = 101;
    static constexpr int kAngleIndex = 102;
    static constexpr int kFrequencyIndex = 103;

    TInputData();

    TParameter Ia, Ib, Ic; // A
    TParameter Ua, Ub, Uc; // V
    TParameter Angle; // degrees
    TParameter Freq; // Hz
    bool IsRsInterface = true;

    // Freq, Angle, Ua or Ia for 103, 102, 101, 100 (never the phase B/C records); nullptr otherwise.
    TParameter *GetParameterByIndex(int index);
    const TParameter *GetParameterByIndex(int index) const;

    // "-1"/"0" for IsRsInterface followed by the eight values in the general form, no separator:
    // the key under which a run finds a point it has measured already.
    QString ToString() const;
};
