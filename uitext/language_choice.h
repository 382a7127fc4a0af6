#pragma once

#include <filesystem>
#include <string>

namespace zrq406 {

// Which program asks: each has its own pair of language files.
enum class LanguageProgram { Utility, UpgradeTool };

// The locale variables that decide the language, in the order POSIX gives them precedence.
struct LocaleEnvironment {
    std::string lcAll;
    std::string lcMessages;
    std::string lang;

    // The process's own LC_ALL, LC_MESSAGES and LANG.
    static LocaleEnvironment current();
};

// True for German as used in Germany, Switzerland, Austria, Luxembourg and Liechtenstein (de_DE, de_CH, de_AT,
// de_LU, de_LI), judged by the first non-empty of LC_ALL, LC_MESSAGES and LANG.
bool localeIsGerman(const LocaleEnvironment& environment);

// The language file name for a program in a locale: "German.xml" / "English.xml", or "GermanUpgrade.xml" /
// "EnglishUpgrade.xml" for the upgrade tool.
std::string chooseLanguage(LanguageProgram program, const LocaleEnvironment& environment);
// The language file name for a program in the process's locale.
std::string chooseLanguage(LanguageProgram program);
// The full path of that file: beside the executable when it is there, else in the installed data folder.
std::filesystem::path languageFilePath(LanguageProgram program);

} // namespace zrq406
