#include "presentation/controls/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace KestTranslations {

bool Install(QCoreApplication &app)
{
    // The program's captions are Russian whatever the user's locale, so Qt's must be too.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    auto *translator = new QTranslator(&app);
    if (!translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace KestTranslations
