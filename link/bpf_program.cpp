#include "link/bpf_program.h"

#include <algorithm>

namespace zrq406::link {

namespace {

constexpr std::uint16_t kLoadHalfwordAbsolute = 0x28; // BPF_LD | BPF_H | BPF_ABS
constexpr std::uint16_t kJumpIfEqualConstant = 0x15;  // BPF_JMP | BPF_JEQ | BPF_K
constexpr std::uint16_t kReturnConstant = 0x06;       // BPF_RET | BPF_K
// The kernel's limit on a classic program.
constexpr std::size_t kMaxInstructions = 4096;

} // namespace

std::optional<BpfProgram> BpfProgram::compile(std::span<const BpfInstruction> program) {
    if (program.empty() || program.size() > kMaxInstructions)
        return std::nullopt;
    const std::size_t count = program.size();
    for (std::size_t pc = 0; pc < count; ++pc) {
        const BpfInstruction& instruction = program[pc];
        switch (instruction.code) {
        case kLoadHalfwordAbsolute:
            if (pc + 1 >= count)
                return std::nullopt;
            break;
        case kJumpIfEqualConstant:
            // Jumps only go forward, so checking both targets here is enough for every run to end at a return.
            if (pc + 1 + instruction.jt >= count || pc + 1 + instruction.jf >= count)
                return std::nullopt;
            break;
        case kReturnConstant:
            break;
        default:
            return std::nullopt;
        }
    }
    BpfProgram compiled;
    compiled.m_program.assign(program.begin(), program.end());
    return compiled;
}

std::uint32_t BpfProgram::run(std::span<const std::uint8_t> frame) const {
    std::uint32_t accumulator = 0;
    std::size_t pc = 0;
    while (pc < m_program.size()) {
        const BpfInstruction& instruction = m_program[pc];
        switch (instruction.code) {
        case kLoadHalfwordAbsolute:
            // A load past the frame ends the program with a drop, as in the kernel.
            if (frame.size() < 2 || instruction.k > frame.size() - 2)
                return 0;
            accumulator = static_cast<std::uint32_t>(frame[instruction.k] << 8 | frame[instruction.k + 1]);
            ++pc;
            break;
        case kJumpIfEqualConstant:
            pc += 1 + (accumulator == instruction.k ? instruction.jt : instruction.jf);
            break;
        default: // kReturnConstant; compile() admits nothing else
            return static_cast<std::uint32_t>(std::min<std::size_t>(instruction.k, frame.size()));
        }
    }
    return 0;
}

} // namespace zrq406::link
