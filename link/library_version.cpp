#include "link/library_version.h"

#include <pcap/pcap.h>

namespace zrq406::link {

std::string captureLibraryVersion() {
    const char* version = pcap_lib_version();
    return version != nullptr ? std::string(version) : std::string();
}

} // namespace zrq406::link
