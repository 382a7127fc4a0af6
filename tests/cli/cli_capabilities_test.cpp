#include "cli/commands.h"
#include "link/capabilities.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool dropNetworkCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective &= ~((1u << CAP_NET_RAW) | (1u << CAP_NET_ADMIN));
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Runs "zrq406 adapters" on the real interfaces and returns its exit code and standard error.
std::pair<int, std::string> adaptersWithoutSimulation() {
    unsetenv("ZRQ406_SIMULATE");
    std::string arg0 = "zrq406";
    std::string arg1 = "adapters";
    char* argv[] = {arg0.data(), arg1.data()};
    std::ostringstream out;
    std::ostringstream err;
    const int code = zrq406::cli::runCommandLine(2, argv, out, err);
    return {code, err.str()};
}

} // namespace

// Without raw network access the tool says in one line what is missing and how to grant it.
TEST(CliCapabilities, MissingCapabilitiesAreNamed) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        std::string report = "capset failed";
        if (zrq406::link::missingCapabilities().size() == 2 || dropNetworkCapabilities()) {
            const auto [code, err] = adaptersWithoutSimulation();
            report = std::to_string(code) + "\n" + err;
        }
        (void)!::write(fds[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_EQ(report.rfind("1\n", 0), 0u) << report;
    const std::string message = report.substr(2);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find("CAP_NET_RAW"), std::string::npos) << message;
    EXPECT_NE(message.find("CAP_NET_ADMIN"), std::string::npos) << message;
    EXPECT_NE(message.find("setcap"), std::string::npos) << message;
}
