#pragma once
// The eight device configurations (the kinds of transducer under test), in the order of the
// configuration list; the index is what "ConfigIndex" stores. Everything that differs per configuration
// is a row of a table keyed by this code, never a comparison of names.

#include <QString>
#include <QStringList>

#include <optional>

enum class TConfigurationCode : int { I, U, F, P, Q, PQ, QX4, QX4E };

inline constexpr int kConfigurationCount = 8;

// "I", "U", "F", "P", "Q", "PQ", "QX4", "QX4E".
const QStringList &ConfigurationNames();
QString ConfigurationName(TConfigurationCode code);
std::optional<TConfigurationCode> ConfigurationFromName(const QString &name);
std::optional<TConfigurationCode> ConfigurationFromIndex(int index);
constexpr int ConfigurationIndex(TConfigurationCode code)
{
    return static_cast<int>(code);
}

// "QX4" and "QX4E": the multi-function transducers with the full readout and their own address.
constexpr bool IsQx4Type(TConfigurationCode code)
{
    return code == TConfigurationCode::QX4 || code == TConfigurationCode::QX4E;
}
