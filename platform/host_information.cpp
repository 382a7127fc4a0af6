#include "platform/host_information.h"

#include "platform/display_text.h"
#include "platform/text_field.h"

#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace zrq406 {

namespace {

// System files are small; anything beyond this is not read.
constexpr std::size_t kMaxFileBytes = 1 << 20;

std::string readSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text(kMaxFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    while (!text.empty()) {
        const auto end = text.find('\n');
        result.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return result;
}

// "key : value" lines of /proc files.
bool keyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    key = trimmed(line.substr(0, colon));
    value = trimmed(line.substr(colon + 1));
    return true;
}

std::string userName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        std::string name = found->pw_name != nullptr ? found->pw_name : "";
        // The first field of the comment is the user's full name.
        std::string_view gecos = found->pw_gecos != nullptr ? found->pw_gecos : "";
        gecos = trimmed(gecos.substr(0, gecos.find(',')));
        if (!gecos.empty() && gecos != name)
            name += " (" + std::string(gecos) + ")";
        if (!name.empty())
            return name;
    }
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0')
        return user;
    return std::to_string(::getuid());
}

std::string computerName() {
    std::array<char, HOST_NAME_MAX + 1> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0)
        return {};
    return std::string(name.data());
}

} // namespace

std::string processorFromCpuinfo(std::string_view cpuinfo) {
    std::string model;
    int processors = 0;
    for (const std::string_view line : lines(cpuinfo)) {
        std::string_view key;
        std::string_view value;
        if (!keyValue(line, key, value))
            continue;
        if (key == "processor") {
            ++processors;
        } else if (model.empty() && !value.empty() &&
                   (key == "model name" || key == "Hardware" || key == "cpu model" || key == "Processor")) {
            model = std::string(value);
        }
    }
    if (model.empty())
        return {};
    if (processors > 1)
        model += " \xC3\x97 " + std::to_string(processors);
    return model;
}

std::string osReleaseValue(std::string_view osRelease, std::string_view key) {
    for (std::string_view line : lines(osRelease)) {
        line = trimmed(line);
        if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=')
            continue;
        std::string_view value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            const char quote = value.front();
            value = value.substr(1, value.size() - 2);
            std::string unquoted;
            for (std::size_t i = 0; i < value.size(); ++i) {
                if (quote == '"' && value[i] == '\\' && i + 1 < value.size())
                    ++i;
                unquoted += value[i];
            }
            return unquoted;
        }
        return std::string(value);
    }
    return {};
}

std::uint64_t memoryFromMeminfo(std::string_view meminfo) {
    for (const std::string_view line : lines(meminfo)) {
        std::string_view key;
        std::string_view value;
        if (!keyValue(line, key, value) || key != "MemTotal")
            continue;
        std::uint64_t kib = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), kib);
        if (ec != std::errc() || kib > UINT64_MAX / 1024)
            return 0;
        (void)end;
        return kib * 1024;
    }
    return 0;
}

std::string memoryText(std::uint64_t bytes) {
    constexpr double kMiB = 1024.0 * 1024.0;
    constexpr double kGiB = kMiB * 1024.0;
    char text[32];
    if (static_cast<double>(bytes) >= kGiB)
        std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / kGiB);
    else
        std::snprintf(text, sizeof text, "%.0f MiB", static_cast<double>(bytes) / kMiB);
    return text;
}

HostInformation readHostInformation(const HostSources& sources) {
    HostInformation info;
    info.computerName = validUtf8(computerName());
    info.userName = validUtf8(userName());
    utsname names{};
    const bool haveNames = ::uname(&names) == 0;
    info.processor = validUtf8(processorFromCpuinfo(readSmallFile(sources.cpuinfo)));
    if (info.processor.empty() && haveNames)
        info.processor = validUtf8(names.machine);
    const std::string osRelease = readSmallFile(sources.osRelease);
    info.osName = osReleaseValue(osRelease, "NAME");
    if (info.osName.empty() && haveNames)
        info.osName = names.sysname;
    info.osName = validUtf8(info.osName);
    std::string version = osReleaseValue(osRelease, "VERSION");
    if (version.empty())
        version = osReleaseValue(osRelease, "VERSION_ID");
    if (haveNames) {
        const std::string kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
        version = version.empty() ? kernel : version + ", " + kernel;
    }
    info.osVersion = validUtf8(version);
    info.memoryBytes = memoryFromMeminfo(readSmallFile(sources.meminfo));
    return info;
}

} // namespace zrq406
