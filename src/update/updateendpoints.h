#pragma once
// Where the update check looks: the maker's server (a built-in https address, or the settings'
// "UpdateServer" in section "Launch" for a local mirror or a test server) and the two fixed paths
// on it.

#include <QString>
#include <QUrl>

class TConfigController;

namespace KestUpdate {

// What the program announces about itself.
inline const QString kProgramName = QStringLiteral("KestManager");
inline const QString kProgramVersion = QStringLiteral("1.18");

inline const QString kVersionPagePath = QStringLiteral("/sluzhebnye-programmy");
inline const QString kInstallerPath = QStringLiteral("/sites/default/files/site_user/kestmanager_setup.exe");

// The maker's web server.
QString DefaultServer();

// An http or https address with a host, without a trailing "/"; empty for anything else.
QString NormalizeServer(const QString &text);

// "UpdateServer" of section "Launch" when it holds a usable address, otherwise the default.
// Never raises.
QString ReadUpdateServer(const TConfigController &config);

QString VersionPageUrl(const QString &server);
QString InstallerUrl(const QString &server);

// The port a connection to `url` goes to (the scheme's default when none is written).
int PortOf(const QUrl &url);

// Whether a download that started at `origin` may follow a redirect to `target`: to https
// addresses, or, when `origin` is a loopback server, back to that same server.
bool IsRedirectAllowed(const QUrl &origin, const QUrl &target);

} // namespace KestUpdate
