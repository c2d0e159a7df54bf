#pragma once
// The small records a verification table is filled from: one output value (what the installation
// measured, what the device under test reported or its analog current, the error and whether it is
// over the limit) and the output values of one row, one slot per measured parameter.
//
// Values are in base units (V, A, W …); `prefix` ("", "k", "M", "G") is the unit prefix the table
// shows them with: it divides them by the matching power of 1000 and appends the prefix.

#include "protocol/parameters.h"

#include <QString>

#include <array>
#include <memory>
#include <optional>

struct TSuperParameterForGrid {
    TParameter Parameter1; // measured by the installation
    std::optional<TParameter> Parameter2; // reported by the device under test; none for analog values
    double Error = 0.0; // percent
    bool isBiggerThanThreshold = false; // |Error| is over the permissible error
    QString prefix; // "", "k", "M" or "G"

    TSuperParameterForGrid() = default;
    virtual ~TSuperParameterForGrid() = default;
    TSuperParameterForGrid(const TSuperParameterForGrid &) = default;
    TSuperParameterForGrid &operator=(const TSuperParameterForGrid &) = default;
    virtual std::shared_ptr<TSuperParameterForGrid> Clone() const;
};

struct TParameterForGrid : TSuperParameterForGrid {
    double AnalogValue = 0.0; // current of the analog output, mA
    QString measureUnit;
    bool isAnalog = false; // made by the analog constructor

    TParameterForGrid() = default;
    // An installation value, with the device's value over RS when there is one.
    TParameterForGrid(const TParameter &param1, const QString &prefix_, double error,
        std::optional<TParameter> param2 = std::nullopt);
    // An analog value: the installation's value and the current the device's output delivered.
    TParameterForGrid(const TParameter &param1, double analogValue, double error);
    std::shared_ptr<TSuperParameterForGrid> Clone() const override;
};

// The output values of one row: slots 1 to 33, filled in order by AddParameter. Items are shared
// and never changed once added, so copies of a row are cheap and safe.
class TSuperParametersForGridRow {
public:
    static constexpr int kSlotCount = TParameters::kCount;

    virtual ~TSuperParametersForGridRow() = default;

    // Stores the item in the next slot; false (and nothing stored) when all 33 are taken.
    bool AddParameter(const TSuperParameterForGrid &item) { return AddParameter(item.Clone()); }
    bool AddParameter(std::shared_ptr<const TSuperParameterForGrid> item);

    // The item whose Parameter1 has that index / that name (exact); nullptr when none.
    const TSuperParameterForGrid *GetParameterByIndex(int index) const;
    const TSuperParameterForGrid *GetParameterByName(const QString &name) const;
    // Slot 1 to arrayLength; nullptr outside.
    const TSuperParameterForGrid *Slot(int slot) const;

    int arrayLength = 0;
    std::array<std::shared_ptr<const TSuperParameterForGrid>, kSlotCount + 1> Parameters{}; // slot 0 unused
};

class TParametersForGridRow : public TSuperParametersForGridRow { };
