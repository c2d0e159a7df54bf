// The parameter model and the test-point record.

#include "frametestutil.h"
#include "protocol/inputdata.h"
#include "protocol/parameters.h"

#include <gtest/gtest.h>

TEST(Parameters, QuantitiesByIndexNameAndUnit)
{
    const struct {
        int index;
        TParameter TParameters::*field;
        const char *name;
        const char *measure;
    } table[] = {
        {1, &TParameters::Ua, "Ua", "V"},
        {2, &TParameters::Ub, "Ub", "V"},
        {3, &TParameters::Uc, "Uc", "V"},
        {4, &TParameters::Ia, "Ia", "A"},
        {5, &TParameters::Ib, "Ib", "A"},
        {6, &TParameters::Ic, "Ic", "A"},
        {7, &TParameters::ULa, "Uab", "V"},
        {8, &TParameters::ULb, "Ubc", "V"},
        {9, &TParameters::ULc, "Uac", "V"},
        {10, &TParameters::Pa, "Pa", "W"},
        {11, &TParameters::Pb, "Pb", "W"},
        {12, &TParameters::Pc, "Pc", "W"},
        {13, &TParameters::Qa, "Qa", "Var"},
        {14, &TParameters::Qb, "Qb", "Var"},
        {15, &TParameters::Qc, "Qc", "Var"},
        {16, &TParameters::Sa, "Sa", "V\u00B7A"},
        {17, &TParameters::Sb, "Sb", "V\u00B7A"},
        {18, &TParameters::Sc, "Sc", "V\u00B7A"},
        {19, &TParameters::Ka, "Ka", ""},
        {20, &TParameters::Kb, "Kb", ""},
        {21, &TParameters::Kc, "Kc", ""},
        {22, &TParameters::P, "P", "W"},
        {23, &TParameters::Q, "Q", "Var"},
        {24, &TParameters::S, "S", "V\u00B7A"},
        {25, &TParameters::K, "K сум.", ""},
        {26, &TParameters::Freq, "F", "Hz"},
        {27, &TParameters::U, "U фазное ср.", "V"},
        {28, &TParameters::I, "I ср.", "A"},
        {29, &TParameters::UL, "U лин. ср.", "V"},
        {30, &TParameters::U0, "U0", "V"},
        {31, &TParameters::I0, "I0", "A"},
        {32, &TParameters::Ea, "Wa", ""},
        {33, &TParameters::Er, "Wr", ""},
    };
    TParameters params;
    const TParamArray &array = params.GetParameterArray();
    ASSERT_EQ(array.size(), 34u);
    EXPECT_EQ(array[33], nullptr);
    for (const auto &row : table) {
        SCOPED_TRACE(row.index);
        TParameter &field = params.*row.field;
        EXPECT_EQ(field.index, row.index);
        EXPECT_EQ(field.name, QString::fromUtf8(row.name));
        EXPECT_EQ(field.measure, QString::fromUtf8(row.measure));
        EXPECT_EQ(field.value, 0.0);
        EXPECT_TRUE(field.isDataCorrect);
        EXPECT_EQ(params.GetParameterByIndex(row.index), &field);
        EXPECT_EQ(array[static_cast<size_t>(row.index - 1)], &field);
        EXPECT_EQ(params.GetParameterByName(QString::fromUtf8(row.name)), &field);
    }
    EXPECT_EQ(params.S.measure.toUtf8(),
        QByteArray("V\xC2\xB7"
                   "A"));
}

TEST(Parameters, LookupEdges)
{
    TParameters params;
    EXPECT_EQ(params.GetParameterByIndex(26)->name, "F");
    EXPECT_EQ(&params.GetFrequence(), &params.Freq);
    for (int bad : {0, 34, -1, 100})
        EXPECT_EQ(params.GetParameterByIndex(bad), nullptr) << bad;
    EXPECT_EQ(params.GetParameterByName("Uab")->index, 7);
    EXPECT_EQ(params.GetParameterByName("uab"), nullptr);
    EXPECT_EQ(params.GetParameterByName(""), nullptr);
    EXPECT_EQ(params.GetParameterByName("ULa"), nullptr); // field names are not lookup names
    // Through the abstract list.
    TSuperParameterList &list = params;
    EXPECT_EQ(list.GetParameterByIndex(24), &params.S);
}

TEST(Parameters, CopiesOwnTheirArray)
{
    auto original = std::make_unique<TParameters>();
    original->Freq.value = 50.0;
    original->Ia.isDataCorrect = false;
    TParameters copy(*original);
    TParameters assigned;
    assigned = *original;
    original.reset(); // the copies must not point into the freed object
    for (TParameters *p : {&copy, &assigned}) {
        EXPECT_EQ(p->GetParameterByIndex(26), &p->Freq);
        EXPECT_EQ(p->GetParameterByIndex(26)->value, 50.0);
        EXPECT_FALSE(p->GetParameterByName("Ia")->isDataCorrect);
        EXPECT_EQ(p->GetParameterArray()[3], &p->Ia);
    }
}

TEST(Parameters, AmperageFlagIsStrictlyAboveOneAmpere)
{
    TKestConfiguration c;
    for (const auto &[max, flag] : {std::pair{1.0, false}, {1.0001, true}, {0.5, false}, {5.0, true}}) {
        c.AmperageMax = max;
        EXPECT_EQ(c.GetAmperageFlag(), flag) << max;
    }
}

TEST(InputData, CreatedRecord)
{
    const TInputData d;
    const struct {
        const TParameter *p;
        int index;
        const char *name;
        const char *measure;
    } rows[] = {
        {&d.Ia, 100, "Ток", "A"},
        {&d.Ib, 100, "", ""},
        {&d.Ic, 100, "", ""},
        {&d.Ua, 101, "Напр.", "V"},
        {&d.Ub, 101, "", ""},
        {&d.Uc, 101, "", ""},
        {&d.Angle, 102, "Угол", "°"},
        {&d.Freq, 103, "Частота", "Hz"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(r.p->index, r.index);
        EXPECT_EQ(r.p->name, QString::fromUtf8(r.name));
        EXPECT_EQ(r.p->measure, QString::fromUtf8(r.measure));
        EXPECT_EQ(r.p->value, 0.0);
        EXPECT_TRUE(r.p->isDataCorrect);
    }
    EXPECT_TRUE(d.IsRsInterface);
    EXPECT_EQ(d.GetParameterByIndex(100), &d.Ia);
    EXPECT_EQ(d.GetParameterByIndex(101), &d.Ua);
    EXPECT_EQ(d.GetParameterByIndex(102), &d.Angle);
    EXPECT_EQ(d.GetParameterByIndex(103), &d.Freq);
    for (int bad : {1, 26, 99, 104, 0})
        EXPECT_EQ(d.GetParameterByIndex(bad), nullptr);
}

TEST(InputData, ToString)
{
    TInputData d;
    EXPECT_EQ(d.ToString(), "-100000000");
    d.IsRsInterface = false;
    d.Ia.value = 0.5;
    d.Ua.value = 57.74;
    EXPECT_EQ(d.ToString(), QString("0") + "0,5" + "0" + "0" + "57,74" + "0" + "0" + "0" + "0");
    d.Ib.value = -1.25;
    d.Angle.value = -0.0;
    d.Freq.value = 1.0 / 3.0;
    EXPECT_EQ(d.ToString(), "00,5-1,25057,740000,333333333333333");
    // A copy describes the same point.
    TInputData copy = d;
    EXPECT_EQ(copy.ToString(), d.ToString());
    EXPECT_EQ(copy.GetParameterByIndex(101), &copy.Ua);
}

TEST(ToggleStates, KeepsOrder)
{
    const TToggleStates t(true, false, true);
    EXPECT_TRUE(t.Toggle1);
    EXPECT_FALSE(t.Toggle2);
    EXPECT_TRUE(t.Toggle3);
    const TToggleStates on;
    EXPECT_TRUE(on.Toggle1 && on.Toggle2 && on.Toggle3);
}
