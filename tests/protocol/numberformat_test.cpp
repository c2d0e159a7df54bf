// Number texts: the general form with a decimal comma, and reading it back.

#include "protocol/numberformat.h"
#include "transport/kesterror.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

TEST(NumberFormat, GeneralForm)
{
    const struct {
        double value;
        const char *text;
    } cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-1.0, "-1"},
        {0.5, "0,5"},
        {57.74, "57,74"},
        {220.0, "220"},
        {1.5, "1,5"},
        {0.1 + 0.2, "0,3"}, // 17 digits to round-trip: cut to 15
        {1.0 / 3.0, "0,333333333333333"},
        {2.0 / 3.0, "0,666666666666667"},
        {123456789012345.0, "123456789012345"}, // 15 integer digits stay plain
        {999999999999999.0, "999999999999999"},
        {1e15, "1E15"},
        {1234567890123456.0, "1,23456789012346E15"},
        {9999999999999999.0, "1E16"},
        {-2.5e20, "-2,5E20"},
        {1e-5, "0,00001"},
        {0.000123, "0,000123"},
        {9.9e-6, "9,9E-6"},
        {1.5e-6, "1,5E-6"},
        {5e-324, "5E-324"}, // shortest, not 15 digits
        {1.7976931348623157e308, "1,79769313486231E308"}, // cut, not rounded past the largest double
        {-1.797693134862315e308, "-1,79769313486231E308"},
        {1.797693134862314e308, "1,79769313486231E308"},
        {0.999999999999999944, "1"}, // rounds up across a power of ten
        {100.0, "100"},
        {1e14, "100000000000000"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FloatToStr(c.value), c.text) << c.value;
        EXPECT_EQ(FloatToQStr(c.value), QString::fromLatin1(c.text));
    }
}

TEST(NumberFormat, ShortestTextReadsBackExactly)
{
    // Any double written from at most 15 significant digits comes back bit for bit, and its text
    // is never longer than the digits it was made from.
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<int> ndigits(1, 15), digit(0, 9), exp(-40, 40);
    for (int i = 0; i < 20000; ++i) {
        std::string src = digit(rng) < 5 ? "-" : "";
        const int n = ndigits(rng);
        src.push_back(static_cast<char>('1' + digit(rng) % 9));
        for (int k = 1; k < n; ++k)
            src.push_back(static_cast<char>('0' + digit(rng)));
        src += "e" + std::to_string(exp(rng));
        double v = 0;
        std::from_chars(src.data(), src.data() + src.size(), v);
        const std::string text = FloatToStr(v);
        double back = 0;
        ASSERT_TRUE(TryStrToFloat(text, back)) << text;
        ASSERT_EQ(back, v) << src << " -> " << text;
        std::string sig;
        for (char c : text.substr(0, text.find('E')))
            if (c >= '0' && c <= '9')
                sig.push_back(c);
        sig.erase(0, sig.find_first_not_of('0'));
        sig.erase(sig.find_last_not_of('0') + 1);
        ASSERT_LE(static_cast<int>(sig.size()), n) << src << " -> " << text;
    }
    // Every text the writer makes reads back, the extremes included.
    for (double v : {1.7976931348623157e308, -1.7976931348623157e308, 2.2250738585072014e-308, 5e-324, -5e-324,
             1.797693134862315e308, 9.999999999999999e22}) {
        double back = 0;
        EXPECT_TRUE(TryStrToFloat(FloatToStr(v), back)) << FloatToStr(v);
    }
    // Singles from the devices, widened to double, keep all the digits up to 15.
    const float single = 1.234f; // 3F 9D F3 B6
    EXPECT_EQ(FloatToStr(single), "1,23399996757507");
}

TEST(NumberFormat, Reading)
{
    const struct {
        const char *text;
        double value;
    } good[] = {
        {"0", 0.0},
        {"1,5", 1.5},
        {"1.5", 1.5},
        {"-57,74", -57.74},
        {"+3", 3.0},
        {" 42 ", 42.0},
        {",5", 0.5},
        {"5,", 5.0},
        {"1E15", 1e15},
        {"1,5E-6", 1.5e-6},
        {"2e+3", 2000.0},
        {"-2,5E20", -2.5e20},
        {"1e-400", 0.0},
        {"007", 7.0},
        {"\t8\r\n", 8.0},
    };
    for (const auto &g : good) {
        double v = -1;
        EXPECT_TRUE(TryStrToFloat(g.text, v)) << g.text;
        EXPECT_EQ(v, g.value) << g.text;
        EXPECT_EQ(StrToFloat(QString::fromUtf8(g.text)), g.value);
    }
    double v = 0;
    EXPECT_TRUE(TryStrToFloat("-1e-400", v));
    EXPECT_TRUE(std::signbit(v));

    // Words for values that are not numbers are conversion errors like any other text: the writer's
    // own "NAN"/"INF" included, in any case and with either sign.
    for (const char *bad : {"", " ", "-", ",", "1,2,3", "1.2.3", "1 000", "1e", "1e+", "abc", "0x10", "1,5 В", "1e400",
             "--1", "+-1", "1e5.5", "∞", "1,5;", "nanx", "NAN", "nan", "NaN", "-NAN", "+nan", " NAN ", "nan(0x1)",
             "INF", "inf", "-INF", "+Inf", " -inf ", "Infinity", "-infinity", "INFINITY", "1e999", "-1E400"}) {
        double out = 123.0;
        EXPECT_FALSE(TryStrToFloat(bad, out)) << bad;
        EXPECT_EQ(out, 123.0) << "untouched on failure";
        EXPECT_THROW(StrToFloat(bad), EKestError) << bad;
        EXPECT_EQ(StrToFloatDef(QString::fromUtf8(bad), 7.5), 7.5);
    }
    try {
        StrToFloat("abc");
        FAIL();
    } catch (const EKestError &e) {
        EXPECT_NE(std::string(e.what()).find("abc"), std::string::npos);
    }
}
