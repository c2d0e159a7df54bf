#pragma once
// The program's one settings store: the file Settings.txt in Valtrix/KestManager under the user's
// documents folder, and typed access to the keys that belong to no particular window. Every other
// settings class works on the same file through `ini`.
//
// Accessors never raise: a failed read gives the default, a failed write is dropped (and the file
// stays as it was).

#include "config/inifile.h"

#include <QString>
#include <QStringList>

class TConfigController {
public:
    // Folder and file names may be written with a leading "/" or "\"; both are taken as separators.
    // The documents folder is the user's (XDG) documents folder.
    TConfigController(const QString &companyFolder = QStringLiteral("/Valtrix"),
        const QString &programName = QStringLiteral("KestManager"),
        const QString &settingsFile = QStringLiteral("/Settings.txt"));
    // The same below an explicitly given documents folder (an empty one stands for the current
    // folder).
    TConfigController(const QString &documentsFolder, const QString &companyFolder, const QString &programName,
        const QString &settingsFile);

    ~TConfigController();
    TConfigController(const TConfigController &) = delete;
    TConfigController &operator=(const TConfigController &) = delete;

    // The user's documents folder as the system gives it; empty when it gives none.
    static QString DocumentsFolder();

    // "Port" and "Rate" of section `portDedication` ("Port1" installation, "Port2" device under test).
    QString ReadPort(const QString &portDedication) const;
    QString ReadRate(const QString &portDedication) const;
    void WritePort(const QString &portDedication, const QString &port);
    void WriteRate(const QString &portDedication, const QString &rate);

    // Default 100; 0 when the file cannot be read at all.
    int ReadMainWindowCoordX() const;
    int ReadMainWindowCoordY() const;
    void WriteMainWindowCoordX(int value);
    void WriteMainWindowCoordY(int value);

    // Default true; false when the file cannot be read at all.
    bool ReadUpdateFlag() const;
    void WriteUpdateFlag(bool value);

    // A real under key `tag` of section `group`, default 1 (the step of an entry control).
    double ReadTag(const QString &group, const QString &tag) const;
    void WriteTag(const QString &group, const QString &tag, double value);

    // A list under `paramTag` of `sectionTag`, `defaultText` when absent. When `length` is non-zero
    // and fewer items are stored, copies of `defaultText` are appended up to `length` items.
    QStringList ReadArray(
        const QString &sectionTag, const QString &paramTag, int length, const QString &defaultText) const;
    void WriteArray(const QString &sectionTag, const QString &paramTag, const QStringList &value);

    const QString settingsPath; // full path of Settings.txt
    const QString programFolder; // Valtrix/KestManager under the documents folder
    // Shared by every settings class; reads and writes go straight to the file.
    TIniFile ini;

private:
    struct TPaths;
    TConfigController(const TPaths &paths);
    int ReadCoord(const QString &key) const;
};
