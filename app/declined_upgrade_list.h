#pragma once

#include <string_view>

namespace zrq406::app {

// The devices for which the upgrade offer was declined in this run, by MAC text.
class DeclinedUpgradeList {
public:
    static constexpr int capacity = 20;

    bool contains(std::string_view macText) const;
    // Adds a MAC text not yet in the list; false when the list is full.
    bool add(std::string_view macText);
    int count() const { return m_count; }

private:
    char m_entries[capacity][24] = {};
    int m_count = 0;
};

} // namespace zrq406::app
