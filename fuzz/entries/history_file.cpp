#include "registry/history_file.h"

#include "fuzz/entries/entries.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace zrq406::fuzz {

void historyFile(std::span<const std::uint8_t> data) {
    static const std::string path = "/tmp/zrq406-fuzz-history-" + std::to_string(getpid()) + ".dat";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    HistoryFile file(path);
    HistoryTable table{};
    (void)file.load(table);
}

} // namespace zrq406::fuzz
