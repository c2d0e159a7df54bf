#pragma once
// Every test program of the settings runs with HOME and the XDG folders pointing into a temporary
// folder made before any test starts, so no test can touch the real user's documents.

#include <QString>

namespace KestTestHome {
// The temporary home folder (removed when the program ends).
QString Root();
// A fresh empty folder inside it.
QString NewFolder();
} // namespace KestTestHome
