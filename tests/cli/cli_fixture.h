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
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace zrq406::test {

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
