#include "platform/instance_lock.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zrq406;

namespace {

class InstanceLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("zrq406-locks-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::filesystem::path m_dir;
};

} // namespace

TEST_F(InstanceLockTest, ALockExistsWhileHeld) {
    EXPECT_FALSE(InstanceLock::exists("TALVERN ZRQ406 Upgrade Tool", m_dir));
    InstanceLock first;
    ASSERT_TRUE(first.acquire("TALVERN ZRQ406 Upgrade Tool", m_dir));
    EXPECT_TRUE(InstanceLock::exists("TALVERN ZRQ406 Upgrade Tool", m_dir));
    EXPECT_FALSE(InstanceLock::exists("BothRun", m_dir));
    InstanceLock second;
    EXPECT_FALSE(second.acquire("TALVERN ZRQ406 Upgrade Tool", m_dir));
    first.release();
    EXPECT_FALSE(InstanceLock::exists("TALVERN ZRQ406 Upgrade Tool", m_dir));
    EXPECT_TRUE(second.acquire("TALVERN ZRQ406 Upgrade Tool", m_dir));
    // Names are file names: a slash cannot reach another folder.
    EXPECT_EQ(InstanceLock::fileOf("../x/y", m_dir).parent_path(), m_dir);
}

TEST_F(InstanceLockTest, ACrashedHolderReleasesItsLock) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock lock;
        const char ok = lock.acquire("crashing", m_dir) ? '1' : '0';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    EXPECT_TRUE(InstanceLock::exists("crashing", m_dir));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(InstanceLock::exists("crashing", m_dir));
}

// Two users' programs: each holds its own lock in its own runtime folder, and both mark the shared folder, where a
// service under a third user sees either of them until both have ended.
TEST_F(InstanceLockTest, ProgramsOfEveryUserAreSeenInTheSharedFolder) {
    const auto shared = m_dir / "shared";
    std::filesystem::create_directories(shared);
    const std::string sharedBefore = std::getenv("ZRQ406_SHARED_RUN_DIR") ? std::getenv("ZRQ406_SHARED_RUN_DIR") : "";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string runtimeBefore = runtime != nullptr ? runtime : "";
    std::filesystem::create_directories(m_dir / "a");
    std::filesystem::create_directories(m_dir / "b");
    setenv("ZRQ406_SHARED_RUN_DIR", shared.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (m_dir / "a").c_str(), 1);
    InstanceLock first;
    ASSERT_TRUE(first.acquire("zrq406-config"));
    setenv("XDG_RUNTIME_DIR", (m_dir / "b").c_str(), 1);
    EXPECT_FALSE(InstanceLock::exists("zrq406-config"));
    InstanceLock second;
    ASSERT_TRUE(second.acquire("zrq406-config"));
    EXPECT_TRUE(InstanceLock::markedAnywhere("zrq406-config"));
    EXPECT_FALSE(InstanceLock::markedAnywhere("zrq406-upgrade"));
    first.release();
    EXPECT_TRUE(InstanceLock::markedAnywhere("zrq406-config"));
    if (getuid() == 0) {
        // Another user opens the mark that root made.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(setuid(65534) == 0 && InstanceLock::markedAnywhere("zrq406-config", shared) ? 0 : 1);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    second.release();
    EXPECT_FALSE(InstanceLock::markedAnywhere("zrq406-config"));
    setenv("ZRQ406_SHARED_RUN_DIR", sharedBefore.c_str(), 1);
    if (runtime != nullptr)
        setenv("XDG_RUNTIME_DIR", runtimeBefore.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}
