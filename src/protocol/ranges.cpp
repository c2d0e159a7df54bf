#include "protocol/ranges.h"

#include <algorithm>

const std::vector<TCurrentRangeRow> &CurrentRanges()
{
    static const std::vector<TCurrentRangeRow> rows = {
        {.range = TCurrentRange::A1, .caption = "1", .amperes = 1.0, .fiveAmpOutput = false},
        {.range = TCurrentRange::A5, .caption = "5", .amperes = 5.0, .fiveAmpOutput = true},
        {.range = TCurrentRange::A0_5, .caption = "0,5", .amperes = 0.5, .fiveAmpOutput = false},
        {.range = TCurrentRange::A2_5, .caption = "2,5", .amperes = 2.5, .fiveAmpOutput = false},
    };
    return rows;
}

const std::vector<TVoltageRangeRow> &VoltageRanges()
{
    static const std::vector<TVoltageRangeRow> rows = {
        {.range = TVoltageRange::V100, .caption = "100", .volts = 100, .high = false},
        {.range = TVoltageRange::V380, .caption = "380", .volts = 380, .high = true},
        {.range = TVoltageRange::V400, .caption = "400", .volts = 400, .high = true},
    };
    return rows;
}

const std::vector<TURangeRow> &URanges()
{
    static const std::vector<TURangeRow> rows = {
        {.range = TURange::R0_125,
            .caption = "0..125",
            .low = 0,
            .top = 125,
            .high = false,
            .deliverable = kU650TopVolts},
        {.range = TURange::R75_125,
            .caption = "75..125",
            .low = 75,
            .top = 125,
            .high = false,
            .deliverable = kU650TopVolts},
        {.range = TURange::R0_250,
            .caption = "0..250",
            .low = 0,
            .top = 250,
            .high = false,
            .deliverable = kU650TopVolts},
        {.range = TURange::R0_400,
            .caption = "0..400",
            .low = 0,
            .top = 400,
            .high = false,
            .deliverable = kU650TopVolts},
        {.range = TURange::R0_500,
            .caption = "0..500",
            .low = 0,
            .top = 500,
            .high = true,
            .deliverable = 2 * kPhaseAmplifierTopVolts},
    };
    return rows;
}

namespace {

template<typename Row, typename E> const Row &Find(const std::vector<Row> &rows, E range)
{
    const auto it = std::find_if(rows.begin(), rows.end(), [range](const Row &r) { return r.range == range; });
    return it != rows.end() ? *it : rows.front(); // every enumerator has its row: a test walks them
}

template<typename Row>
auto FromCaption(const std::vector<Row> &rows, const QString &caption) -> std::optional<decltype(Row::range)>
{
    const QString text = caption.trimmed();
    for (const Row &r : rows)
        if (text == QLatin1String(r.caption))
            return r.range;
    return std::nullopt;
}

} // namespace

const TCurrentRangeRow &RangeRow(TCurrentRange range)
{
    return Find(CurrentRanges(), range);
}

const TVoltageRangeRow &RangeRow(TVoltageRange range)
{
    return Find(VoltageRanges(), range);
}

const TURangeRow &RangeRow(TURange range)
{
    return Find(URanges(), range);
}

double UpperVoltageLimit(TURange range)
{
    const TURangeRow &r = RangeRow(range);
    return std::min(1.25 * r.top, r.deliverable);
}

QString Caption(TCurrentRange range)
{
    return QString::fromUtf8(RangeRow(range).caption);
}

QString Caption(TVoltageRange range)
{
    return QString::fromUtf8(RangeRow(range).caption);
}

QString Caption(TURange range)
{
    return QString::fromUtf8(RangeRow(range).caption);
}

std::optional<TCurrentRange> CurrentRangeHolding(double amperes)
{
    std::optional<TCurrentRange> best;
    double bestTop = 0;
    for (const TCurrentRangeRow &r : CurrentRanges())
        if (amperes <= r.amperes && (!best || r.amperes < bestTop)) {
            best = r.range;
            bestTop = r.amperes;
        }
    return best;
}

std::optional<TVoltageRange> VoltageRangeHolding(double volts)
{
    for (const TVoltageRangeRow &r : VoltageRanges()) // ascending
        if (volts <= r.volts)
            return r.range;
    return std::nullopt;
}

std::optional<TCurrentRange> CurrentRangeFromCaption(const QString &caption)
{
    return FromCaption(CurrentRanges(), caption);
}

std::optional<TVoltageRange> VoltageRangeFromCaption(const QString &caption)
{
    return FromCaption(VoltageRanges(), caption);
}

std::optional<TURange> URangeFromCaption(const QString &caption)
{
    return FromCaption(URanges(), caption);
}

std::optional<TURange> URangeFromIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(URanges().size()))
        return std::nullopt;
    return static_cast<TURange>(index);
}
