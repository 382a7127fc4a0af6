#pragma once

#include "platform/message_service.h"

#include <string>
#include <vector>

namespace zrq406 {

class CLoadUISetting;

namespace app {
class Session;
struct UpgradeToolState;
} // namespace app

// What every page of the upgrade tool works with: the session, the run's state and the language file, with the
// program title that captions every message.
class UpgradeToolContext {
public:
    UpgradeToolContext(app::Session& session, app::UpgradeToolState& state);

    app::Session& session() { return m_session; }
    app::UpgradeToolState& state() { return m_state; }
    const app::UpgradeToolState& state() const { return m_state; }
    CLoadUISetting& texts();
    const std::string& title() const { return m_title; }

    // The text at /ZRQ406/<parts>, empty when the file lacks it; read on the window thread whichever thread asks.
    std::string text(const std::vector<std::string>& parts);
    // The text at /ZRQ406/<parts>, or `fallback` when the file lacks it.
    std::string textOr(const std::vector<std::string>& parts, const std::string& fallback);
    // Shows Messages/<key>/Text (with `more` after a blank line) captioned with the program title.
    MessageAnswer message(const std::string& key, MessageIcon icon = MessageIcon::None,
                          MessageButtons buttons = MessageButtons::Ok, const std::string& more = {});

private:
    app::Session& m_session;
    app::UpgradeToolState& m_state;
    std::string m_title;
};

} // namespace zrq406
