#include "link/helper_port.h"
#include "link/host_interfaces.h"
#include "link/link_backend.h"

#include <cstdlib>
#include <unistd.h>

namespace zrq406::link {

namespace {

class HelperBackend : public LinkBackend {
public:
    explicit HelperBackend(std::filesystem::path helper) : m_helper(std::move(helper)) {}

    std::vector<InterfaceInfo> hostInterfaces() override { return listHostInterfaces(); }

    std::vector<std::string> libraryInterfaces() override {
        std::vector<std::string> names;
        for (const InterfaceInfo& info : listHostInterfaces())
            names.push_back(info.name);
        return names;
    }

    std::unique_ptr<LinkPort> open(const std::string& name, std::string& error) override {
        return HelperPort::open(m_helper, name, error);
    }

private:
    std::filesystem::path m_helper;
};

} // namespace

std::filesystem::path linkHelperPath() {
    // Tests and benchmarks run the helper of their own build.
    if (const char* path = std::getenv("ZRQ406_LINK_HELPER"); path != nullptr && *path == '/')
        return path;
    return ZRQ406_LINK_HELPER_PATH;
}

bool linkHelperUsable(const std::filesystem::path& helper) {
    return ::access(helper.c_str(), X_OK) == 0;
}

std::shared_ptr<LinkBackend> makeHelperBackend(std::filesystem::path helper) {
    return std::make_shared<HelperBackend>(std::move(helper));
}

} // namespace zrq406::link
