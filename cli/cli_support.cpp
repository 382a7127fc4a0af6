#include "cli/cli_support.h"

#include "app/scan_cycle.h"
#include "platform/atomic_file.h"
#include "platform/display_text.h"
#include "platform/paths.h"
#include "platform/regular_file.h"
#include "uitext/language_choice.h"
#include "uitext/language_texts.h"

#include <fstream>
#include <iostream>
#include <ostream>
#include <termios.h>
#include <unistd.h>

namespace zrq406::cli {

Texts::Texts(const GlobalOptions& options, std::ostream& err)
    : m_messages(err), m_settings(m_messages, UiTextMode::Utility, "zrq406") {
    std::string file;
    if (options.language == "de")
        file = "German.xml";
    else if (options.language == "en")
        file = "English.xml";
    else
        file = chooseLanguage(LanguageProgram::Utility);
    // Without its language file the tool prints one line saying so and speaks the English built into it.
    m_german = loadLanguageTexts(m_settings, m_messages, LanguageProgram::Utility, file) && file == "German.xml";
}

std::string Texts::message(const std::string& key, const std::string& field) {
    return m_settings.LoadPageCaption("ZRQ406", "Messages", key, field);
}

Tool::Tool(const GlobalOptions& options, std::ostream& err)
    : texts(options, err), session(texts.messages(), texts.settings()), operation(session.runner().begin()) {
    if (!options.historyPath.empty())
        session.registry().setHistoryPath(options.historyPath);
}

int writeOutputFile(const std::string& path, const std::string& text, Output& io) {
    if (const FileWriteResult written = writeFileAtomically(path, text, FileAccess::Everyone); !written) {
        io.err << "zrq406: " << terminalText(written.error) << '\n';
        return kRefused;
    }
    return kDone;
}

std::optional<int> openSession(app::Session& session, const GlobalOptions& options, Output& io) {
    const app::OpenResult opened = session.open(options.link);
    if (!opened) {
        io.err << "zrq406: " << opened.error << '\n';
        const bool badInput = opened.failure == app::OpenFailure::BadNetworkFile ||
                              opened.failure == app::OpenFailure::BadCaptureFile ||
                              opened.failure == app::OpenFailure::UnknownInterface;
        return badInput ? kBadInput : kRefused;
    }
    return std::nullopt;
}

std::optional<int> openWithDevice(app::Session& session, const GlobalOptions& options, Output& io) {
    if (auto code = openSession(session, options, io))
        return code;
    const int only = session.onlyAdapter();
    if (app::findLocalDevice(session, only) < 0) {
        if (!tellLocalConflict(session, io))
            io.err << "zrq406: "
                   << (only >= 0 ? "no powerline device answers on " + options.link.interfaceName
                                 : std::string("no powerline device answers on any adapter"))
                   << '\n';
        return kRefused;
    }
    return std::nullopt;
}

std::optional<int> openAndScanLinks(Tool& tool, const GlobalOptions& options, Output& io) {
    app::Session& session = tool.session;
    if (auto code = openWithDevice(session, options, io))
        return code;
    const auto report = app::buildScanRecords(session, app::scanTimeText(tool.texts.german()));
    if (report.stationListUnread) {
        io.err << "zrq406: the local device " << session.discoveryResult().local.mac.text()
               << " answered, but its list of the network's stations could not be read\n";
        return kRefused;
    }
    return std::nullopt;
}

bool tellLocalConflict(app::Session& session, Output& io) {
    const std::string conflict = app::localConflictText(session.texts(), session.discoveryResult());
    if (conflict.empty())
        return false;
    io.err << "zrq406: " << terminalText(conflict) << '\n';
    return true;
}

std::optional<int> openForDevice(app::Session& session, const GlobalOptions& options, const std::string& macText,
                                 MacAddress& mac, Output& io) {
    const auto parsed = parseMacArgument(macText, io);
    if (!parsed)
        return kBadInput;
    mac = *parsed;
    return openWithDevice(session, options, io);
}

std::optional<MacAddress> parseMacArgument(const std::string& text, Output& io) {
    const auto mac = MacAddress::parse(text);
    if (!mac) {
        io.err << "zrq406: \"" << terminalText(text) << "\" is not a MAC address (write it as 00:b0:52:12:34:56)\n";
        return std::nullopt;
    }
    // Every command that takes a MAC acts on one device, and a group or zero address names none in particular.
    if (mac->isGroup() || mac->isZero()) {
        io.err << "zrq406: " << mac->text() << " is " << (mac->isGroup() ? "a group" : "no device's")
               << " address; name one device by its own MAC address\n";
        return std::nullopt;
    }
    return mac;
}

namespace {

constexpr std::size_t kMaxPasswordFile = 64 * 1024;

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// One line from standard input, read without echo when it is a terminal.
std::optional<std::string> promptLine(const std::string& prompt, Output& io) {
    std::istream& in = io.in != nullptr ? *io.in : std::cin;
    const bool terminal = io.in == nullptr && isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        io.err << prompt << std::flush;
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool read = static_cast<bool>(std::getline(in, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        io.err << '\n';
    }
    if (!read)
        return std::nullopt;
    return withoutLineEnd(line);
}

} // namespace

std::optional<std::string> readPassword(const PasswordSource& source, const std::string& prompt, Output& io) {
    if (source.text)
        return *source.text;
    std::optional<std::string> password;
    if (source.prompt || source.file == "-") {
        password = promptLine(prompt, io);
        if (!password)
            io.err << "zrq406: no password was given on standard input\n";
    } else {
        // A password file holds one line; a much larger file is not one.
        const FileReadResult read = readRegularFile(source.file, kMaxPasswordFile);
        if (!read)
            io.err << "zrq406: " << terminalText(read.error) << '\n';
        else if (read.content.empty())
            io.err << "zrq406: " << terminalText(source.file) << ": cannot read a password from it\n";
        else
            password = withoutLineEnd(read.content.substr(0, read.content.find('\n')));
    }
    if (password && password->empty()) {
        io.err << "zrq406: the password is empty\n";
        password.reset();
    }
    return password;
}

void printJson(std::ostream& out, const nlohmann::json& document) {
    out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

namespace {
std::size_t displayWidth(const std::string& text) {
    std::size_t width = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80)
            ++width;
    return width;
}
} // namespace

void printTable(std::ostream& out, const std::vector<std::string>& headings,
                const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::vector<std::string>> shown;
    shown.reserve(rows.size() + 1);
    auto clean = [](const std::vector<std::string>& cells) {
        std::vector<std::string> safe;
        for (const auto& cell : cells)
            safe.push_back(terminalText(cell));
        return safe;
    };
    shown.push_back(clean(headings));
    for (const auto& row : rows)
        shown.push_back(clean(row));
    std::vector<std::size_t> widths(headings.size());
    for (const auto& row : shown)
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));
    for (const auto& cells : shown) {
        for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
            out << cells[c];
            if (c + 1 < cells.size())
                out << std::string(widths[c] - displayWidth(cells[c]) + 2, ' ');
        }
        out << '\n';
    }
}

} // namespace zrq406::cli
