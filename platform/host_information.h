#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zrq406 {

// What the diagnostics tell about the computer the programs run on. Texts come from system files and may hold
// any bytes; they are made valid UTF-8 here.
struct HostInformation {
    std::string computerName;      // gethostname
    std::string userName;          // the passwd entry of the real user (its full name in brackets when it has one)
    std::string processor;         // /proc/cpuinfo's model, "× N" logical processors
    std::string osName;            // /etc/os-release NAME
    std::string osVersion;         // /etc/os-release VERSION, then the kernel's release and machine (uname)
    std::uint64_t memoryBytes = 0; // /proc/meminfo MemTotal
};

// Where readHostInformation looks; tests name files of their own.
struct HostSources {
    std::filesystem::path cpuinfo = "/proc/cpuinfo";
    std::filesystem::path osRelease = "/etc/os-release";
    std::filesystem::path meminfo = "/proc/meminfo";
};

HostInformation readHostInformation(const HostSources& sources = {});

// The processor named by a /proc/cpuinfo text ("model name", else "Hardware", "cpu model" or "Processor"), with
// "× N" when it lists N > 1 processors; empty when it names none.
std::string processorFromCpuinfo(std::string_view cpuinfo);
// A value of an os-release text (KEY=value, the value optionally quoted with shell escapes); empty when missing.
std::string osReleaseValue(std::string_view osRelease, std::string_view key);
// MemTotal of a /proc/meminfo text, in bytes; 0 when missing.
std::uint64_t memoryFromMeminfo(std::string_view meminfo);
// A byte count as people read it: "512 MiB", "7.8 GiB".
std::string memoryText(std::uint64_t bytes);

} // namespace zrq406
