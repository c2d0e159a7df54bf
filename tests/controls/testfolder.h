#pragma once
// A temporary folder for one test, removed afterwards, and the paths of the real pictures.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

struct TTestFolder {
    QTemporaryDir dir;
    QString Path(const QString &name) const { return dir.filePath(name); }
    // Writes `bytes` to `name` in the folder; returns its path.
    QString Write(const QString &name, const QByteArray &bytes) const;
};

// The pictures as kept in the source tree.
QString SourcePicture(const QString &name);
QByteArray ReadAll(const QString &path);
