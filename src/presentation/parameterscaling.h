#pragma once
// How a measured parameter relates to the full scale of a measuring transformer, which unit prefix
// shows it in primary units, and the short fixed-width number texts of the read-only fields.
// No state: every operation is static, and an instance may be created where that reads better.
//
// Parameter numbers are the indices of the parameter model: 1–3 phase voltages, 4–6 currents, 7–9
// line voltages, 10–12 active and 13–15 reactive phase powers, 16–18 apparent phase powers, 19–21
// power factors, 22–24 total P, Q, S, 25 total power factor, 26 frequency, 27 mean phase voltage,
// 28 mean current, 29 mean line voltage, 30 zero-sequence voltage, 31 zero-sequence current.

#include "protocol/parameters.h"

#include <QString>

class TParameterScaling {
public:
    // The largest value shown without moving to the next prefix.
    static int GetLimit(int paramNumber);

    // Full scale of the parameter for nominal current I and nominal line voltage U. Secondary
    // values (I2, U2) give the secondary full scale, primary ones (I1, U1) the primary.
    static double GetScale(int paramNumber, double I, double U);

    // Prefix number (0 none, 1 "k", 2 "M", 3 "G") for showing the parameter in primary units.
    static int GetPrefixNum(int paramNum, const TTransfCoefs &transfCoefs);

    // GetStringFromFloat with 4 digits of value / 1000^prefix.
    static QString GetValueStringAccordingToPrefix(int prefix, double value);

    // `digitsNum` digits, cut and not rounded, decimal comma: 57,7350 → "57,73", 0,5 → "0,500",
    // 5 → "5,00", 123 → "123". Values that would show as zero, and values of 2147483647 or more,
    // give "0". An integer part wider than the room is shown whole rather than cut (10000 → "10000").
    static QString GetStringFromFloat(int digitsNum, double value);

    // "", "k", "M", "G" for prefix numbers 0–3; "" for any other.
    static QString GetPrefixName(int prefixNum);

    // Unit name by the unit code a transducer reports (1 "V" … 21 "%", 22–25 empty); "" outside 1–25.
    static QString GetUnitName(int unitCode);
    static constexpr int kUnitCodeCount = 25;
};
