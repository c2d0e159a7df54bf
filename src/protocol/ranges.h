#pragma once
// The installation's current ranges, its voltage selections and the voltage transducer's voltage ranges
// ("Диапазон"), each an enumeration with one table. Windows make their captions from the table and hand
// the logic the enumeration; nothing turns a caption back into a number. Texts stored by older versions
// (journal headers, the command line) are looked up by caption in one place, here.

#include <QString>

#include <optional>
#include <vector>

// In the order of the windows' buttons: "1", "5", "0,5", "2,5".
enum class TCurrentRange { A1, A5, A0_5, A2_5 };
// "100", "380", "400".
enum class TVoltageRange { V100, V380, V400 };
// "0..125", "75..125", "0..250", "0..400", "0..500"; the index is what the installation is sent.
enum class TURange { R0_125, R75_125, R0_250, R0_400, R0_500 };

struct TCurrentRangeRow {
    TCurrentRange range;
    const char *caption;
    double amperes; // the range's top, the installation's full scale of current
    bool fiveAmpOutput; // driven from the installation's 5 A output (else the 1 A one)
};

struct TVoltageRangeRow {
    TVoltageRange range;
    const char *caption;
    int volts; // the installation's full scale of voltage
    bool high; // the installation's high-voltage flag
};

struct TURangeRow {
    TURange range;
    const char *caption;
    double low, top; // volts; the top is the transducer's nominal voltage on this range
    bool high; // the upper range: the high-voltage flag, phases A and C in series
    double deliverable; // volts: the most the installation gives in this range's form
};

// A phase voltage amplifier gives at most this much; above it the upper range puts phases A and C in series.
inline constexpr double kPhaseAmplifierTopVolts = 300;
// The 650 V amplifier, which drives phase A on the lower ranges.
inline constexpr double kU650TopVolts = 650;
// A point may go 25 % beyond the top of its range, as far as the installation can follow.
double UpperVoltageLimit(TURange range);

const std::vector<TCurrentRangeRow> &CurrentRanges(); // in button order
const std::vector<TVoltageRangeRow> &VoltageRanges();
const std::vector<TURangeRow> &URanges(); // in list order

const TCurrentRangeRow &RangeRow(TCurrentRange range);
const TVoltageRangeRow &RangeRow(TVoltageRange range);
const TURangeRow &RangeRow(TURange range);

QString Caption(TCurrentRange range);
QString Caption(TVoltageRange range);
QString Caption(TURange range);

// The smallest range whose top holds the value; none above the largest.
std::optional<TCurrentRange> CurrentRangeHolding(double amperes);
std::optional<TVoltageRange> VoltageRangeHolding(double volts);

// A range by its caption, as texts stored before or typed on a command line give it.
std::optional<TCurrentRange> CurrentRangeFromCaption(const QString &caption);
std::optional<TVoltageRange> VoltageRangeFromCaption(const QString &caption);
std::optional<TURange> URangeFromCaption(const QString &caption);
// A list position (the installation's range index); none outside the list.
std::optional<TURange> URangeFromIndex(int index);
constexpr int URangeIndex(TURange range)
{
    return static_cast<int>(range);
}
