#pragma once
// The one place where numbers become texts and texts become numbers: everything shown on screen,
// stored in the settings or written to CSV goes through here, independent of the process locale.
//
// Texts use the "general" form with a decimal comma: the shortest digits that read back to the
// same double, at most 15 significant digits (longer values are rounded to 15), no trailing zeros.
// Plain notation while the value has at most 15 integer digits and is at least 0,00001 in
// magnitude; otherwise scientific with a bare exponent: 1E15, 1,5E-6, -2,5E20.
// Zero of either sign is "0"; NaN and infinities are "NAN", "INF" and "-INF".
//
// Reading accepts a comma or a dot as the decimal separator, an optional sign, an exponent
// (E or e, optional sign) and surrounding blanks. Nothing else: no group separators, no empty
// text, and no "NAN" or "INF" (the writer's texts for values that are not numbers read back as
// conversion errors), so every number read is finite.

#include <QString>

#include <optional>
#include <string>
#include <string_view>

std::string FloatToStr(double value);
QString FloatToQStr(double value);

// False (and `out` untouched) when the text is not a number or does not fit a double.
bool TryStrToFloat(std::string_view text, double &out);
bool TryStrToFloat(const QString &text, double &out);
bool TryStrToFloat(const char *text, double &out);

// Raises EKestError with the conversion-error text when the text is not a number.
double StrToFloat(std::string_view text);
double StrToFloat(const QString &text);
double StrToFloat(const char *text);

// The number, or `fallback` when the text is not a number.
double StrToFloatDef(std::string_view text, double fallback);
double StrToFloatDef(const QString &text, double fallback);
double StrToFloatDef(const char *text, double fallback);

// The conversion-error text for a text that is not a number.
std::string ConversionErrorText(std::string_view text);
