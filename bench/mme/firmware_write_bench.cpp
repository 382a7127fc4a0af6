// Writing a 1 MiB firmware image to the attached device at its default latency and flash time, beside the
// fixed pacing of a 30 ms wait per block and beside the device's own time per block.
#include "bench_network.h"
#include "sim/firmware_image.h"

using namespace zrq406;

int main() {
    auto net = bench::builtInNetwork();
    bench::BenchStack stack(net);
    mme::DiscoveryResult result;
    if (!stack.discovery->ScanNetwork(0, result)) {
        std::printf("firmware write: no local device\n");
        return 1;
    }
    const std::size_t size = 1024 * 1024;
    const auto image = sim::makeFirmwareImage("ZRQPLC1-MAC-3-3-3348-00-2800-CE-0800", size);
    const double blocks = static_cast<double>(size / 1024);
    const double latencySum = blocks * (1.0 + 0.2); // attached device latency + flash time per block
    const double fixedPacing = blocks * 30.0;
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        stack.operations->WriteModule(mme::kModuleFirmware, 0, static_cast<double>(size), result.local.mac, image);
    const double ours = bench::millisecondsSince(start);
    if (!ok) {
        std::printf("firmware write: a block was not confirmed\n");
        return 1;
    }
    std::printf("firmware write, 1 MiB (%0.f blocks)  ours %7.1f ms  latency sum %7.1f ms (x%.2f)  "
                "fixed pacing %7.0f ms (%.0fx faster)\n",
                blocks, ours, latencySum, ours / latencySum, fixedPacing, fixedPacing / ours);
    return 0;
}
