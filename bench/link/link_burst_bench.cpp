// A burst of management frames, such as the answers of a whole powerline network, arriving at once on a real
// interface: a station in a network namespace sends it over a veth pair, and the adapter table on the host end
// has to fetch every frame from its 512 outstanding reads. Prints frames sent, frames fetched and the drain time.

#include "link/adapter_link.h"
#include "tests/support/interface_subset_backend.h"
#include "tests/support/namespace_child.h"
#include "tests/support/netns_veth.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

using namespace zrq406;
using namespace zrq406::link;
using testsupport::LineChannel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kBurstMark = 0xB5;
constexpr std::uint8_t kProbeMark = 0x9B;

std::vector<std::uint8_t> markedFrame(const MacAddress& to, const MacAddress& from, std::uint8_t mark,
                                      std::uint16_t sequence) {
    std::vector<std::uint8_t> frame(kMinFrameLength, 0);
    std::copy(to.bytes.begin(), to.bytes.end(), frame.begin());
    std::copy(from.bytes.begin(), from.bytes.end(), frame.begin() + 6);
    frame[12] = 0x88;
    frame[13] = 0xE1;
    frame[14] = mark;
    frame[15] = static_cast<std::uint8_t>(sequence >> 8);
    frame[16] = static_cast<std::uint8_t>(sequence & 0xFF);
    return frame;
}

// The sending station inside the namespace. Commands: "probe", "burst <n>", "quit".
int sender(LineChannel& parent, const std::string& peerEnd) {
    PacketLibrary library(makePcapBackend());
    AdapterTable table(library, LinkMode::Utility);
    if (!table.OpenAdapters() || table.findInterface(peerEnd) < 0) {
        parent.sendLine("error cannot open " + peerEnd + " in the namespace");
        return 1;
    }
    table.setCurrentAdapter(table.findInterface(peerEnd));
    const MacAddress own = table.record(table.currentAdapter()).hostMac;
    parent.sendLine("ready " + own.text());
    const auto target = parent.receiveLine(Clock::now() + std::chrono::seconds(30));
    if (!target || target->rfind("target ", 0) != 0)
        return 2;
    const MacAddress to = MacAddress::fromText(target->substr(7));
    for (;;) {
        const auto line = parent.receiveLine(Clock::now() + std::chrono::seconds(60));
        if (!line || *line == "quit")
            return line ? 0 : 2;
        if (*line == "probe") {
            table.SendFrame(markedFrame(to, own, kProbeMark, 0));
            parent.sendLine("probed");
        } else if (line->rfind("burst ", 0) == 0) {
            const int count = std::atoi(line->c_str() + 6);
            for (int i = 0; i < count; ++i)
                table.SendFrame(markedFrame(to, own, kBurstMark, static_cast<std::uint16_t>(i)));
            parent.sendLine("sent " + std::to_string(count));
        }
    }
}

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : kSlotsPerAdapter;
    if (frames <= 0 || frames > 65535) {
        std::fprintf(stderr, "usage: bench_link_burst [frames, default %d]\n", kSlotsPerAdapter);
        return 2;
    }
    std::string reason;
    auto veth = testsupport::NetnsVeth::create(reason);
    if (!veth) {
        std::fprintf(stderr, "bench_link_burst: cannot run: %s\n", reason.c_str());
        return 2;
    }
    const std::string peerEnd = veth->peerEnd();
    std::string error;
    auto child = testsupport::NamespaceChild::start(
        *veth, [peerEnd](LineChannel& parent) { return sender(parent, peerEnd); }, error);
    if (!child) {
        std::fprintf(stderr, "bench_link_burst: %s\n", error.c_str());
        return 2;
    }
    LineChannel& channel = child->channel();
    const auto ready = channel.receiveLine(Clock::now() + std::chrono::seconds(30));
    if (!ready || ready->rfind("ready ", 0) != 0) {
        std::fprintf(stderr, "bench_link_burst: the sender said %s\n", ready ? ready->c_str() : "nothing");
        return 2;
    }

    PacketLibrary library(std::make_shared<testsupport::InterfaceSubsetBackend>(
        makePcapBackend(), std::vector<std::string>{veth->hostEnd()}));
    AdapterTable table(library, LinkMode::Utility);
    if (!table.OpenAdapters() || table.count() != 1) {
        std::fprintf(stderr, "bench_link_burst: cannot open %s\n", veth->hostEnd().c_str());
        return 2;
    }
    channel.sendLine("target " + table.record(0).hostMac.text());

    // Until one probe has come through, the pair's queues may not be running yet.
    std::vector<std::uint8_t> frame;
    bool linkUp = false;
    for (int attempt = 0; attempt < 50 && !linkUp; ++attempt) {
        channel.sendLine("probe");
        channel.receiveLine(Clock::now() + std::chrono::seconds(10));
        const auto deadline = Clock::now() + std::chrono::milliseconds(100);
        while (!linkUp && Clock::now() < deadline) {
            table.waitForFrame(deadline);
            linkUp = table.FetchFrame(frame) > 0;
        }
    }
    if (!linkUp) {
        std::fprintf(stderr, "bench_link_burst: no frame crosses the veth pair\n");
        return 2;
    }
    while (table.FetchFrame(frame) > 0) {
    }

    const auto burstStart = Clock::now();
    channel.sendLine("burst " + std::to_string(frames));
    const auto sentLine = channel.receiveLine(Clock::now() + std::chrono::seconds(60));
    const auto burstEnd = Clock::now();
    const int sent = sentLine && sentLine->rfind("sent ", 0) == 0 ? std::atoi(sentLine->c_str() + 5) : 0;

    // The whole burst is on its way before the first fetch: it has to wait in the outstanding reads.
    std::set<std::uint16_t> sequences;
    int fetched = 0;
    auto lastFrame = burstEnd;
    auto idleDeadline = Clock::now() + std::chrono::seconds(1);
    while (fetched < sent && Clock::now() < idleDeadline) {
        if (table.FetchFrame(frame) > 0) {
            if (frame.size() >= 17 && frame[14] == kBurstMark) {
                ++fetched;
                sequences.insert(static_cast<std::uint16_t>(frame[15] << 8 | frame[16]));
                lastFrame = Clock::now();
                idleDeadline = lastFrame + std::chrono::seconds(1);
            }
            continue;
        }
        table.waitForFrame(idleDeadline);
    }
    channel.sendLine("quit");
    child->wait(Clock::now() + std::chrono::seconds(10));

    std::printf("frames sent:     %d\n", sent);
    std::printf("frames fetched:  %d (%zu distinct)\n", fetched, sequences.size());
    std::printf("frames lost:     %d\n", sent - fetched);
    std::printf("send time:       %.3f ms\n", milliseconds(burstEnd - burstStart));
    std::printf("drain time:      %.3f ms (end of burst to last frame fetched)\n", milliseconds(lastFrame - burstEnd));
    return sent > 0 && fetched == sent && static_cast<int>(sequences.size()) == sent ? 0 : 1;
}
