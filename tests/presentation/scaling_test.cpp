// Full scales, prefixes, unit names and the fixed-width number texts.

#include "presentation/parameterscaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(ParameterScaling, StringFromFloat)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        int digits;
        double value;
        const char *text;
    } cases[] = {
        // The examples the windows rely on.
        {4, 57.7350, "57,73"},
        {4, 0.5, "0,500"},
        {4, 5, "5,00"},
        {4, 123, "123"},
        {4, 12345.6, "12345"},
        {4, -12.5, "-12,50"},
        {4, 0.00004, "0"},
        {3, 0.25, "0,25"},
        {3, -1.234, "-1,23"},
        {3, 0.0004, "0"},
        // Cut, not rounded.
        {4, 1.23999, "1,239"},
        {3, -0.0999, "-0,09"},
        {4, 9999.99, "9999"},
        // Rounded at the tenth decimal before cutting.
        {4, 0.99999999999, "1,000"},
        // Integer parts wider than the room are shown whole.
        {4, 10000, "10000"},
        {4, 123456.7, "123456"},
        {4, -12345, "-12345"},
        {3, 2147483646, "2147483646"},
        // The "0" cases.
        {4, 0, "0"},
        {4, -0.0, "0"},
        {4, -0.00004, "0"},
        {4, 2147483647, "0"},
        {4, 1e12, "0"},
        {4, inf, "0"},
        {4, -inf, "0"},
        {4, std::nan(""), "0"},
        {4, 1e-11, "0"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TParameterScaling::GetStringFromFloat(c.digits, c.value).toStdString(), c.text)
            << c.digits << " digits of " << c.value;
}

TEST(ParameterScaling, ValueAccordingToPrefix)
{
    EXPECT_EQ(TParameterScaling::GetValueStringAccordingToPrefix(0, 57.735), QStringLiteral("57,73"));
    EXPECT_EQ(TParameterScaling::GetValueStringAccordingToPrefix(1, 10000), QStringLiteral("10,0"));
    EXPECT_EQ(TParameterScaling::GetValueStringAccordingToPrefix(2, 17320508), QStringLiteral("17,32"));
    EXPECT_EQ(TParameterScaling::GetValueStringAccordingToPrefix(1, 12.5), QStringLiteral("0,012"));
}

TEST(ParameterScaling, LimitsAndScales)
{
    const double r3 = std::sqrt(3.0);
    const double I = 5, U = 100;
    struct Case {
        int param;
        int limit;
        double scale;
    } cases[] = {
        {0, 800, U / r3},
        {1, 770, U / r3},
        {3, 770, U / r3},
        {4, 8000, I},
        {6, 8000, I},
        {7, 770, U},
        {9, 770, U},
        {10, 800, U * I / r3},
        {18, 800, U * I / r3},
        {19, 800, 1},
        {21, 800, 1},
        {22, 800, r3 * U * I},
        {24, 800, r3 * U * I},
        {25, 800, 50},
        {26, 800, 50},
        {27, 770, U / r3},
        {28, 8000, I},
        {29, 770, U},
        {30, 770, U / r3},
        {31, 8000, I},
        {32, 800, I},
        {33, 800, I},
        {101, 800, I},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(TParameterScaling::GetLimit(c.param), c.limit) << c.param;
        EXPECT_DOUBLE_EQ(TParameterScaling::GetScale(c.param, I, U), c.scale) << c.param;
    }
}

TEST(ParameterScaling, Prefixes)
{
    auto coefs = [](double I1, double U1) {
        TTransfCoefs c;
        c.I1 = I1;
        c.U1 = U1;
        c.I2 = 5;
        c.U2 = 100;
        return c;
    };
    struct Case {
        int param;
        double I1, U1;
        int prefix;
    } cases[] = {
        {7, 5, 10000, 1}, // 10000 ≥ 770, 10 < 770: "k"
        {1, 5, 1000, 0}, // 577,35 < 770
        {1, 5, 1334, 1}, // 770,2 ≥ 770
        {4, 10000, 100, 1}, // 10000 ≥ 8000
        {4, 5000, 100, 0},
        {4, 8000, 100, 1}, // the limit itself moves on
        {22, 1000, 10000, 2}, // 17,3 MW
        {19, 1e9, 1e9, 0}, // power factors have no unit to scale
        {7, 5, 1e15, 3}, // "G" is the last prefix there is
        {7, 5, std::numeric_limits<double>::infinity(), 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TParameterScaling::GetPrefixNum(c.param, coefs(c.I1, c.U1)), c.prefix)
            << c.param << " " << c.I1 << " " << c.U1;

    const char *names[] = {"", "k", "M", "G", ""};
    for (int n = 0; n < 5; ++n)
        EXPECT_EQ(TParameterScaling::GetPrefixName(n).toStdString(), names[n]);
    EXPECT_EQ(TParameterScaling::GetPrefixName(-1), QString());
}

TEST(ParameterScaling, UnitNames)
{
    struct Case {
        int code;
        const char *name;
    } cases[] = {
        {1, "V"},
        {4, "var"},
        {8, "kvar"},
        {13, "Hz"},
        {14, "C"},
        {16, "mkA"},
        {18, "Gvar"},
        {20, "N"},
        {21, "%"},
        {22, ""},
        {25, ""},
        {0, ""},
        {26, ""},
        {-3, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TParameterScaling::GetUnitName(c.code).toStdString(), c.name) << c.code;
}

} // namespace
