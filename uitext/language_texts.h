#pragma once

#include "platform/message_service.h"
#include "uitext/language_choice.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zrq406 {

class CLoadUISetting;

// Loads a program's language file `fileName` from the first of `folders` that holds it. When none holds it, or
// the file cannot be read, one message names the file and every folder searched, and the English texts built into
// the program are loaded instead. Returns whether the file itself was loaded.
bool loadLanguageTexts(CLoadUISetting& texts, MessageService& messages, LanguageProgram program,
                       const std::string& fileName, const std::vector<std::filesystem::path>& folders);
// The same over the data folders (paths::dataFolders).
bool loadLanguageTexts(CLoadUISetting& texts, MessageService& messages, LanguageProgram program,
                       const std::string& fileName);

} // namespace zrq406
