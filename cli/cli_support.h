#pragma once

#include "app/session.h"
#include "cli/commands.h"
#include "cli/console_message_service.h"
#include "platform/hex_text.h"
#include "uitext/load_ui_setting.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zrq406::cli {

// The utility's language file, as the command line's --lang or the locale chooses it, and the message service
// that prints its failures on standard error.
class Texts {
public:
    Texts(const GlobalOptions& options, std::ostream& err);
    CLoadUISetting& settings() { return m_settings; }
    MessageService& messages() { return m_messages; }
    // /ZRQ406/Messages/<key>/<field>
    std::string message(const std::string& key, const std::string& field = "Text");
    bool german() const { return m_german; }

private:
    ConsoleMessageService m_messages;
    CLoadUISetting m_settings;
    bool m_german = false;
};

// What a command works with: the language file and the session over it, with the history of --history. A command
// is one device operation: it holds the session's operation runner from start to end.
struct Tool {
    Tool(const GlobalOptions& options, std::ostream& err);
    Texts texts;
    app::Session session;
    app::OperationLease operation;
};

// Opens the session and finds the local device; prints the reason and returns the exit code on failure.
std::optional<int> openWithDevice(app::Session& session, const GlobalOptions& options, Output& io);
// Opens the session, finds the local device and scans (link table included), for the commands that show the
// network's links; prints the reason and returns the exit code on failure, also when the local device's list of
// stations could not be read.
std::optional<int> openAndScanLinks(Tool& tool, const GlobalOptions& options, Output& io);
// After a scan that found no local device: prints the message naming the devices that answered together as the
// attached one, and returns true, when that was why.
bool tellLocalConflict(app::Session& session, Output& io);
// Opens the session only; prints the reason and returns the exit code on failure.
std::optional<int> openSession(app::Session& session, const GlobalOptions& options, Output& io);
// Replaces `path` with `text` in one step (readers never see half a file, mode 0644): the exit code, with the
// reason printed when it could not be written.
int writeOutputFile(const std::string& path, const std::string& text, Output& io);
// Parses the device's MAC (before anything is opened), then opens the session and finds the local device.
std::optional<int> openForDevice(app::Session& session, const GlobalOptions& options, const std::string& macText,
                                 MacAddress& mac, Output& io);
// Parses the MAC of one device given on the command line (no group or zero address); prints the reason on
// failure.
std::optional<MacAddress> parseMacArgument(const std::string& text, Output& io);

// Reads a password from where the command line says; prints the reason and returns nothing on failure.
std::optional<std::string> readPassword(const PasswordSource& source, const std::string& prompt, Output& io);

// Prints a JSON document; texts that are not valid UTF-8 come out with U+FFFD in place of the bad bytes.
void printJson(std::ostream& out, const nlohmann::json& document);
// Prints rows under their headings in aligned columns; control characters of the cells are not passed on.
void printTable(std::ostream& out, const std::vector<std::string>& headings,
                const std::vector<std::vector<std::string>>& rows);

} // namespace zrq406::cli
