#include "platform/atomic_file.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zrq406;
namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("zrq406-atomic-" + std::to_string(getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        target = folder / "state.dat";
    }
    void TearDown() override { fs::remove_all(folder); }

    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static unsigned mode(const fs::path& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    }
    std::size_t entries() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
            ++n;
        return n;
    }

    fs::path folder;
    fs::path target;
};

} // namespace

TEST_F(AtomicFileTest, ReplacesTheFileWithTheModeItsContentNeeds) {
    // The mode is the one asked for, whatever the process's umask and whatever the old file had.
    const mode_t savedMask = ::umask(0077);
    const auto shared = writeFileAtomically(target, std::string_view("first"), FileAccess::Everyone);
    ::umask(savedMask);
    ASSERT_TRUE(shared) << shared.error;
    EXPECT_EQ(read(target), "first");
    EXPECT_EQ(mode(target), 0644u);

    const auto secret = writeFileAtomically(target, std::string_view("second, longer"), FileAccess::OwnerOnly);
    ASSERT_TRUE(secret) << secret.error;
    EXPECT_EQ(read(target), "second, longer");
    EXPECT_EQ(mode(target), 0600u);
    EXPECT_EQ(entries(), 1u) << "no temporary file is left behind";
}

TEST_F(AtomicFileTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ASSERT_TRUE(writeFileAtomically(target, std::string_view("old content"), FileAccess::OwnerOnly));

    // The process may not write files longer than 1000 bytes, so the write stops half way.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = writeFileAtomically(target, std::string(5000, 'x'), FileAccess::OwnerOnly);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(result);
    EXPECT_NE(result.error.find(target.string()), std::string::npos) << result.error;
    EXPECT_EQ(read(target), "old content");
    EXPECT_EQ(entries(), 1u) << "no temporary file is left behind";
}

TEST_F(AtomicFileTest, FolderInPlaceOfTheFileOrNoFolderAtAllIsAnError) {
    // A folder where the file should be is not replaced (root could write into any read-only folder, so the
    // failure is made by the target's kind, not by permissions).
    fs::create_directories(target / "inner");
    const auto onFolder = writeFileAtomically(target, std::string_view("content"), FileAccess::Everyone);
    EXPECT_FALSE(onFolder);
    EXPECT_NE(onFolder.error.find("state.dat"), std::string::npos) << onFolder.error;
    EXPECT_TRUE(fs::is_directory(target / "inner"));
    EXPECT_EQ(entries(), 1u) << "no temporary file is left behind";

    const auto noFolder =
        writeFileAtomically(folder / "missing" / "x.bin", std::string_view("c"), FileAccess::Everyone);
    EXPECT_FALSE(noFolder);
    EXPECT_NE(noFolder.error.find("missing/x.bin"), std::string::npos) << noFolder.error;
}

TEST_F(AtomicFileTest, LinkLeadsToItsTargetAndSpecialFilesStay) {
    // A link into another folder: the link stays a link and its target gets the content.
    const fs::path elsewhere = folder / "real";
    fs::create_directories(elsewhere);
    ASSERT_TRUE(writeFileAtomically(elsewhere / "state.dat", std::string_view("old"), FileAccess::OwnerOnly));
    fs::create_symlink("real/state.dat", target);
    const auto linked = writeFileAtomically(target, std::string_view("new"), FileAccess::OwnerOnly);
    ASSERT_TRUE(linked) << linked.error;
    EXPECT_TRUE(fs::is_symlink(target));
    EXPECT_EQ(read(elsewhere / "state.dat"), "new");

    // A FIFO behind a link is neither replaced nor written into.
    const fs::path fifo = folder / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path toFifo = folder / "to-pipe";
    fs::create_symlink(fifo, toFifo);
    for (const fs::path& path : {fifo, toFifo}) {
        const auto refused = writeFileAtomically(path, std::string_view("x"), FileAccess::OwnerOnly);
        EXPECT_FALSE(refused);
        EXPECT_NE(refused.error.find("FIFO"), std::string::npos) << refused.error;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(toFifo));
}
