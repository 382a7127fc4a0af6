#include "cli/commands.h"
#include "link/capabilities.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sstream>
#include <sys/stat.h>
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

// Runs "zrq406 adapters" without the raw-frame capabilities in a child process; returns "<exit code>\n<stderr>".
std::string adaptersWithoutCapabilities() {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid < 0)
        return "fork failed";
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
    return report;
}

} // namespace

// Without raw network access the tool says in one line what is missing and how to grant it.
TEST(CliCapabilities, MissingCapabilitiesAreNamed) {
    setenv("ZRQ406_LINK_HELPER", "/nonexistent/zrq406-link", 1);
    const std::string report = adaptersWithoutCapabilities();
    unsetenv("ZRQ406_LINK_HELPER");
    ASSERT_EQ(report.rfind("1\n", 0), 0u) << report;
    const std::string message = report.substr(2);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find("CAP_NET_RAW"), std::string::npos) << message;
    EXPECT_NE(message.find("CAP_NET_ADMIN"), std::string::npos) << message;
    EXPECT_NE(message.find("setcap"), std::string::npos) << message;
}

// With the frame helper installed but closed to this user, the way in is joining its group, not setcap.
TEST(CliCapabilities, AnInstalledHelperOutOfReachNamesItsGroup) {
    const std::string helper = ::testing::TempDir() + "zrq406-link-" + std::to_string(::getpid());
    std::ofstream(helper) << "#!/bin/sh\n";
    ::chmod(helper.c_str(), 0644);
    setenv("ZRQ406_LINK_HELPER", helper.c_str(), 1);
    const std::string report = adaptersWithoutCapabilities();
    unsetenv("ZRQ406_LINK_HELPER");
    std::remove(helper.c_str());
    ASSERT_EQ(report.rfind("1\n", 0), 0u) << report;
    EXPECT_NE(report.find("sudo adduser $USER zrq406"), std::string::npos) << report;
    EXPECT_NE(report.find(helper), std::string::npos) << report;
    EXPECT_EQ(report.find("setcap"), std::string::npos) << report;
}
