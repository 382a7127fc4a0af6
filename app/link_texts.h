#pragma once

#include "app/link_table.h"
#include "registry/list_rows.h"

#include <string>
#include <vector>

namespace zrq406 {
class CLoadUISetting;
}

namespace zrq406::app {

// The language texts of the link table and the network map (/ZRQ406/LinkMap).
struct LinkTexts {
    std::string caption;              // the map page's tab
    std::string heading;              // the link table's heading in the report
    std::vector<std::string> columns; // from, to, transmit, receive, weaker direction
    std::string unknown;              // a rate that was never told
    std::string noLink;               // a station that lists no link to the other
    std::string note;                 // the rates' meaning and the one-byte field
    std::string local;                // marks the local device
    std::string deviceName;           // a device's accessible name: "%s" name, "%s" MAC
    std::string linkName;             // a link's accessible name: from, to, transmit, receive
    std::string linkUnknown;          // an unknown link's accessible name: from, to
    std::string empty;                // before any scan found a device
    std::string hosts;                // heads the hosts behind a device in its tooltip
    std::string noHosts;              // a device that told of no host behind it
    std::string viewMap;              // the page's switch to the map
    std::string viewMatrix;           // the page's switch to the link matrix
    std::string matrix;               // the link matrix's accessible name: what its rows and columns are
    std::string choose;               // how to open a link's details

    static LinkTexts load(CLoadUISetting& texts);
};

// The table's rows weakest first, in the texts' columns; unknown rates and missing links in words, never as 0.
ListRows linkRows(const LinkTable& table, const LinkTexts& texts);
// A link's accessible name with both directions' numbers.
std::string linkAccessibleName(const LinkTable& table, const LinkRow& row, const LinkTexts& texts);
// A device's accessible name: its name (marked when it is the local device) and MAC.
std::string deviceAccessibleName(const LinkTable& table, std::size_t station, const LinkTexts& texts);

} // namespace zrq406::app
