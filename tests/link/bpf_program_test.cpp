#include "link/bpf_program.h"
#include "link/packet_library.h"
#include "tests/link/link_test_support.h"

#include <gtest/gtest.h>

namespace zrq406::link {
namespace {

using test::makeFrame;

TEST(BpfProgram, HomePlugFilterAcceptsOnlyManagementFrames) {
    const auto program = BpfProgram::compile(kHomePlugFilter);
    ASSERT_TRUE(program);
    const auto management = makeFrame(60, 0x88E1);
    EXPECT_EQ(program->run(management), 60u);
    EXPECT_EQ(program->run(makeFrame(1514, 0x88E1)), 1514u);
    EXPECT_EQ(program->run(makeFrame(60, 0x0800)), 0u);
    EXPECT_EQ(program->run(makeFrame(60, 0x88E2)), 0u);
    EXPECT_EQ(program->run(makeFrame(60, 0xE188)), 0u);
}

TEST(BpfProgram, LoadPastTheFrameDrops) {
    const auto program = BpfProgram::compile(kHomePlugFilter);
    ASSERT_TRUE(program);
    auto frame = makeFrame(14, 0x88E1);
    EXPECT_EQ(program->run(frame), 14u);
    frame.resize(13);
    EXPECT_EQ(program->run(frame), 0u);
    EXPECT_EQ(program->run({}), 0u);
}

TEST(BpfProgram, ReturnConstantCutsTheFrame) {
    const BpfInstruction program[] = {{0x06, 0, 0, 20}};
    const auto compiled = BpfProgram::compile(program);
    ASSERT_TRUE(compiled);
    EXPECT_EQ(compiled->run(makeFrame(60)), 20u);
    EXPECT_EQ(compiled->run(makeFrame(10)), 10u);
}

TEST(BpfProgram, RefusesOtherInstructionsAndRunawayPrograms) {
    EXPECT_FALSE(BpfProgram::compile({}));
    // ld word absolute: a real instruction, but not one this interpreter runs.
    const BpfInstruction loadWord[] = {{0x20, 0, 0, 12}, {0x06, 0, 0, 0}};
    EXPECT_FALSE(BpfProgram::compile(loadWord));
    // A load as the last instruction would run off the end.
    const BpfInstruction endsInLoad[] = {{0x28, 0, 0, 12}};
    EXPECT_FALSE(BpfProgram::compile(endsInLoad));
    // Jump targets past the end.
    const BpfInstruction jumpOut[] = {{0x28, 0, 0, 12}, {0x15, 0, 2, 0x88E1}, {0x06, 0, 0, 0}};
    EXPECT_FALSE(BpfProgram::compile(jumpOut));
    const BpfInstruction jumpTrueOut[] = {{0x28, 0, 0, 12}, {0x15, 1, 0, 0x88E1}, {0x06, 0, 0, 0}};
    EXPECT_FALSE(BpfProgram::compile(jumpTrueOut));
}

} // namespace
} // namespace zrq406::link
