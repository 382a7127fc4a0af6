#include "app/system_information.h"

#include "app/session.h"
#include "link/library_version.h"
#include "link/packet_library.h"
#include "platform/display_text.h"
#include "platform/program_version.h"
#include "platform/text_field.h"

namespace zrq406::app {

std::vector<std::string> SystemInformation::values() const {
    return {host.computerName, host.userName,  host.processor,
            host.osName,       host.osVersion, host.memoryBytes > 0 ? memoryText(host.memoryBytes) : std::string(),
            adapter,           adapterMac,     std::to_string(devicesFound),
            lastScan,          version};
}

SystemInformation gatherSystemInformation(Session* session, int devicesFound, std::string lastScan,
                                          std::string_view toolkit, const HostSources& sources) {
    SystemInformation info;
    info.host = readHostInformation(sources);
    if (session != nullptr && session->isOpen() && session->adapters().count() > 0) {
        auto& adapters = session->adapters();
        const int current = session->hasCurrentAdapter() ? adapters.currentAdapter() : 0;
        const auto& record = adapters.record(current);
        // The record's text is the interface's description followed by the packet library's name for it.
        std::string text = fieldText(record.text);
        const std::string libraryName = std::string(link::kAdapterNamePrefix) + record.interfaceName;
        if (text.size() >= libraryName.size() && text.ends_with(libraryName))
            text.resize(text.size() - libraryName.size());
        text += text.empty() ? record.interfaceName : " (" + record.interfaceName + ")";
        if (adapters.count() > 1) {
            std::string names;
            for (int i = 0; i < adapters.count(); ++i)
                names += (i > 0 ? ", " : "") + adapters.record(i).interfaceName;
            text += " [" + names + "]";
        }
        info.adapter = validUtf8(text);
        info.adapterMac = record.hostMac.text();
    }
    info.devicesFound = devicesFound;
    info.lastScan = std::move(lastScan);
    std::string version(programVersion());
    if (!toolkit.empty())
        version += ", " + std::string(toolkit);
    if (const std::string capture = link::captureLibraryVersion(); !capture.empty())
        version += ", " + capture;
    info.version = validUtf8(version);
    return info;
}

} // namespace zrq406::app
