#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zrq406;
namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

// Under sudo a build in a writable folder used to keep its devices.dat beside itself, and the next run as the
// user read another history from the data folder.
TEST(PathsTest, HistoryLivesInTheUserDataFolderNeverBesideTheProgram) {
    const fs::path home = fs::temp_directory_path() / ("zrq406-paths-" + std::to_string(getpid()));
    fs::remove_all(home);
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);
    EXPECT_EQ(paths::historyFile(), home / "zrq406" / "devices.dat");
    ::unsetenv("XDG_DATA_HOME");
    fs::remove_all(home);
}

TEST(PathsTest, PortableHistoryIsTakenOverOnceAndNeverOverwritesTheUsersOwn) {
    const fs::path folder = fs::temp_directory_path() / ("zrq406-takeover-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "portable");
    const fs::path beside = folder / "portable" / "devices.dat";
    const fs::path own = folder / "data" / "zrq406" / "devices.dat";
    std::ofstream(beside) << "portable names";
    ::chmod(beside.c_str(), 0644);

    ASSERT_TRUE(paths::takeOverFile(beside, own));
    EXPECT_EQ(contentOf(own), "portable names");
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    std::ofstream(own) << "renamed since";
    EXPECT_FALSE(paths::takeOverFile(beside, own));
    EXPECT_EQ(contentOf(own), "renamed since");

    // Nothing to take over: a missing file or a FIFO in its place, which must not block the start.
    const fs::path other = folder / "other" / "devices.dat";
    EXPECT_FALSE(paths::takeOverFile(folder / "none", other));
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(paths::takeOverFile(folder / "pipe", other));
    EXPECT_FALSE(fs::exists(other));
    fs::remove_all(folder);
}
