#pragma once

#include <string>

namespace zrq406::link {

// The version text of the capture library that reaches real adapters (libpcap's own wording).
std::string captureLibraryVersion();

} // namespace zrq406::link
