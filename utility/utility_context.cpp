#include "utility/utility_context.h"

#include "platform/paths.h"
#include "uitext/load_ui_setting.h"

namespace zrq406::utility {

UtilityContext::UtilityContext(MessageService& messages_, CLoadUISetting& texts_, FileDialogs& files_, bool german_)
    : messages(messages_), texts(texts_), files(files_),
      session(messages_, texts_, link::LinkMode::Utility, "zrq406-config"), german(german_),
      upgradeToolPath(paths::executableDir() / "zrq406-upgrade"),
      scanIntervalMs(static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(session.pacing().scaled(120000)).count())) {
    title = texts.LoadPageCaption("ZRQ406", "Utility", "Text");
}

std::string UtilityContext::message(const std::string& key, const std::string& field) {
    return texts.LoadPageCaption("ZRQ406", "Messages", key, field);
}

MessageAnswer UtilityContext::show(const std::string& text, MessageIcon icon, MessageButtons buttons) {
    return messages.show(Message{text, title, icon, buttons});
}

MessageAnswer UtilityContext::showMessage(const std::string& key, MessageIcon icon, MessageButtons buttons) {
    return show(message(key), icon, buttons);
}

void UtilityContext::noteEditedRow(std::vector<int>& rows, int row) {
    if (static_cast<int>(rows.size()) < kEditedRowsCapacity)
        rows.push_back(row);
}

} // namespace zrq406::utility
