#include "uitext/language_texts.h"

#include "platform/paths.h"
#include "uitext/built_in_texts.h"
#include "uitext/load_ui_setting.h"
#include "uitext/placeholders.h"

namespace zrq406 {

namespace {

// The message that names the language file that could not be read: its key in each program's files.
constexpr char kUtilityLanguageFileUnread[] = "msg85";
constexpr char kToolLanguageFileUnread[] = "msg14";

} // namespace

bool loadLanguageTexts(CLoadUISetting& texts, MessageService& messages, LanguageProgram program,
                       const std::string& fileName, const std::vector<std::filesystem::path>& folders) {
    // A file that is there but unreadable is named by its path and what is wrong with it.
    std::string what = fileName;
    std::error_code ec;
    for (const std::filesystem::path& folder : folders) {
        const std::filesystem::path path = folder / fileName;
        if (!std::filesystem::exists(path, ec))
            continue;
        std::string why;
        if (texts.LoadXMLFileQuietly(path.string(), why))
            return true;
        what = path.string() + " (" + why + ")";
        break;
    }
    std::string searched;
    for (const std::filesystem::path& folder : folders)
        searched += (searched.empty() ? "" : ", ") + folder.string();

    // The built-in texts hold the message itself, so it reads the same however the file failed.
    texts.LoadXMLText(builtInEnglishTexts(program));
    const char* key = program == LanguageProgram::UpgradeTool ? kToolLanguageFileUnread : kUtilityLanguageFileUnread;
    std::string text;
    std::string title;
    texts.SelectNodeText(std::string("/ZRQ406/Messages/") + key + "/Text", text);
    texts.SelectNodeText("/ZRQ406/Utility/Text", title);
    messages.show(
        Message{fillPlaceholders(text, {what, searched}), title, MessageIcon::Exclamation, MessageButtons::Ok});
    return false;
}

bool loadLanguageTexts(CLoadUISetting& texts, MessageService& messages, LanguageProgram program,
                       const std::string& fileName) {
    return loadLanguageTexts(texts, messages, program, fileName, paths::dataFolders());
}

} // namespace zrq406
