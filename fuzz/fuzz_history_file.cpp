// devices.dat with any content.
#include "registry/history_file.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/zrq406-fuzz-history-" + std::to_string(getpid()) + ".dat";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    zrq406::HistoryFile file(path);
    zrq406::HistoryTable table{};
    (void)file.load(table);
    return 0;
}
