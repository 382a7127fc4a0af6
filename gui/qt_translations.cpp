#include "gui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace zrq406 {

QtTranslations::QtTranslations(bool german) {
    if (!german)
        return;
    m_translator = std::make_unique<QTranslator>();
    // "qtbase" holds the message box buttons and the file and print dialogs.
    m_loaded = m_translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                                  QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
               QCoreApplication::installTranslator(m_translator.get());
}

QtTranslations::~QtTranslations() {
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
}

} // namespace zrq406
