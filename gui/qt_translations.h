#pragma once

#include <memory>

class QTranslator;

namespace zrq406 {

// Qt's own texts (standard buttons, file and print dialogs) in the program's language, for as long as this object
// lives: German loads Qt's German catalogue from the folder where Qt keeps its translations. English needs none.
class QtTranslations {
public:
    explicit QtTranslations(bool german);
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // False when German was asked for and Qt's catalogue was not found (the buttons then stay English).
    bool loaded() const { return m_loaded; }

private:
    std::unique_ptr<QTranslator> m_translator;
    bool m_loaded = true;
};

} // namespace zrq406
