#pragma once

#include "cli/commands.h"
#include "cli/console_message_service.h"
#include "platform/hex_text.h"
#include "uitext/load_ui_setting.h"

#include <memory>
#include <optional>
#include <string>

namespace zrq406::cli {

// The utility's language file, as the command line's --lang or the locale chooses it; failures of the file
// print on standard error.
class Texts {
public:
    Texts(const GlobalOptions& options, std::ostream& err);
    CLoadUISetting& settings() { return m_settings; }
    // /ZRQ406/Messages/<key>/Text
    std::string message(const std::string& key);
    bool german() const { return m_german; }

private:
    ConsoleMessageService m_messages;
    CLoadUISetting m_settings;
    bool m_german = false;
};

// Opens the session and finds the local device; prints the reason and returns the exit code on failure.
std::optional<int> openWithDevice(Session& session, const GlobalOptions& options, Output& io);
// Opens the session only; prints the reason and returns the exit code on failure.
std::optional<int> openSession(Session& session, const GlobalOptions& options, Output& io);
// Parses the device's MAC (before anything is opened), then opens the session and finds the local device.
std::optional<int> openForDevice(Session& session, const GlobalOptions& options, const std::string& macText,
                                 MacAddress& mac, Output& io);
// Parses a MAC given on the command line; prints the reason on failure.
std::optional<MacAddress> parseMacArgument(const std::string& text, Output& io);
// The scan time as the history stores it: "MMM dd HH:mm", or "dd MMM HH:mm" in German.
std::string scanTime(bool german);

} // namespace zrq406::cli

namespace zrq406::cli {
// Prints rows under their headings in aligned columns.
void printTable(std::ostream& out, const std::vector<std::string>& headings,
                const std::vector<std::vector<std::string>>& rows);
} // namespace zrq406::cli
