#pragma once

#include "link/link_backend.h"

#include <memory>
#include <string>
#include <vector>

namespace zrq406::testsupport {

// A backend that shows only the named interfaces of another one, so that a test on a veth pair opens that pair
// and leaves the machine's other adapters alone.
class InterfaceSubsetBackend : public link::LinkBackend {
public:
    InterfaceSubsetBackend(std::shared_ptr<link::LinkBackend> inner, std::vector<std::string> names);

    std::vector<link::InterfaceInfo> hostInterfaces() override;
    std::vector<std::string> libraryInterfaces() override;
    std::unique_ptr<link::LinkPort> open(const std::string& name, std::string& error) override;

private:
    bool shown(const std::string& name) const;
    std::shared_ptr<link::LinkBackend> m_inner;
    std::vector<std::string> m_names;
};

} // namespace zrq406::testsupport
