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
#include <vector>

namespace {

bool dropNetworkCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective &= ~((1u << CAP_NET_RAW) | (1u << CAP_NET_ADMIN));
    return ::syscall(SYS_capset, &header, data) == 0;
}

// Runs the tool with `args` on the real interfaces and returns its exit code and standard error.
std::pair<int, std::string> runWithoutSimulation(std::vector<std::string> args) {
    unsetenv("ZRQ406_SIMULATE");
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    std::ostringstream out;
    std::ostringstream err;
    const int code = zrq406::cli::runCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, err.str()};
}

// Runs the tool with `args` without the raw-frame capabilities in a child process; returns
// "<exit code>\n<stderr>".
std::string withoutCapabilities(const std::vector<std::string>& args = {"zrq406", "adapters"}) {
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
            const auto [code, err] = runWithoutSimulation(args);
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

// Without raw network access and without the frame helper, the tool says in one line what its direct libpcap path
// needs (raw frames and promiscuous mode) and how to grant it.
TEST(CliCapabilities, MissingCapabilitiesAreNamed) {
    setenv("ZRQ406_LINK_HELPER", "/nonexistent/zrq406-link", 1);
    const std::string report = withoutCapabilities();
    unsetenv("ZRQ406_LINK_HELPER");
    ASSERT_EQ(report.rfind("1\n", 0), 0u) << report;
    const std::string message = report.substr(2);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    EXPECT_NE(message.find("CAP_NET_RAW"), std::string::npos) << message;
    EXPECT_NE(message.find("CAP_NET_ADMIN (promiscuous mode)"), std::string::npos) << message;
    EXPECT_NE(message.find("libpcap"), std::string::npos) << message;
    EXPECT_NE(message.find("setcap"), std::string::npos) << message;
}

// With the frame helper installed but closed to this user, the way in is joining its group, not setcap, and the
// one capability named is the helper's own: CAP_NET_RAW.
TEST(CliCapabilities, AnInstalledHelperOutOfReachNamesItsGroup) {
    const std::string helper = ::testing::TempDir() + "zrq406-link-" + std::to_string(::getpid());
    std::ofstream(helper) << "#!/bin/sh\n";
    ::chmod(helper.c_str(), 0644);
    setenv("ZRQ406_LINK_HELPER", helper.c_str(), 1);
    const std::string report = withoutCapabilities();
    unsetenv("ZRQ406_LINK_HELPER");
    std::remove(helper.c_str());
    ASSERT_EQ(report.rfind("1\n", 0), 0u) << report;
    EXPECT_NE(report.find("sudo adduser $USER zrq406"), std::string::npos) << report;
    EXPECT_NE(report.find(helper), std::string::npos) << report;
    EXPECT_EQ(report.find("setcap"), std::string::npos) << report;
    EXPECT_NE(report.find("CAP_NET_RAW"), std::string::npos) << report;
    EXPECT_EQ(report.find("CAP_NET_ADMIN"), std::string::npos) << report;
}

// simulate answers from the simulated devices' own addresses, which the frame helper does not send: without the
// capabilities of its own it says that it needs root, and opens nothing.
TEST(CliCapabilities, SimulateWithoutCapabilitiesAsksForRoot) {
    const std::string report = withoutCapabilities({"zrq406", "--interface", "lo", "simulate", "--quiet"});
    ASSERT_EQ(report.rfind("1\n", 0), 0u) << report;
    EXPECT_NE(report.find("run it as root"), std::string::npos) << report;
    EXPECT_NE(report.find("frame helper does not send"), std::string::npos) << report;
}
