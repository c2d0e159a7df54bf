#pragma once
// Qt's own texts (the buttons of a question, the file dialogs, the context menus of entry fields) come
// in English unless Qt's Russian catalogues are loaded; the rest of the program speaks Russian.

class QCoreApplication;

namespace KestTranslations {
// Loads Qt's Russian catalogues into `app`. False when they are not installed (Debian package
// qt6-translations-l10n): the program still runs, with Qt's standard texts in English.
bool Install(QCoreApplication &app);
} // namespace KestTranslations
