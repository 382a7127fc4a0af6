#pragma once

#include "cli/commands.h"
#include "mme/upgrade_file.h"
#include "sim/config_block.h"
#include "sim/firmware_image.h"
#include "sim/network_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace zrq406::test {

// The frames of a pcap file as written by --capture.
inline std::vector<std::vector<std::uint8_t>> capturedFrames(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto u32 = [&](std::size_t at) {
        return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
               std::uint32_t{bytes[at + 3]} << 24;
    };
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 24; at + 16 <= bytes.size();) {
        const std::size_t length = u32(at + 8);
        at += 16;
        if (at + length > bytes.size())
            break;
        frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return frames;
}

// The captured frames that carry management message `type` (little-endian at 15, after the version byte).
inline std::size_t capturedOfType(const std::filesystem::path& path, std::uint16_t type) {
    std::size_t count = 0;
    for (const auto& frame : capturedFrames(path))
        if (frame.size() > 16 && frame[12] == 0x88 && frame[13] == 0xE1 &&
            (frame[15] | frame[16] << 8) == type)
            ++count;
    return count;
}

// Runs the command-line tool in-process on a copy of the built-in simulated network kept in a folder of its
// own, with its own device history and user data folder.
class CliFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir =
            std::filesystem::temp_directory_path() / ("zrq406-cli-" + std::to_string(getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        setenv("XDG_DATA_HOME", m_dir.c_str(), 1);
        m_network = nlohmann::json::parse(sim::NetworkFile::builtInText());
        writeNetwork();
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    nlohmann::json& network() { return m_network; }
    void writeNetwork() { std::ofstream(networkPath()) << m_network.dump(2); }
    std::filesystem::path networkPath() const { return m_dir / "network.json"; }
    std::filesystem::path historyPath() const { return m_dir / "devices.dat"; }
    std::filesystem::path path(const std::string& name) const { return m_dir / name; }

    struct Result {
        int code;
        std::string out;
        std::string err;
        nlohmann::json json() const { return nlohmann::json::parse(out); }
    };

    // zrq406 --simulate=<network> --history <history> --lang en ARGS..., with `input` as standard input.
    Result run(std::initializer_list<std::string> args, const std::string& input = "") {
        std::vector<std::string> words = {"zrq406", "--simulate=" + networkPath().string(), "--history",
                                          historyPath().string()};
        if (std::find(args.begin(), args.end(), "--lang") == args.end())
            words.insert(words.end(), {"--lang", "en"});
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words)
            argv.push_back(w.data());
        std::ostringstream out;
        std::ostringstream err;
        std::istringstream in(input);
        const int code = cli::runCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, &in);
        return {code, out.str(), err.str()};
    }

    // An upgrade file whose firmware image reports `imageVersion` after the commit.
    std::filesystem::path upgradeFile(const std::string& fileVersion, const std::string& imageVersion,
                                      std::size_t firmwareLength = 16 * 1024) {
        sim::ConfigBlockFields fields;
        fields.product = "TALVERN ZRQ406-CE-12";
        fields.ledOn = true;
        const auto config = sim::makeConfigBlock(fields);
        const auto firmware = sim::makeFirmwareImage(imageVersion, firmwareLength);
        const auto bytes = mme::packUpgradeFile(firmware, config, fileVersion);
        const auto file = path("upgrade-" + fileVersion + ".bin");
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path m_dir;
    nlohmann::json m_network;
};

} // namespace zrq406::test
