#include "journal/labrecords.h"

#include <array>

namespace {

constexpr std::array<std::pair<TQuantityKind, const char *>, 6> kKindKeys{{
    {TQuantityKind::Voltage, "voltage"},
    {TQuantityKind::Current, "current"},
    {TQuantityKind::Power, "power"},
    {TQuantityKind::Frequency, "frequency"},
    {TQuantityKind::Angle, "angle"},
    {TQuantityKind::AnalogCurrent, "analog"},
}};

} // namespace

QString TVerdict::Text() const
{
    return fit ? QStringLiteral("пригоден") : QStringLiteral("непригоден");
}

QString VerificationKindText(TVerificationKind kind)
{
    return kind == TVerificationKind::Primary ? QStringLiteral("первичная") : QStringLiteral("периодическая");
}

QString QuantityKindKey(TQuantityKind kind)
{
    for (const auto &[k, key] : kKindKeys)
        if (k == kind)
            return QString::fromLatin1(key);
    return {};
}

std::optional<TQuantityKind> QuantityKindFromKey(const QString &key)
{
    for (const auto &[k, name] : kKindKeys)
        if (key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return k;
    return std::nullopt;
}
