#include "presentation/controls/unitcalculator.h"

#include <QStringList>

void TUnitCalculator::SetUnits(const QString &text)
{
    units.clear();
    const QStringList fields = text.split(u'|');
    for (qsizetype i = 0; i + 2 < fields.size(); i += 3) {
        bool multOk = false;
        bool diviOk = false;
        TUnit unit;
        unit.name = fields[i].trimmed();
        unit.mult = fields[i + 1].trimmed().toInt(&multOk);
        unit.divi = fields[i + 2].trimmed().toInt(&diviOk);
        if (multOk && diviOk && unit.mult > 0 && unit.divi > 0)
            units.append(unit);
    }
}

int TUnitCalculator::IndexOf(const QString &name) const
{
    for (qsizetype i = 0; i < units.size(); ++i)
        if (units[i].name == name)
            return static_cast<int>(i);
    return -1;
}

double TUnitCalculator::ToUnit(double base, int index) const
{
    if (!IsValid(index))
        return base;
    return base * units[index].mult / units[index].divi;
}

double TUnitCalculator::FromUnit(double value, int index) const
{
    if (!IsValid(index))
        return value;
    return value * units[index].divi / units[index].mult;
}
