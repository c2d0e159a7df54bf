#include "protocol/numberformat.h"

#include "transport/kesterror.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace {

constexpr int kMaxDigits = 15;

// Significant digits (no dot, no trailing zeros) and decimal exponent of a finite non-zero value:
// value = d0.d1d2... × 10^exponent.
void Decompose(double value, std::string &digits, int &exponent)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string text(buf, res.ptr);
    auto mantissaDigits = [](const std::string &t) {
        const auto e = t.find('e');
        int n = 0;
        for (size_t i = 0; i < e; ++i)
            n += (t[i] >= '0' && t[i] <= '9');
        return n;
    };
    if (mantissaDigits(text) > kMaxDigits) {
        res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, kMaxDigits - 1);
        text.assign(buf, res.ptr);
    }
    const auto e = text.find('e');
    digits.clear();
    for (size_t i = 0; i < e; ++i)
        if (text[i] >= '0' && text[i] <= '9')
            digits.push_back(text[i]);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    exponent = std::stoi(text.substr(e + 1));
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string FloatToStr(double value)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0.0)
        return "0";

    std::string digits;
    int exponent = 0;
    if (std::fabs(value) >= 1.797693134862315e308) {
        // Rounding the largest doubles to 15 digits would pass the largest double and the text
        // would not read back; cut them instead.
        digits = "179769313486231";
        exponent = 308;
    } else {
        Decompose(value, digits, exponent);
    }

    std::string out;
    if (value < 0)
        out.push_back('-');
    const int n = static_cast<int>(digits.size());
    if (exponent >= kMaxDigits || exponent < -5) {
        out.push_back(digits[0]);
        if (n > 1) {
            out.push_back(',');
            out.append(digits, 1, std::string::npos);
        }
        out.push_back('E');
        out.append(std::to_string(exponent));
    } else if (exponent >= 0) {
        const int intDigits = exponent + 1;
        if (n <= intDigits) {
            out.append(digits);
            out.append(static_cast<size_t>(intDigits - n), '0');
        } else {
            out.append(digits, 0, static_cast<size_t>(intDigits));
            out.push_back(',');
            out.append(digits, static_cast<size_t>(intDigits), std::string::npos);
        }
    } else {
        out.append("0,");
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out.append(digits);
    }
    return out;
}

QString FloatToQStr(double value)
{
    return QString::fromLatin1(FloatToStr(value));
}

bool TryStrToFloat(std::string_view text, double &out)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return false;

    bool negative = false;
    std::string_view body = text;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    // Only digits from here on: "NAN", "INF", "Infinity" and their kin are not numbers a user can
    // mean, and one taken as a limit would silently switch off every comparison made with it.
    // Validate the shape ourselves and hand from_chars a dot form: it never looks at the locale.
    std::string plain;
    plain.reserve(body.size());
    size_t i = 0;
    int mantissaDigits = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
        plain.push_back(body[i++]);
        ++mantissaDigits;
    }
    if (i < body.size() && (body[i] == ',' || body[i] == '.')) {
        plain.push_back('.');
        ++i;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
            plain.push_back(body[i++]);
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    bool negativeExponent = false;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        plain.push_back('e');
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
            negativeExponent = body[i] == '-';
            plain.push_back(body[i++]);
        }
        int expDigits = 0;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
            plain.push_back(body[i++]);
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    if (i != body.size())
        return false;

    double value = 0.0;
    const auto res = std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Too small to represent reads as zero; too large is not a number we can hold.
        if (!negativeExponent)
            return false;
        value = 0.0;
    } else if (res.ec != std::errc() || res.ptr != plain.data() + plain.size()) {
        return false;
    }
    out = negative ? -value : value;
    return true;
}

bool TryStrToFloat(const QString &text, double &out)
{
    return TryStrToFloat(std::string_view(text.toStdString()), out);
}

bool TryStrToFloat(const char *text, double &out)
{
    return TryStrToFloat(std::string_view(text ? text : ""), out);
}

std::string ConversionErrorText(std::string_view text)
{
    // Built by appending: g++ 12 warns falsely (-Wrestrict) about "literal" + std::string.
    std::string message;
    message.reserve(text.size() + 48);
    message.append("\"").append(text).append("\" не является правильным числом");
    return message;
}

double StrToFloat(std::string_view text)
{
    double v = 0.0;
    if (!TryStrToFloat(text, v))
        throw EKestError(ConversionErrorText(text));
    return v;
}

double StrToFloat(const QString &text)
{
    return StrToFloat(std::string_view(text.toStdString()));
}

double StrToFloat(const char *text)
{
    return StrToFloat(std::string_view(text ? text : ""));
}

double StrToFloatDef(std::string_view text, double fallback)
{
    double v = 0.0;
    return TryStrToFloat(text, v) ? v : fallback;
}

double StrToFloatDef(const QString &text, double fallback)
{
    return StrToFloatDef(std::string_view(text.toStdString()), fallback);
}

double StrToFloatDef(const char *text, double fallback)
{
    return StrToFloatDef(std::string_view(text ? text : ""), fallback);
}
