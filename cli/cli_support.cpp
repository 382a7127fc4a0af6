#include "cli/cli_support.h"

#include "platform/paths.h"
#include "uitext/language_choice.h"

#include <cstdio>
#include <ctime>
#include <ostream>

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
    m_german = file == "German.xml";
    m_settings.LoadXMLFile(paths::dataFile(file).string());
}

std::string Texts::message(const std::string& key) {
    return m_settings.LoadPageCaption("ZRQ406", "Messages", key, "Text");
}

std::optional<int> openSession(Session& session, const GlobalOptions& options, Output& io) {
    std::string error;
    int code = kRefused;
    if (!session.open(options.link, error, code)) {
        io.err << "zrq406: " << error << '\n';
        return code;
    }
    return std::nullopt;
}

std::optional<int> openWithDevice(Session& session, const GlobalOptions& options, Output& io) {
    if (auto code = openSession(session, options, io))
        return code;
    std::string error;
    if (!session.findLocalDevice(error)) {
        io.err << "zrq406: " << error << '\n';
        return kRefused;
    }
    return std::nullopt;
}

std::optional<int> openForDevice(Session& session, const GlobalOptions& options, const std::string& macText,
                                 MacAddress& mac, Output& io) {
    const auto parsed = parseMacArgument(macText, io);
    if (!parsed)
        return kBadInput;
    mac = *parsed;
    return openWithDevice(session, options, io);
}

std::optional<MacAddress> parseMacArgument(const std::string& text, Output& io) {
    const auto mac = MacAddress::parse(text);
    if (!mac)
        io.err << "zrq406: \"" << text << "\" is not a MAC address (write it as 00:b0:52:12:34:56)\n";
    return mac;
}

std::string scanTime(bool german) {
    static const char* const kGermanMonths[12] = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                                                  "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
    static const char* const kEnglishMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    if (german)
        std::snprintf(text, sizeof text, "%02d %s %02d:%02d", local.tm_mday, kGermanMonths[local.tm_mon], local.tm_hour,
                      local.tm_min);
    else
        std::snprintf(text, sizeof text, "%s %02d %02d:%02d", kEnglishMonths[local.tm_mon], local.tm_mday,
                      local.tm_hour, local.tm_min);
    return text;
}

} // namespace zrq406::cli

namespace zrq406::cli {

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
    std::vector<std::size_t> widths(headings.size());
    for (std::size_t c = 0; c < headings.size(); ++c)
        widths[c] = displayWidth(headings[c]);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(row[c]));
    auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
            out << cells[c];
            if (c + 1 < cells.size())
                out << std::string(widths[c] - displayWidth(cells[c]) + 2, ' ');
        }
        out << '\n';
    };
    line(headings);
    for (const auto& row : rows)
        line(row);
}

} // namespace zrq406::cli
