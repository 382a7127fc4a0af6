#include "app/upgrade_queue.h"

#include "platform/text_field.h"

#include <algorithm>

namespace zrq406::app {

void UpgradeQueue::append(UpgradeDevice device) {
    for (std::string* text : {&device.name, &device.mac, &device.firmware})
        *text = std::string(truncateUtf8(*text, UpgradeDevice::textLimit));
    device.index = size();
    m_devices.push_back(std::move(device));
}

void UpgradeQueue::removeHead() {
    if (!m_devices.empty())
        m_devices.pop_front();
}

bool UpgradeQueue::contains(std::string_view mac) const {
    return std::any_of(m_devices.begin(), m_devices.end(), [&](const UpgradeDevice& d) { return d.mac == mac; });
}

} // namespace zrq406::app
