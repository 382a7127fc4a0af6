// A session of the tool against the simulated network, captured to pcap files and decoded by the standard
// HomePlug AV dissector of tshark: every request the tool builds and every answer of the simulated devices must
// decode without malformed frames or expert warnings, as captures of real devices do.
#include "cli_fixture.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

using zrq406::test::CliFixture;

namespace {

const std::string kRemote = "00:b0:52:5a:00:02";
const std::string kOld = "00:b0:52:5a:00:03";
const std::string kRefusing = "00:b0:52:5a:00:04";
const std::string kSilent = "00:b0:52:5a:00:05";
const std::string kRemotePassword = "GTNE-WHFU-YBSK-QCLM";

// Expert infos at or above this severity (tshark's "warning") count as faults of a frame.
constexpr long kWarningSeverity = 0x600000;

std::optional<std::string> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// Standard output of a shell command, and its exit status.
std::string runCommand(const std::string& command, int& status) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        out.append(buffer.data(), n);
    status = ::pclose(pipe);
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

} // namespace

TEST_F(CliFixture, CapturedSessionDecodesCleanlyInTheStandardDissector) {
    const auto tshark = findProgram("tshark");
    if (!tshark)
        GTEST_SKIP() << "tshark is not installed (Debian package tshark): the captured session is not decoded";

    // Refusals are captured too: one device refuses its attributes, a fifth refuses its version.
    for (auto& device : network()["devices"])
        if (device["mac"] == kRefusing)
            device["faults"] = nlohmann::json::array({{{"kind", "fail"}, {"message", "attributes"}, {"share", 1.0}}});
    network()["devices"].push_back(
        {{"mac", kSilent},
         {"tei", 5},
         {"faults", nlohmann::json::array({{{"kind", "fail"}, {"message", "software-version"}, {"share", 1.0}}})}});
    writeNetwork();
    const auto file = upgradeFile("3-3-3348-00-2764-CE-0712", "ZRQPLC1-MAC-3-3-3348-00-2764-CE-0712");

    std::vector<std::filesystem::path> captures;
    auto capture = [&](const std::string& name) {
        captures.push_back(path(name + ".pcap"));
        return captures.back().string();
    };
    // Every message of the catalogue: discovery, block reads, writes and commits of both modules, both forms of
    // the key, a factory reset, and the probe frames.
    auto scan = run({"--capture", capture("scan"), "scan", "--no-save"});
    ASSERT_EQ(scan.code, 0) << scan.err;
    auto led = run({"--capture", capture("led"), "led", kRemote, "off"});
    ASSERT_EQ(led.code, 0) << led.err;
    auto upgrade = run({"--capture", capture("upgrade"), "upgrade", file.string(), kOld});
    ASSERT_EQ(upgrade.code, 0) << upgrade.err;
    auto key = run({"--capture", capture("key"), "set-key", "--password", "ZrqCaptureNet1", "--device", kRemote,
                    "--device-password", kRemotePassword, "--local"});
    ASSERT_EQ(key.code, 0) << key.err;
    auto reset = run({"--capture", capture("reset"), "reset", kRemote});
    ASSERT_EQ(reset.code, 0) << reset.err;

    std::set<std::uint16_t> types;
    int probes = 0;
    for (const auto& pcap : captures) {
        SCOPED_TRACE(pcap.filename().string());
        const auto frames = zrq406::test::capturedFrames(pcap);
        ASSERT_FALSE(frames.empty());
        for (const auto& frame : frames) {
            ASSERT_GE(frame.size(), 17u);
            if (frame[12] == 0x88 && frame[13] == 0xE1)
                types.insert(static_cast<std::uint16_t>(frame[15] | frame[16] << 8));
            probes += frame[12] == 0x08 && frame[13] == 0x00;
        }

        int status = 0;
        const std::string fields = runCommand(*tshark + " -n -o ip.check_checksum:TRUE -r '" + pcap.string() +
                                                  "' -T fields -E separator=/t -e frame.number -e frame.protocols"
                                                  " -e _ws.malformed -e _ws.expert.severity 2>/dev/null",
                                              status);
        ASSERT_EQ(status, 0) << "tshark could not read the capture";
        const auto lines = split(fields, '\n');
        EXPECT_EQ(lines.size(), frames.size());
        for (const auto& line : lines) {
            const auto columns = split(line, '\t');
            ASSERT_GE(columns.size(), 2u) << line;
            const std::string& number = columns[0];
            const std::string& protocols = columns[1];
            const bool homePlug = protocols == "eth:ethertype:homeplug-av";
            EXPECT_TRUE(homePlug || protocols == "eth:ethertype:ip") << "frame " << number << ": " << protocols;
            EXPECT_FALSE(columns.size() > 2 && !columns[2].empty()) << "frame " << number << " is malformed";
            if (columns.size() > 3) {
                for (const auto& severity : split(columns[3], ',')) {
                    EXPECT_LT(std::strtol(severity.c_str(), nullptr, 10), kWarningSeverity)
                        << "frame " << number << " has an expert warning or error (" << protocols << ")";
                }
            }
        }
    }
    // The scan also asks each station for its link statistics (0xA030), which the link history keeps.
    const std::set<std::uint16_t> catalogue = {0xA000, 0xA001, 0xA020, 0xA021, 0xA024, 0xA025, 0xA028, 0xA029,
                                               0xA030, 0xA031, 0xA038, 0xA039, 0xA050, 0xA051, 0xA068, 0xA069,
                                               0xA07C, 0xA07D};
    EXPECT_EQ(types, catalogue);
    EXPECT_GT(probes, 0);
}
