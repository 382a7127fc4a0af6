#include "upgrade/upgrade_tool_context.h"

#include "app/session.h"
#include "app/upgrade_tool_state.h"
#include "gui/window_thread.h"
#include "uitext/load_ui_setting.h"

namespace zrq406 {

UpgradeToolContext::UpgradeToolContext(app::Session& session, app::UpgradeToolState& state)
    : m_session(session), m_state(state) {
    m_title = text({"Utility", "Text"});
}

CLoadUISetting& UpgradeToolContext::texts() {
    return m_session.texts();
}

std::string UpgradeToolContext::text(const std::vector<std::string>& parts) {
    // The language file is read on the window thread only.
    return onWindowThread<std::string>([&] {
        std::vector<std::string> path{"ZRQ406"};
        path.insert(path.end(), parts.begin(), parts.end());
        std::string value;
        texts().GetStdNodeText(path, value);
        return value;
    });
}

std::string UpgradeToolContext::textOr(const std::vector<std::string>& parts, const std::string& fallback) {
    std::string value = text(parts);
    return value.empty() ? fallback : value;
}

MessageAnswer UpgradeToolContext::message(const std::string& key, MessageIcon icon, MessageButtons buttons,
                                          const std::string& more) {
    std::string body = text({"Messages", key, "Text"});
    if (!more.empty())
        body += "\n\n" + more;
    return m_session.messages().show(Message{body, m_title, icon, buttons});
}

} // namespace zrq406
