#include "link/host_interfaces.h"
#include "link/link_backend.h"
#include "link/pcap_port.h"

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
        for (const pcap_if_t* device = devices; device != nullptr; device = device->next)
            if (device->name != nullptr)
                names.emplace_back(device->name);
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
