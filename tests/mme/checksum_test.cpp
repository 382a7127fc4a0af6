#include "mme/checksum.h"

#include <gtest/gtest.h>
#include <vector>

using namespace zrq406::mme;

TEST(BlockChecksum, CoversWholeWordsOnly) {
    std::vector<std::uint8_t> block(1023, 0);
    EXPECT_EQ(blockChecksum(block), 0xFFFFFFFFu);
    // Bytes 1020..1022 lie in the 256th word, which a 1023-byte block does not cover.
    block[1020] = 0x5A;
    block[1022] = 0xA5;
    EXPECT_EQ(blockChecksum(block), 0xFFFFFFFFu);
    block[1019] = 0x80; // the last byte of word 255
    EXPECT_EQ(blockChecksum(block), 0x7FFFFFFFu);
    // A 6-byte block covers its first word only.
    const std::vector<std::uint8_t> six = {1, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_EQ(blockChecksum(six), ~1u);
}

TEST(FileChecksum, OverlappingWindowAndMiddleByte) {
    // n = 4: windows at 0 and 1 -> 0x0201 + 0x0302 = 0x0503.
    const std::vector<std::uint8_t> even = {1, 2, 3, 4};
    EXPECT_EQ(fileChecksum(even), ~0x0503u);
    // Non-overlapping words would give 0x0201 + 0x0403 = 0x0604: a file summed that way is rejected.
    EXPECT_NE(fileChecksum(even), ~0x0604u);
    // n = 5: windows at 0 and 1, then the byte at index 2 (the middle), not the last one.
    const std::vector<std::uint8_t> odd = {1, 2, 3, 4, 5};
    EXPECT_EQ(fileChecksum(odd), ~(0x0201u + 0x0302u + 3u));
}

TEST(FileChecksum, FoldsCarriesIntoSixteenBits) {
    // 0xFFFF + 0xFFFF = 0x1FFFE folds to 0xFFFF.
    const std::vector<std::uint8_t> ones(4, 0xFF);
    EXPECT_EQ(fileChecksum(ones), ~0xFFFFu);
    const std::vector<std::uint8_t> empty;
    EXPECT_EQ(fileChecksum(empty), 0xFFFFFFFFu);
}

TEST(FileChecksum, LargeImageFoldsThroughSignPropagation) {
    // 65538 bytes of 0xFF: 32769 windows of 0xFFFF sum to 0x80007FFF. The arithmetic shift folds that to
    // 0xFFFFFFFF, then to 0xFFFE; an unsigned fold would have stopped at 0xFFFF.
    const std::vector<std::uint8_t> big(65538, 0xFF);
    EXPECT_EQ(fileChecksum(big), 0xFFFF0001u);
}
