// Every input kept for a fuzz target, the seeds under fuzz/corpus/<target>/ and the inputs that once broke a
// parser under fuzz/crashes/<target>/, fed through the same entry as the fuzz target uses. An input that breaks
// a parser again aborts this test (in the sanitizer build also for a memory error that does not crash).
#include "fuzz/entries/entries.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Target {
    const char* name;
    void (*entry)(std::span<const std::uint8_t>);
};

const Target kTargets[] = {
    {"confirmations", zrq406::fuzz::confirmations},       {"upgrade_file", zrq406::fuzz::upgradeFile},
    {"history_file", zrq406::fuzz::historyFile},          {"network_file", zrq406::fuzz::networkFile},
    {"language_file", zrq406::fuzz::languageFile},        {"device_texts", zrq406::fuzz::deviceTexts},
    {"link_history_file", zrq406::fuzz::linkHistoryFile},
};

void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}

// The files of a folder, in name order; none when it does not exist.
std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file())
            files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusReplay : public ::testing::TestWithParam<Target> {};

} // namespace

TEST_P(CorpusReplay, EveryKeptInputPassesTheParser) {
    const fs::path fuzz = fs::path(ZRQ406_TEST_SOURCE_DIR) / "fuzz";
    const auto seeds = filesIn(fuzz / "corpus" / GetParam().name);
    const auto crashes = filesIn(fuzz / "crashes" / GetParam().name);
    EXPECT_FALSE(seeds.empty()) << "no seed input for " << GetParam().name;
    for (const auto& files : {seeds, crashes}) {
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            ASSERT_FALSE(in.bad()) << file;
            // Named before it is fed, so that the log of a crash says which input it was.
            std::cerr << "replaying " << file.string() << '\n';
            GetParam().entry(bytes);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FuzzTargets, CorpusReplay, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<Target>& target) { return std::string(target.param.name); });
