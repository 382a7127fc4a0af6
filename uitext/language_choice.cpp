#include "uitext/language_choice.h"

#include "platform/paths.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace zrq406 {

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

LocaleEnvironment LocaleEnvironment::current() {
    return LocaleEnvironment{environmentValue("LC_ALL"), environmentValue("LC_MESSAGES"), environmentValue("LANG")};
}

bool localeIsGerman(const LocaleEnvironment& environment) {
    std::string_view locale = environment.lcAll;
    if (locale.empty())
        locale = environment.lcMessages;
    if (locale.empty())
        locale = environment.lang;
    // language[_TERRITORY][.codeset][@modifier]: only language and territory count.
    const std::size_t end = locale.find_first_of(".@");
    if (end != std::string_view::npos)
        locale = locale.substr(0, end);
    static constexpr std::array<std::string_view, 5> german = {"de_DE", "de_CH", "de_AT", "de_LU", "de_LI"};
    for (const std::string_view name : german)
        if (locale == name)
            return true;
    return false;
}

std::string chooseLanguage(LanguageProgram program, const LocaleEnvironment& environment) {
    const bool german = localeIsGerman(environment);
    if (program == LanguageProgram::UpgradeTool)
        return german ? "GermanUpgrade.xml" : "EnglishUpgrade.xml";
    return german ? "German.xml" : "English.xml";
}

std::string chooseLanguage(LanguageProgram program) {
    return chooseLanguage(program, LocaleEnvironment::current());
}

std::filesystem::path languageFilePath(LanguageProgram program) {
    return paths::dataFile(chooseLanguage(program));
}

} // namespace zrq406
