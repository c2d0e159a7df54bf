#pragma once
// The pictures of the controls ("arrow.jpg", "arrow2.jpg", "on.jpg", "off.jpg"): where they are
// looked up and how a file becomes an image. A picture that is missing, truncated or not a JPEG
// gives a null image; the control then draws itself plainly. Nothing is printed.

#include <QImage>
#include <QString>
#include <QStringList>

namespace ControlPictures {

inline const QString kArrow = QStringLiteral("arrow.jpg");
inline const QString kArrowPressed = QStringLiteral("arrow2.jpg");
inline const QString kOn = QStringLiteral("on.jpg");
inline const QString kOff = QStringLiteral("off.jpg");

// Folders searched in order: the working folder, the program's own folder, the data folder of an
// installation beside the program (../share/kestmanager) and the data folder it was built for.
QStringList SearchFolders();

// Replaces the search order (tests point it at a folder of their own); an empty list restores
// the default order.
void SetSearchFolders(const QStringList &folders);

// Full path of the first existing file `name` in the search folders, or an empty string.
QString Find(const QString &name);

// Decodes one JPEG file; a null image when the file cannot be read or decoded. Files larger than
// a few megabytes are not control pictures and are refused unread.
QImage LoadJpegFile(const QString &path);

// Find and LoadJpegFile together.
QImage Load(const QString &name);

} // namespace ControlPictures
