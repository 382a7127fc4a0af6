#include "uitext/language_choice.h"

#include <gtest/gtest.h>

using namespace zrq406;

TEST(LanguageChoice, GermanOnlyForTheFiveGermanRegions) {
    for (const char* locale : {"de_DE.UTF-8", "de_CH", "de_AT.UTF-8@euro", "de_LU.utf8", "de_LI"}) {
        EXPECT_EQ(chooseLanguage(LanguageProgram::Utility, {"", "", locale}), "German.xml") << locale;
        EXPECT_EQ(chooseLanguage(LanguageProgram::UpgradeTool, {"", "", locale}), "GermanUpgrade.xml") << locale;
    }
    for (const char* locale : {"nl_NL.UTF-8", "de_BE.UTF-8", "de", "en_US.UTF-8", "C", "", "de_ATX", "xde_DE"}) {
        EXPECT_EQ(chooseLanguage(LanguageProgram::Utility, {"", "", locale}), "English.xml") << locale;
        EXPECT_EQ(chooseLanguage(LanguageProgram::UpgradeTool, {"", "", locale}), "EnglishUpgrade.xml") << locale;
    }
}

TEST(LanguageChoice, FirstSetVariableDecides) {
    EXPECT_TRUE(localeIsGerman({"de_AT.UTF-8", "en_GB.UTF-8", "en_US.UTF-8"}));
    EXPECT_FALSE(localeIsGerman({"C.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8"}));
    EXPECT_TRUE(localeIsGerman({"", "de_CH.UTF-8", "en_US.UTF-8"}));
    EXPECT_FALSE(localeIsGerman({"", "en_US.UTF-8", "de_DE.UTF-8"}));
    EXPECT_TRUE(localeIsGerman({"", "", "de_LU"}));
}

TEST(LanguageChoice, PathNamesTheChosenFile) {
    EXPECT_EQ(languageFilePath(LanguageProgram::UpgradeTool).filename(), chooseLanguage(LanguageProgram::UpgradeTool));
    EXPECT_EQ(languageFilePath(LanguageProgram::Utility).filename(), chooseLanguage(LanguageProgram::Utility));
}
