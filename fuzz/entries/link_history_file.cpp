#include "app/link_history.h"
#include "fuzz/entries/entries.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace zrq406::fuzz {

namespace {

void readAndWrite(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    app::LinkHistory history(path);
    if (!history.open())
        return;
    std::vector<app::LinkSeries> series;
    (void)history.links(0, std::nullopt, series);
    std::vector<app::DeviceSighting> devices;
    (void)history.devices(devices);
    app::HistoryScan scan;
    scan.when = 1733745600;
    scan.devices.push_back({MacAddress::localDevice(), "name", "firmware", true});
    scan.links.push_back({MacAddress::localDevice(), MacAddress::broadcast(), 100, 90, true});
    // A write into damaged pages must fail cleanly too; it is set aside as the programs would.
    if (history.append(scan).status == app::HistoryStatus::Damaged)
        (void)history.setAside(app::HistoryDamage::Unreadable);
}

} // namespace

void linkHistoryFile(std::span<const std::uint8_t> data) {
    namespace fs = std::filesystem;
    // A folder of its own: a damaged input is moved aside beside the file, and all of it goes afterwards.
    const fs::path dir = fs::temp_directory_path() / ("zrq406-fuzz-links-" + std::to_string(getpid()));
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    readAndWrite(dir / "links.db", data);
    fs::remove_all(dir, ec);
}

} // namespace zrq406::fuzz
