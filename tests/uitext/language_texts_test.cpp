#include "tests/support/scripted_message_service.h"
#include "tests/support/source_dir.h"
#include "uitext/built_in_texts.h"
#include "uitext/language_texts.h"
#include "uitext/load_ui_setting.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace zrq406;
using test::ScriptedMessageService;

namespace {

class LanguageTextsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("zrq406-language-texts-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir / "first");
        std::filesystem::create_directories(m_dir / "second");
        m_folders = {m_dir / "first", m_dir / "second"};
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Loads `name` for `program` from the two folders; the one message it may show is kept in `message`.
    bool load(LanguageProgram program, const std::string& name, CLoadUISetting& texts) {
        const bool fromFile = loadLanguageTexts(texts, messages, program, name, m_folders);
        EXPECT_LE(messages.shown().size(), 1u) << ::testing::PrintToString(messages.texts());
        message = messages.texts().empty() ? std::string() : messages.texts().front();
        return fromFile;
    }

    ScriptedMessageService messages;
    std::filesystem::path m_dir;
    std::vector<std::filesystem::path> m_folders;
    std::string message;
};

} // namespace

TEST_F(LanguageTextsTest, AMissingOrBrokenFileIsToldOnceAndTheBuiltInEnglishSpeaksInstead) {
    CLoadUISetting utility(messages, UiTextMode::Utility, "zrq406-config");
    EXPECT_FALSE(load(LanguageProgram::Utility, "German.xml", utility));
    for (const std::string& named :
         {std::string("German.xml"), (m_dir / "first").string(), (m_dir / "second").string()})
        EXPECT_NE(message.find(named), std::string::npos) << named << " in " << message;
    EXPECT_EQ(utility.LoadPageCaption("ZRQ406", "Utility", "Text"), "TALVERN ZRQ406 Configuration Utility");
    EXPECT_EQ(utility.LoadPageCaption("ZRQ406", "NetworkTab", "button_Scan", "Text"), "Scan");
    EXPECT_EQ(messages.shown().size(), 1u);

    // A broken file in the second folder is named by its path; the upgrade tool has its own built-in texts.
    messages.clear();
    std::ofstream(m_dir / "second" / "GermanUpgrade.xml") << "<ZRQ406><Utility>";
    CLoadUISetting tool(messages, UiTextMode::UpgradeTool, "zrq406-upgrade");
    EXPECT_FALSE(load(LanguageProgram::UpgradeTool, "GermanUpgrade.xml", tool));
    EXPECT_NE(message.find((m_dir / "second" / "GermanUpgrade.xml").string()), std::string::npos) << message;
    EXPECT_EQ(tool.LoadPageCaption("ZRQ406", "Utility", "Text"), "TALVERN ZRQ406 Upgrade Tool");

    // A readable file is used, without a word.
    messages.clear();
    std::filesystem::copy_file(test::sourceDirectory() / "lang" / "German.xml", m_dir / "second" / "German.xml");
    EXPECT_TRUE(load(LanguageProgram::Utility, "German.xml", utility));
    EXPECT_EQ(message, "");
    EXPECT_EQ(utility.LoadPageCaption("ZRQ406", "Utility", "Text"), "TALVERN ZRQ406 Konfigurationsprogramm");
}

TEST(BuiltInTexts, AreTheEnglishLanguageFilesAsTheyStand) {
    for (const auto& [program, name] : {std::pair{LanguageProgram::Utility, "English.xml"},
                                        std::pair{LanguageProgram::UpgradeTool, "EnglishUpgrade.xml"}}) {
        std::ostringstream file;
        file << std::ifstream(test::sourceDirectory() / "lang" / name, std::ios::binary).rdbuf();
        EXPECT_EQ(builtInEnglishTexts(program), file.str()) << name;
    }
}
