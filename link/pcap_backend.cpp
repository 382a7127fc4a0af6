#include "link/host_interfaces.h"
#include "link/link_backend.h"
#include "link/pcap_port.h"

#include <algorithm>
#include <pcap/pcap.h>

namespace zrq406::link {

namespace {

class PcapBackend : public LinkBackend {
public:
    std::vector<InterfaceInfo> hostInterfaces() override { return listHostInterfaces(); }

    std::vector<std::string> libraryInterfaces() override {
        std::vector<std::string> names;
        char errorBuffer[PCAP_ERRBUF_SIZE] = {};
        pcap_if_t* devices = nullptr;
        if (pcap_findalldevs(&devices, errorBuffer) != 0)
            return names;
        // Only Ethernet interfaces are opened: libpcap also lists pseudo devices (any, nflog, nfqueue, usbmon,
        // bus monitors) whose opening has side effects on the host.
        const auto ethernet = listHostInterfaces();
        for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
            if (device->name == nullptr)
                continue;
            const std::string name = device->name;
            if (std::any_of(ethernet.begin(), ethernet.end(), [&](const InterfaceInfo& i) { return i.name == name; }))
                names.push_back(name);
        }
        pcap_freealldevs(devices);
        return names;
    }

    std::unique_ptr<LinkPort> open(const std::string& name, std::string& error) override {
        return PcapPort::open(name, error);
    }
};

} // namespace

std::shared_ptr<LinkBackend> makePcapBackend() {
    return std::make_shared<PcapBackend>();
}

} // namespace zrq406::link
