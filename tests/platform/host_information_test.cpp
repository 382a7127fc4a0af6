#include "platform/host_information.h"

#include <gtest/gtest.h>

using namespace zrq406;

TEST(HostInformation, ReadsTheSystemFilesOfSeveralKinds) {
    EXPECT_EQ(processorFromCpuinfo("processor\t: 0\nmodel name\t: Intel(R) Core(TM) i5\n\nprocessor\t: 1\n"
                                   "model name\t: Intel(R) Core(TM) i5\n"),
              "Intel(R) Core(TM) i5 \xC3\x97 2");
    EXPECT_EQ(processorFromCpuinfo("processor : 0\nBogoMIPS : 48.00\nHardware : BCM2835\n"), "BCM2835");
    EXPECT_EQ(processorFromCpuinfo("flags : fpu\n"), "");

    const std::string osRelease = "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME='Debian GNU/Linux'\n"
                                  "VERSION_ID=\"12\"\nVERSION=\"12 \\\"bookworm\\\"\"\nID=debian\n";
    EXPECT_EQ(osReleaseValue(osRelease, "NAME"), "Debian GNU/Linux");
    EXPECT_EQ(osReleaseValue(osRelease, "VERSION"), "12 \"bookworm\"");
    EXPECT_EQ(osReleaseValue(osRelease, "ID"), "debian");
    EXPECT_EQ(osReleaseValue(osRelease, "VARIANT"), "");

    EXPECT_EQ(memoryFromMeminfo("MemFree: 1 kB\nMemTotal:       8045120 kB\n"), 8045120ull * 1024);
    EXPECT_EQ(memoryFromMeminfo("MemTotal: 99999999999999999999 kB\n"), 0u);
    EXPECT_EQ(memoryText(8045120ull * 1024), "7.7 GiB");
    EXPECT_EQ(memoryText(512ull * 1024 * 1024), "512 MiB");

    // Missing files still give the computer's name and a user.
    HostSources none{"/nonexistent/cpuinfo", "/nonexistent/os-release", "/nonexistent/meminfo"};
    const HostInformation info = readHostInformation(none);
    EXPECT_FALSE(info.computerName.empty());
    EXPECT_FALSE(info.userName.empty());
    EXPECT_EQ(info.memoryBytes, 0u);
}
