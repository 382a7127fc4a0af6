#include "link/sim_port.h"
#include "link/sim_segment.h"

#include <algorithm>

namespace zrq406::link {

namespace {

class SimBackend : public LinkBackend {
public:
    explicit SimBackend(std::vector<SimHostAdapter> adapters) : m_adapters(std::move(adapters)) {}

    std::vector<InterfaceInfo> hostInterfaces() override {
        std::vector<InterfaceInfo> interfaces;
        for (const SimHostAdapter& adapter : m_adapters)
            interfaces.push_back({adapter.name, adapter.description});
        return interfaces;
    }

    std::vector<std::string> libraryInterfaces() override {
        std::vector<std::string> names;
        for (const SimHostAdapter& adapter : m_adapters)
            names.push_back(adapter.name);
        return names;
    }

    std::unique_ptr<LinkPort> open(const std::string& name, std::string& error) override {
        const auto it = std::find_if(m_adapters.begin(), m_adapters.end(),
                                     [&](const SimHostAdapter& adapter) { return adapter.name == name; });
        if (it == m_adapters.end()) {
            error = name + ": no such simulated adapter";
            return nullptr;
        }
        if (!it->segment) {
            error = name + ": the simulated adapter is not attached to a segment";
            return nullptr;
        }
        return std::make_unique<SimPort>(*it);
    }

private:
    std::vector<SimHostAdapter> m_adapters;
};

} // namespace

std::shared_ptr<LinkBackend> makeSimBackend(std::vector<SimHostAdapter> adapters) {
    return std::make_shared<SimBackend>(std::move(adapters));
}

} // namespace zrq406::link
