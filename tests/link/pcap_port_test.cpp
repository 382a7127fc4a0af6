#include "link/capabilities.h"
#include "link/link_backend.h"
#include "tests/support/line_channel.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zrq406::link {
namespace {

TEST(PcapBackend, OpeningAnUnknownInterfaceNamesIt) {
    std::string error;
    EXPECT_FALSE(makePcapBackend()->open("zqx-none0", error));
    EXPECT_NE(error.find("zqx-none0"), std::string::npos) << error;
}

bool dropEffective(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[capability / 32].effective &= ~(1u << (capability % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Without CAP_NET_RAW, opening says so in words, and the capability check names what is missing.
TEST(PcapBackend, MissingPermissionIsExplained) {
    const auto check = [](std::string& message) -> bool {
        std::string error;
        if (makePcapBackend()->open("lo", error)) {
            message = "lo opened without CAP_NET_RAW";
            return false;
        }
        const auto missing = missingCapabilities();
        if (std::find(missing.begin(), missing.end(), "CAP_NET_RAW") == missing.end()) {
            message = "CAP_NET_RAW not reported missing";
            return false;
        }
        if (error.rfind("lo: ", 0) != 0 || error.find("permission") == std::string::npos ||
            error.find("CAP_NET_RAW") == std::string::npos) {
            message = "unclear error: " + error;
            return false;
        }
        return true;
    };
    const auto missing = missingCapabilities();
    if (std::find(missing.begin(), missing.end(), "CAP_NET_RAW") != missing.end()) {
        std::string message;
        EXPECT_TRUE(check(message)) << message;
        return;
    }
    // Privileged: the check runs in a child that gives up CAP_NET_RAW.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        testsupport::LineChannel channel(::open("/dev/null", O_RDONLY | O_CLOEXEC), fds[1]);
        std::string message;
        if (!dropEffective(13))
            message = "capset failed";
        else if (check(message))
            message = "ok";
        channel.sendLine(message);
        ::_exit(0);
    }
    ::close(fds[1]);
    testsupport::LineChannel channel(fds[0], ::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const auto line = channel.receiveLine(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(line);
    if (*line == "capset failed")
        GTEST_SKIP() << "cannot drop CAP_NET_RAW here";
    EXPECT_EQ(*line, "ok");
}

} // namespace
} // namespace zrq406::link
