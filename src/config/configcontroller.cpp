#include "config/configcontroller.h"

#include "protocol/numberformat.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cmath>

namespace {

const QString kLaunch = QStringLiteral("Launch");

// "\Valtrix" and "/Valtrix" alike: a piece of path without its separators.
QString Piece(const QString &name)
{
    QString s = name;
    s.replace(u'\\', u'/');
    while (s.startsWith(u'/'))
        s.remove(0, 1);
    while (s.endsWith(u'/'))
        s.chop(1);
    return s;
}

QString Join(const QString &folder, const QString &piece)
{
    if (folder.isEmpty() || piece.isEmpty())
        return folder.isEmpty() ? piece : folder;
    return folder.endsWith(u'/') ? folder + piece : folder + u'/' + piece;
}

// One level at a time, as the folders are created nowhere else; failures show later as defaults.
void EnsureFolder(const QString &path)
{
    if (path.isEmpty() || QFileInfo(path).isDir())
        return;
    QDir().mkdir(path);
}

} // namespace

struct TConfigController::TPaths {
    QString settingsPath;
    QString programFolder;
};

QString TConfigController::DocumentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

TConfigController::TConfigController(
    const QString &companyFolder, const QString &programName, const QString &settingsFile)
    : TConfigController(DocumentsFolder(), companyFolder, programName, settingsFile)
{
}

TConfigController::TConfigController(const QString &documentsFolder, const QString &companyFolder,
    const QString &programName, const QString &settingsFile)
    : TConfigController([&] {
          const QString company = Join(documentsFolder, Piece(companyFolder));
          const QString program = Join(company, Piece(programName));
          EnsureFolder(documentsFolder);
          EnsureFolder(company);
          EnsureFolder(program);
          return TPaths{Join(program, Piece(settingsFile)), program};
      }())
{
}

TConfigController::TConfigController(const TPaths &paths)
    : settingsPath(paths.settingsPath), programFolder(paths.programFolder), ini(paths.settingsPath)
{
}

TConfigController::~TConfigController() = default;

QString TConfigController::ReadPort(const QString &portDedication) const
{
    try {
        return ini.ReadString(portDedication, QStringLiteral("Port"), QString());
    } catch (...) {
        return QString();
    }
}

QString TConfigController::ReadRate(const QString &portDedication) const
{
    try {
        return ini.ReadString(portDedication, QStringLiteral("Rate"), QStringLiteral("115200"));
    } catch (...) {
        return QStringLiteral("115200");
    }
}

void TConfigController::WritePort(const QString &portDedication, const QString &port)
{
    try {
        ini.WriteString(portDedication, QStringLiteral("Port"), port);
    } catch (...) {
    }
}

void TConfigController::WriteRate(const QString &portDedication, const QString &rate)
{
    try {
        ini.WriteString(portDedication, QStringLiteral("Rate"), rate);
    } catch (...) {
    }
}

int TConfigController::ReadCoord(const QString &key) const
{
    try {
        return ini.ReadInteger(kLaunch, key, 100);
    } catch (...) {
        return 0;
    }
}

int TConfigController::ReadMainWindowCoordX() const
{
    return ReadCoord(QStringLiteral("MainWindowCoordX"));
}

int TConfigController::ReadMainWindowCoordY() const
{
    return ReadCoord(QStringLiteral("MainWindowCoordY"));
}

void TConfigController::WriteMainWindowCoordX(int value)
{
    try {
        ini.WriteInteger(kLaunch, QStringLiteral("MainWindowCoordX"), value);
    } catch (...) {
    }
}

void TConfigController::WriteMainWindowCoordY(int value)
{
    try {
        ini.WriteInteger(kLaunch, QStringLiteral("MainWindowCoordY"), value);
    } catch (...) {
    }
}

bool TConfigController::ReadUpdateFlag() const
{
    try {
        return ini.ReadBool(kLaunch, QStringLiteral("UpdateTag"), true);
    } catch (...) {
        return false;
    }
}

void TConfigController::WriteUpdateFlag(bool value)
{
    try {
        ini.WriteBool(kLaunch, QStringLiteral("UpdateTag"), value);
    } catch (...) {
    }
}

double TConfigController::ReadTag(const QString &group, const QString &tag) const
{
    try {
        // A step of "NAN" or "INF" would make its control useless.
        const double step = ini.ReadFloat(group, tag, 1.0);
        return std::isfinite(step) ? step : 1.0;
    } catch (...) {
        return 1.0;
    }
}

void TConfigController::WriteTag(const QString &group, const QString &tag, double value)
{
    try {
        ini.WriteFloat(group, tag, value);
    } catch (...) {
    }
}

QStringList TConfigController::ReadArray(
    const QString &sectionTag, const QString &paramTag, int length, const QString &defaultText) const
{
    QStringList items;
    try {
        items = KestSettingsList::Split(ini.ReadString(sectionTag, paramTag, defaultText));
    } catch (...) {
        items = KestSettingsList::Split(defaultText);
    }
    while (length > 0 && items.size() < length)
        items.append(defaultText);
    return items;
}

void TConfigController::WriteArray(const QString &sectionTag, const QString &paramTag, const QStringList &value)
{
    try {
        ini.WriteString(sectionTag, paramTag, KestSettingsList::Join(value));
    } catch (...) {
    }
}
