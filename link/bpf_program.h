#pragma once

#include "link/link_backend.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zrq406::link {

// A receive filter for ports that have no kernel to run it: the classic BPF forms the link's own filter uses
// (load halfword absolute, jump if equal to a constant, return a constant), and nothing else.
class BpfProgram {
public:
    // The program, or nullopt when it uses another instruction or could run off its end.
    static std::optional<BpfProgram> compile(std::span<const BpfInstruction> program);
    // How many bytes of the frame the program accepts (0 = drop), never more than the frame has.
    std::uint32_t run(std::span<const std::uint8_t> frame) const;

private:
    std::vector<BpfInstruction> m_program;
};

} // namespace zrq406::link
