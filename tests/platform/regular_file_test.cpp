#include "platform/regular_file.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zrq406;
namespace fs = std::filesystem;

TEST(RegularFileTest, ReadsRegularFilesAndRefusesEverythingElseAtOnce) {
    const fs::path folder = fs::temp_directory_path() / ("zrq406-regular-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "ten") << "0123456789";

    const auto whole = readRegularFile(folder / "ten", 10);
    ASSERT_TRUE(whole) << whole.error;
    EXPECT_EQ(whole.content, "0123456789");
    EXPECT_EQ(readRegularFile(folder / "ten", 9).status, FileReadStatus::TooLarge);
    const auto start = readRegularFileStart(folder / "ten", 4);
    ASSERT_TRUE(start) << start.error;
    EXPECT_EQ(start.content, "0123");
    EXPECT_EQ(readRegularFile(folder / "none", 10).status, FileReadStatus::Missing);

    // A FIFO without a writer would block an ordinary open for ever.
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    for (const fs::path& path : {folder / "pipe", fs::path("/dev/zero"), folder}) {
        const auto refused = readRegularFile(path, 100);
        EXPECT_EQ(refused.status, FileReadStatus::NotRegular) << path;
        EXPECT_NE(refused.error.find(path.string() + ": is a"), std::string::npos) << refused.error;
    }
    fs::remove_all(folder);
}
