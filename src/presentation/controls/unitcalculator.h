#pragma once
// Units of a float spin edit: a list of names with integer factors. A value shown in a unit is
// base × mult / divi.

#include <QList>
#include <QString>

struct TUnit {
    QString name;
    int divi = 1;
    int mult = 1;
};

class TUnitCalculator {
public:
    // Reads triples of name, multiplier and divisor, every field separated by "|"
    // ("mA|1000|1|A|1|1"). A triple whose factors are not positive integers is skipped (a zero
    // would divide by zero on the way back to the base); so is an unfinished last triple.
    void SetUnits(const QString &text);

    qsizetype Count() const { return units.size(); }
    const TUnit &Unit(qsizetype index) const { return units[index]; }
    bool IsValid(int index) const { return index >= 0 && index < units.size(); }
    // Index of the unit called `name`, or −1.
    int IndexOf(const QString &name) const;

    // The base value in unit `index`; −1 or an unknown index is the base itself.
    double ToUnit(double base, int index) const;
    // A value in unit `index` back in the base.
    double FromUnit(double value, int index) const;

private:
    QList<TUnit> units;
};
