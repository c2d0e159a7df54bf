#include "mainwindow/mainconfiguration.h"

namespace {

const QString kCurrents = QStringLiteral("Токи");
const QString kPhaseU = QStringLiteral("Фазные напряжения");
const QString kLineU = QStringLiteral("Линейные напряжения");
const QString kZeroU = QStringLiteral("Напр. нулевой посл.");
const QString kActive = QStringLiteral("Активная мощность");
const QString kReactive = QStringLiteral("Реактивная мощность");
const QString kApparent = QStringLiteral("Полная мощность");
const QString kFactors = QStringLiteral("Коэффициенты мощности");
const QString kFrequency = QStringLiteral("Частота");

constexpr int kOne = 160; // a group showing one value: wide enough for "Реактивная мощность"
constexpr int kFour = 456; // three phases and a total
constexpr int kFive = 565; // the currents group with five values

using TGroups = std::vector<TMainLayout::TGroup>;

const TGroups kQx4Four = {
    {kCurrents, {piIa, piIb, piIc, piI, piI0}, 8, 177, kFive},
    {kZeroU, {piU0}, 580, 177, kOne},
    {kFrequency, {piFreq}, 750, 177, kOne},
    {kPhaseU, {piUa, piUb, piUc, piU}, 8, 279, kFour},
    {kLineU, {piULa, piULb, piULc, piUL}, 472, 279, kFour},
    {kActive, {piP, piPa, piPb, piPc}, 8, 383, kFour},
    {kReactive, {piQ, piQa, piQb, piQc}, 472, 383, kFour},
    {kApparent, {piS, piSa, piSb, piSc}, 8, 487, kFour},
    {kFactors, {piK, piKa, piKb, piKc}, 472, 487, kFour},
};
const TGroups kQx4Three = {
    {kCurrents, {piIa, piIb, piIc, piI, piI0}, 8, 177, kFive},
    {kZeroU, {piU0}, 580, 177, kOne},
    {kFrequency, {piFreq}, 750, 177, kOne},
    {kLineU, {piULa, piULb, piULc, piUL}, 8, 279, kFour},
    {kActive, {piP}, 8, 383, kOne},
    {kReactive, {piQ}, 178, 383, kOne},
    {kApparent, {piS}, 348, 383, kOne},
    {kFactors, {piK}, 8, 487, kOne},
};

const QStringList kTwo{"I", "F"};
const QStringList kUF{"U", "F"};
const QStringList kAll{"U", "I", "Угол", "F"};

using R = TMainConfigurationRow;
using A = TMainConfigurationRow::TAnalogSetUp;

R Single(TConfigurationCode code, std::optional<bool> ua650, QStringList outputs, TGroups groups, QString analogCaption)
{
    R r{code, ua650, std::move(outputs)};
    r.rsParamNumber = true;
    r.groups4 = groups;
    r.groups3 = std::move(groups);
    r.analog = A::Single;
    r.analogCaption = std::move(analogCaption);
    return r;
}

std::vector<R> MakeRows()
{
    std::vector<R> rows;
    R i = Single(TConfigurationCode::I, true, kTwo, {{kCurrents, {piIa}, 8, 177, kOne}}, QStringLiteral("I"));
    i.currentRangePanel = true;
    rows.push_back(i);
    R u = Single(TConfigurationCode::U, false, kUF, {{kPhaseU, {piUa}, 8, 177, kOne}}, QStringLiteral("U"));
    u.uRangeList = true;
    rows.push_back(u);
    R f = Single(TConfigurationCode::F, std::nullopt, kUF, {{kFrequency, {piFreq}, 8, 177, kOne}}, QStringLiteral("F"));
    f.uRangeList = true;
    rows.push_back(f);
    auto power = [](R r) {
        r.currentRangePanel = r.schemePanel = r.voltagePanel = true;
        r.phaseToggles = true;
        return r;
    };
    rows.push_back(power(Single(TConfigurationCode::P, true, kAll, {{kActive, {piP}, 8, 177, kOne}}, QString())));
    rows.push_back(power(Single(TConfigurationCode::Q, true, kAll, {{kReactive, {piQ}, 8, 177, kOne}}, QString())));
    R pq = power(Single(TConfigurationCode::PQ, true, kAll,
        {{kActive, {piP}, 8, 177, kOne}, {kReactive, {piQ}, 178, 177, kOne}}, QString()));
    pq.protocolList = true;
    pq.analog = A::PQ;
    rows.push_back(pq);
    for (TConfigurationCode code : {TConfigurationCode::QX4, TConfigurationCode::QX4E}) {
        R q{code, true, kAll};
        q.currentRangePanel = q.schemePanel = q.voltagePanel = q.addressPanel = true;
        q.phaseToggles = true;
        q.energyGroups = code == TConfigurationCode::QX4E;
        q.analog = A::Qx4;
        q.groups4 = kQx4Four;
        q.groups3 = kQx4Three;
        rows.push_back(q);
    }
    return rows;
}

} // namespace

const std::vector<TReadoutGroupDef> &ReadoutGroups()
{
    static const std::vector<TReadoutGroupDef> defs = {
        {kCurrents, "A", 3, {{piIa, "Ia"}, {piIb, "Ib"}, {piIc, "Ic"}, {piI, "Iср"}, {piI0, "I0"}}},
        {kPhaseU, "V", 2, {{piUa, "Ua"}, {piUb, "Ub"}, {piUc, "Uc"}, {piU, "Uср"}}},
        {kLineU, "V", 2, {{piULa, "Uab"}, {piULb, "Ubc"}, {piULc, "Uac"}, {piUL, "Uср"}}},
        {kZeroU, "V", 2, {{piU0, "U0"}}},
        {kActive, "W", 3, {{piP, "P"}, {piPa, "Pa"}, {piPb, "Pb"}, {piPc, "Pc"}}},
        {kReactive, "Var", 3, {{piQ, "Q"}, {piQa, "Qa"}, {piQb, "Qb"}, {piQc, "Qc"}}},
        {kApparent, "V·A", 3, {{piS, "S"}, {piSa, "Sa"}, {piSb, "Sb"}, {piSc, "Sc"}}},
        {kFactors, "", 3, {{piK, "Kср"}, {piKa, "Ka"}, {piKb, "Kb"}, {piKc, "Kc"}}},
        {kFrequency, "Hz", 2, {{piFreq, "F"}}},
    };
    return defs;
}

const std::vector<int> &ReadoutOrder()
{
    static const std::vector<int> order = {piIa, piIb, piIc, piI, piI0, piUa, piUb, piUc, piU, piULa, piULb, piULc,
        piUL, piP, piPa, piPb, piPc, piQ, piQa, piQb, piQc, piS, piSa, piSb, piSc, piK, piKa, piKb, piKc, piU0, piFreq};
    return order;
}

int GroupDecimals(int param)
{
    for (const TReadoutGroupDef &g : ReadoutGroups())
        for (const auto &w : g.widgets)
            if (w.first == param)
                return g.decimals;
    return 2;
}

std::optional<int> RangeDecimals(int param, bool fiveAmpRange)
{
    // The current range decides how fine currents and powers are shown; the rest keeps its group's.
    if (IsCurrentParam(param))
        return fiveAmpRange ? 3 : 4;
    if (IsPowerParam(param))
        return fiveAmpRange ? 1 : 2;
    return std::nullopt;
}

const TMainConfigurationRow &MainConfiguration(TConfigurationCode code)
{
    static const std::vector<R> rows = MakeRows();
    return rows.at(static_cast<size_t>(ConfigurationIndex(code)));
}

TMainLayout MainLayout(const TMainConfigurationRow *row, bool scheme4)
{
    TMainLayout l;
    if (row) {
        l.groups = scheme4 ? row->groups4 : row->groups3;
        l.outputControls = row->outputControls;
        l.currentRangePanel = row->currentRangePanel;
        l.schemePanel = row->schemePanel;
        l.voltagePanel = row->voltagePanel;
        l.uRangeList = row->uRangeList;
        l.addressPanel = row->addressPanel;
        l.protocolList = row->protocolList;
        l.rsParamNumber = row->rsParamNumber;
        l.energyGroups = row->energyGroups;
    }
    l.outputGroupWidth = l.outputControls.size() <= 2 ? 290 : 580;
    // The energy groups sit right of the power groups in the four-wire layout and below the single
    // totals in the three-wire one.
    l.energyActiveLeft = scheme4 ? 936 : 422;
    l.energyActiveTop = scheme4 ? 383 : 487;
    l.energyReactiveLeft = scheme4 ? 936 : 582;
    l.energyReactiveTop = 487;
    return l;
}
