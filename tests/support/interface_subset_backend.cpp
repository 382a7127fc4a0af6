#include "tests/support/interface_subset_backend.h"

#include <algorithm>

namespace zrq406::testsupport {

InterfaceSubsetBackend::InterfaceSubsetBackend(std::shared_ptr<link::LinkBackend> inner, std::vector<std::string> names)
    : m_inner(std::move(inner)), m_names(std::move(names)) {}

bool InterfaceSubsetBackend::shown(const std::string& name) const {
    return std::find(m_names.begin(), m_names.end(), name) != m_names.end();
}

std::vector<link::InterfaceInfo> InterfaceSubsetBackend::hostInterfaces() {
    std::vector<link::InterfaceInfo> interfaces = m_inner->hostInterfaces();
    std::erase_if(interfaces, [this](const link::InterfaceInfo& info) { return !shown(info.name); });
    return interfaces;
}

std::vector<std::string> InterfaceSubsetBackend::libraryInterfaces() {
    std::vector<std::string> names = m_inner->libraryInterfaces();
    std::erase_if(names, [this](const std::string& name) { return !shown(name); });
    return names;
}

std::unique_ptr<link::LinkPort> InterfaceSubsetBackend::open(const std::string& name, std::string& error) {
    if (!shown(name)) {
        error = name + ": not part of this test";
        return nullptr;
    }
    return m_inner->open(name, error);
}

} // namespace zrq406::testsupport
