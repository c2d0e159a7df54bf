#include "update/updateendpoints.h"

#include "config/configcontroller.h"

#include <QHostAddress>

namespace KestUpdate {

QString DefaultServer()
{
    return QStringLiteral("https://www.valtrix.ru");
}

QString NormalizeServer(const QString &text)
{
    QString s = text.trimmed();
    while (s.endsWith(u'/'))
        s.chop(1);
    const QUrl url(s, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    if (url.hasQuery() || url.hasFragment())
        return {};
    return s;
}

QString ReadUpdateServer(const TConfigController &config)
{
    QString stored;
    try {
        stored = config.ini.ReadString(QStringLiteral("Launch"), QStringLiteral("UpdateServer"), {});
    } catch (...) {
        // An unreadable settings file means no override.
    }
    const QString server = NormalizeServer(stored);
    return server.isEmpty() ? DefaultServer() : server;
}

QString VersionPageUrl(const QString &server)
{
    return server + kVersionPagePath;
}

QString InstallerUrl(const QString &server)
{
    return server + kInstallerPath;
}

int PortOf(const QUrl &url)
{
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
}

bool IsRedirectAllowed(const QUrl &origin, const QUrl &target)
{
    if (!target.isValid() || target.host().isEmpty())
        return false;
    const QString scheme = target.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    const QHostAddress host(origin.host());
    const bool loopbackOrigin = (!host.isNull() && host.isLoopback())
        || origin.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    return loopbackOrigin && origin.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        && target.host().compare(origin.host(), Qt::CaseInsensitive) == 0 && PortOf(target) == PortOf(origin);
}

} // namespace KestUpdate
