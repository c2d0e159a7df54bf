#include "protocol/configuration.h"

const QStringList &ConfigurationNames()
{
    static const QStringList names{"I", "U", "F", "P", "Q", "PQ", "QX4", "QX4E"};
    return names;
}

QString ConfigurationName(TConfigurationCode code)
{
    return ConfigurationNames().value(ConfigurationIndex(code));
}

std::optional<TConfigurationCode> ConfigurationFromIndex(int index)
{
    if (index < 0 || index >= kConfigurationCount)
        return std::nullopt;
    return static_cast<TConfigurationCode>(index);
}

std::optional<TConfigurationCode> ConfigurationFromName(const QString &name)
{
    return ConfigurationFromIndex(static_cast<int>(ConfigurationNames().indexOf(name)));
}
