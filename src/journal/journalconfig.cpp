#include "journal/journalconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QString kSection = QStringLiteral("Journal");
} // namespace

QString TJournalConfig::ReadDriver() const
{
    return ReadText(kSection, QStringLiteral("Driver"), QStringLiteral("QSQLITE"));
}
void TJournalConfig::WriteDriver(const QString &value)
{
    WriteText(kSection, QStringLiteral("Driver"), value);
}
QString TJournalConfig::ReadFile() const
{
    return ReadText(kSection, QStringLiteral("File"), QString());
}
void TJournalConfig::WriteFile(const QString &value)
{
    WriteText(kSection, QStringLiteral("File"), value);
}
QString TJournalConfig::ReadHost() const
{
    return ReadText(kSection, QStringLiteral("Host"), QString());
}
void TJournalConfig::WriteHost(const QString &value)
{
    WriteText(kSection, QStringLiteral("Host"), value);
}
QString TJournalConfig::ReadPort() const
{
    return ReadText(kSection, QStringLiteral("Port"), QStringLiteral("5432"));
}
void TJournalConfig::WritePort(const QString &value)
{
    WriteText(kSection, QStringLiteral("Port"), value);
}
QString TJournalConfig::ReadDatabase() const
{
    return ReadText(kSection, QStringLiteral("Database"), QStringLiteral("kestmanager"));
}
void TJournalConfig::WriteDatabase(const QString &value)
{
    WriteText(kSection, QStringLiteral("Database"), value);
}
QString TJournalConfig::ReadUser() const
{
    return ReadText(kSection, QStringLiteral("User"), QString());
}
void TJournalConfig::WriteUser(const QString &value)
{
    WriteText(kSection, QStringLiteral("User"), value);
}
QString TJournalConfig::ReadPasswordFile() const
{
    return ReadText(kSection, QStringLiteral("PasswordFile"), QString());
}
void TJournalConfig::WritePasswordFile(const QString &value)
{
    WriteText(kSection, QStringLiteral("PasswordFile"), value);
}

QString TJournalOptions::DefaultFolder()
{
    // The program's application-data folder, named explicitly so that kestctl (which calls itself
    // otherwise) journals into the same file as the windows.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Valtrix/KestManager");
}

TJournalOptions TJournalOptions::Local(const QString &folder)
{
    const QString base = folder.isEmpty() ? DefaultFolder() : folder;
    TJournalOptions o;
    o.localFile = base + QStringLiteral("/journal.sqlite");
    o.bufferFile = base + QStringLiteral("/journal-buffer.sqlite");
    return o;
}

TJournalOptions TJournalOptions::FromSettings(TConfigController *settings, const QString &appDataFolder)
{
    const QString base = appDataFolder.isEmpty() ? DefaultFolder() : appDataFolder;
    TJournalOptions o = Local(base);
    if (!settings)
        return o;
    TJournalConfig config(settings);
    const QString file = config.ReadFile().trimmed();
    if (!file.isEmpty())
        o.localFile = file;
    const QString driver = config.ReadDriver().trimmed().toUpper();
    if (driver == QLatin1String("QPSQL") || driver == QLatin1String("POSTGRESQL")) {
        TJournalConnection c;
        c.dialect = TJournalDialect::PostgreSQL;
        c.host = config.ReadHost().trimmed();
        bool ok = false;
        const int port = config.ReadPort().trimmed().toInt(&ok);
        c.port = ok && port > 0 && port < 65536 ? port : 5432;
        c.database = config.ReadDatabase().trimmed();
        c.user = config.ReadUser().trimmed();
        QString passwordFile = config.ReadPasswordFile().trimmed();
        if (passwordFile.isEmpty())
            passwordFile = base + QStringLiteral("/journal.password");
        QString problem;
        if (auto password = ReadJournalPassword(passwordFile, problem))
            c.password = *password;
        if (!problem.isEmpty())
            o.notices << problem;
        o.server = c;
    } else if (!driver.isEmpty() && driver != QLatin1String("QSQLITE") && driver != QLatin1String("SQLITE")) {
        o.notices << QStringLiteral("Неизвестный драйвер журнала \"%1\" в настройках; используется файл %2.")
                         .arg(config.ReadDriver(), o.localFile);
    }
    return o;
}

std::optional<QString> ReadJournalPassword(const QString &path, QString &problem)
{
    problem.clear();
    QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFile::permissions(path) & others) {
        problem = QStringLiteral("Файл пароля журнала %1 доступен не только владельцу и не используется. "
                                 "Закройте доступ: chmod 600 %1")
                      .arg(path);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = QStringLiteral("Файл пароля журнала %1 не читается: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray line = file.readLine(4096);
    QString password = QString::fromUtf8(line);
    while (password.endsWith(QLatin1Char('\n')) || password.endsWith(QLatin1Char('\r')))
        password.chop(1);
    return password;
}
