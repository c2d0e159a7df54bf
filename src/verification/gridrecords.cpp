#include "verification/gridrecords.h"

std::shared_ptr<TSuperParameterForGrid> TSuperParameterForGrid::Clone() const
{
    return std::make_shared<TSuperParameterForGrid>(*this);
}

TParameterForGrid::TParameterForGrid(
    const TParameter &param1, const QString &prefix_, double error, std::optional<TParameter> param2)
{
    Parameter1 = param1;
    Parameter2 = std::move(param2);
    Error = error;
    prefix = prefix_;
    measureUnit = param1.measure;
}

TParameterForGrid::TParameterForGrid(const TParameter &param1, double analogValue, double error)
    : AnalogValue(analogValue), measureUnit(QStringLiteral("мА")), isAnalog(true)
{
    Parameter1 = param1;
    Error = error;
}

std::shared_ptr<TSuperParameterForGrid> TParameterForGrid::Clone() const
{
    return std::make_shared<TParameterForGrid>(*this);
}

bool TSuperParametersForGridRow::AddParameter(std::shared_ptr<const TSuperParameterForGrid> item)
{
    if (!item || arrayLength >= kSlotCount)
        return false;
    Parameters[++arrayLength] = std::move(item);
    return true;
}

const TSuperParameterForGrid *TSuperParametersForGridRow::Slot(int slot) const
{
    return slot >= 1 && slot <= arrayLength ? Parameters[slot].get() : nullptr;
}

const TSuperParameterForGrid *TSuperParametersForGridRow::GetParameterByIndex(int index) const
{
    for (int i = 1; i <= arrayLength; ++i)
        if (Parameters[i] && Parameters[i]->Parameter1.index == index)
            return Parameters[i].get();
    return nullptr;
}

const TSuperParameterForGrid *TSuperParametersForGridRow::GetParameterByName(const QString &name) const
{
    for (int i = 1; i <= arrayLength; ++i)
        if (Parameters[i] && Parameters[i]->Parameter1.name == name)
            return Parameters[i].get();
    return nullptr;
}
