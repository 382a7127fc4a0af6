#include "platform/instance_lock.h"

#include <filesystem>
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
