#pragma once

#include <chrono>
#include <string>

namespace zrq406::testsupport {

// Waits until a powerline device answers a software version request sent to 00:B0:52:00:00:01 on
// `interfaceName` (as the simulator in another namespace does once it runs), for at most `bound`. Until then the
// request goes out again every quarter second: a responder still starting, or a veth pair whose queues the kernel
// has not brought up yet, drops what it gets. Returns an empty text once a confirmation came, else why not.
std::string waitUntilPowerlineAnswers(const std::string& interfaceName,
                                      std::chrono::milliseconds bound = std::chrono::seconds(10));

} // namespace zrq406::testsupport
