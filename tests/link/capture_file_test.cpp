#include "link/capture_file.h"
#include "tests/link/link_test_support.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace zrq406::link {
namespace {

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t u32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

class CaptureFileTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path); }
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("zrq406-capture-test-" + std::to_string(::getpid()) + ".pcap");
};

TEST_F(CaptureFileTest, WritesAnEthernetPcapWithNanosecondRecords) {
    CaptureFile capture;
    std::string error;
    ASSERT_TRUE(capture.open(path.string(), error)) << error;
    const auto frame = test::makeFrame(60, 0x88E1, 7);
    capture.write(frame, 1'700'000'000'123'456'789ull);
    // Flushed at once: readable while the file is still open.
    const auto bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 24u + 16 + 60);
    EXPECT_EQ(u32(bytes, 0), 0xa1b23c4du);
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 2); // version 2.4, host order
    EXPECT_EQ(bytes[6] | bytes[7] << 8, 4);
    EXPECT_EQ(u32(bytes, 8), 0u);
    EXPECT_EQ(u32(bytes, 12), 0u);
    EXPECT_EQ(u32(bytes, 16), 65535u);
    EXPECT_EQ(u32(bytes, 20), 1u);
    EXPECT_EQ(u32(bytes, 24), 1'700'000'000u);
    EXPECT_EQ(u32(bytes, 28), 123'456'789u);
    EXPECT_EQ(u32(bytes, 32), 60u);
    EXPECT_EQ(u32(bytes, 36), 60u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin() + 40));
}

TEST_F(CaptureFileTest, NowIsUsedWhenNoTimeIsGivenAndWritersMayShareIt) {
    CaptureFile capture;
    std::string error;
    ASSERT_TRUE(capture.open(path.string(), error));
    const auto before = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&capture, t] {
            for (int i = 0; i < 50; ++i)
                capture.write(test::makeFrame(60 + static_cast<std::size_t>(t), 0x88E1, static_cast<std::uint8_t>(t)));
        });
    for (auto& writer : writers)
        writer.join();
    const auto bytes = readAll(path);
    // Every record whole: walking the lengths lands exactly on the end.
    std::size_t at = 24;
    int records = 0;
    while (at + 16 <= bytes.size()) {
        EXPECT_GE(u32(bytes, at), before);
        const std::uint32_t length = u32(bytes, at + 8);
        ASSERT_GE(length, 60u);
        ASSERT_LE(length, 63u);
        const auto expected = test::makeFrame(length, 0x88E1, static_cast<std::uint8_t>(length - 60));
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 16)));
        at += 16 + length;
        ++records;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(records, 200);
}

TEST_F(CaptureFileTest, AnUnwritablePathIsReportedAndWritesAreIgnored) {
    CaptureFile capture;
    std::string error;
    EXPECT_FALSE(capture.open("/nonexistent-dir-zrq406/x.pcap", error));
    EXPECT_NE(error.find("/nonexistent-dir-zrq406/x.pcap"), std::string::npos);
    capture.write(test::makeFrame(60));
}

} // namespace
} // namespace zrq406::link
