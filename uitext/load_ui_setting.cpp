#include "uitext/load_ui_setting.h"

#include "platform/regular_file.h"
#include "uitext/decimal_text.h"

#include <exception>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <pugixml.hpp>
#include <string_view>

namespace zrq406 {

namespace {

std::string joinPath(std::initializer_list<std::string_view> parts) {
    std::string path;
    for (const std::string_view part : parts) {
        path += '/';
        path += part;
    }
    return path;
}

// All text below `node` in document order. Walked without recursion: a file may nest elements deeper than the
// stack would allow.
void appendDescendantText(const pugi::xml_node& node, std::string& out) {
    pugi::xml_node current = node.first_child();
    while (current) {
        if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata)
            out += current.value();
        if (current.type() == pugi::node_element && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && !current.next_sibling() && current != node)
            current = current.parent();
        if (!current || current == node)
            break;
        current = current.next_sibling();
    }
}

// The string value of a selected node (all descendant text), trimmed of surrounding white space as a DOM's
// text property gives it.
std::string nodeText(const pugi::xpath_node& selected) {
    std::string text;
    if (selected.attribute())
        text = selected.attribute().value();
    else if (selected.node().type() == pugi::node_pcdata || selected.node().type() == pugi::node_cdata)
        text = selected.node().value();
    else
        appendDescendantText(selected.node(), text);
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

CLoadUISetting::CLoadUISetting(MessageService& messages, UiTextMode mode, std::string applicationTitle)
    : m_messages(messages), m_mode(mode), m_title(std::move(applicationTitle)) {}

CLoadUISetting::~CLoadUISetting() = default;

bool CLoadUISetting::isLoaded() const {
    return m_hasRoot;
}

void CLoadUISetting::report(const char* text) {
    m_messages.show(Message{text, m_title, MessageIcon::None, MessageButtons::Ok});
}

CLoadUISetting::LoadFailure CLoadUISetting::loadDocument(const std::string* path, std::string_view text,
                                                         std::string& why) {
    m_document.reset();
    m_hasRoot = false;
    m_upgradeFont.reset();
    m_document.reset(new (std::nothrow) pugi::xml_document);
    if (!m_document) {
        why = "out of memory";
        return LoadFailure::OutOfMemory;
    }
    // White space between inline elements belongs to the text; only the ends of a node's text are trimmed.
    constexpr unsigned kOptions = pugi::parse_default | pugi::parse_ws_pcdata;
    pugi::xml_parse_result result;
    if (path != nullptr) {
        // Language files are small; anything far larger is not one, and is not read into memory. A FIFO or device
        // node in the file's place is refused rather than waited on.
        constexpr std::size_t kLargestLanguageFile = 4u * 1024 * 1024;
        const FileReadResult read = readRegularFile(*path, kLargestLanguageFile);
        switch (read.status) {
        case FileReadStatus::Ok:
            break;
        case FileReadStatus::Missing:
            why = "not found";
            return LoadFailure::Unreadable;
        case FileReadStatus::NotRegular:
            why = "not a regular file";
            return LoadFailure::Unreadable;
        case FileReadStatus::TooLarge:
            why = "larger than 4 MiB";
            return LoadFailure::Unreadable;
        case FileReadStatus::Unreadable:
            why = "cannot be read";
            return LoadFailure::Unreadable;
        }
        result = m_document->load_buffer(read.content.data(), read.content.size(), kOptions);
    } else {
        result = m_document->load_buffer(text.data(), text.size(), kOptions);
    }
    if (result.status == pugi::status_out_of_memory) {
        m_document.reset();
        why = "out of memory";
        return LoadFailure::OutOfMemory;
    }
    if (result.status == pugi::status_file_not_found || result.status == pugi::status_io_error) {
        why = "cannot be read";
        return LoadFailure::Unreadable;
    }
    if (!result) {
        why = std::string(result.description()) + " at byte " + std::to_string(result.offset);
        return LoadFailure::Unreadable;
    }
    if (!m_document->document_element()) {
        why = "holds no texts";
        return LoadFailure::NoRoot;
    }
    m_hasRoot = true;
    return LoadFailure::None;
}

bool CLoadUISetting::LoadXMLFile(const std::string& path) {
    std::string why;
    switch (loadDocument(&path, {}, why)) {
    case LoadFailure::None:
        return true;
    case LoadFailure::OutOfMemory:
        report("CreateInstance failure.");
        return false;
    case LoadFailure::Unreadable:
        report("Load XML file failure.");
        return false;
    case LoadFailure::NoRoot:
        report("Get xml root failure.");
        return false;
    }
    return false;
}

bool CLoadUISetting::LoadXMLFileQuietly(const std::string& path, std::string& why) {
    return loadDocument(&path, {}, why) == LoadFailure::None;
}

bool CLoadUISetting::LoadXMLText(std::string_view text) {
    std::string why;
    return loadDocument(nullptr, text, why) == LoadFailure::None;
}

bool CLoadUISetting::SelectNodeText(const std::string& path, std::string& text) {
    if (!m_hasRoot)
        return false;
    pugi::xpath_node selected;
    try {
        selected = m_document->document_element().select_node(path.c_str());
    } catch (const std::exception&) {
        // The parts of a path are not checked; one that is no valid XPath selects nothing.
        selected = pugi::xpath_node();
    }
    if (!selected) {
        report("select single node failure.");
        return false;
    }
    text = nodeText(selected);
    if (text.empty()) {
        report("_bstr_t copy failure");
        if (m_mode == UiTextMode::UpgradeTool)
            return false;
    }
    return true;
}

bool CLoadUISetting::GetStdNodeText(const std::string& root, const std::string& page, const std::string& control,
                                    const std::string& field, std::string& text) {
    const std::string path = control.empty() && m_mode == UiTextMode::Utility ? joinPath({root, page, field})
                                                                              : joinPath({root, page, control, field});
    if (!SelectNodeText(path, text)) {
        report("CLoadUISetting::GetStdNodeText failure.");
        return false;
    }
    return true;
}

bool CLoadUISetting::GetStdNodeText(const std::vector<std::string>& parts, std::string& text) {
    std::string path;
    for (const std::string& part : parts) {
        path += '/';
        path += part;
    }
    std::string found;
    if (!SelectNodeText(path, found)) {
        text.clear();
        report("CLoadUISetting::GetStdNodeText failure.");
        return false;
    }
    text = std::move(found);
    return true;
}

bool CLoadUISetting::GetStdNodeText2(const std::string& root, const std::string& page, const std::string& list,
                                     const std::string& columns, const std::string& column, const std::string& field,
                                     std::string& text) {
    if (!SelectNodeText(joinPath({root, page, list, columns, column, field}), text)) {
        report("CLoadUISetting::GetStdNodeText2 failure.");
        return false;
    }
    return true;
}

std::string CLoadUISetting::LoadPageCaption(const std::string& a, const std::string& b, const std::string& c) {
    std::string text;
    if (!SelectNodeText(joinPath({a, b, c}), text)) {
        report("CLoadUISetting::LoadPageCaption failure.");
        return {};
    }
    return text;
}

std::string CLoadUISetting::LoadPageCaption(const std::string& a, const std::string& b, const std::string& c,
                                            const std::string& d) {
    std::string text;
    if (!SelectNodeText(joinPath({a, b, c, d}), text)) {
        report("CLoadUISetting::LoadPageCaption failure.");
        return {};
    }
    return text;
}

std::string CLoadUISetting::LoadPageCaption(const std::string& a, const std::string& b, const std::string& c,
                                            const std::string& d, const std::string& e, const std::string& f) {
    std::string text;
    if (!SelectNodeText(joinPath({a, b, c, d, e, f}), text)) {
        report("CLoadUISetting::LoadPageCaption failure.");
        return {};
    }
    return text;
}

int CLoadUISetting::LoadFontSize(const std::string& a, const std::string& b, const std::string& c) {
    std::string text;
    if (!SelectNodeText(joinPath({a, b, c}), text)) {
        report("CLoadUISetting::LoadFontSize failure.");
        return 0;
    }
    return decimalValue(text);
}

bool CLoadUISetting::GetBasicCtrlInfo(const std::string& root, const std::string& page, const std::string& control,
                                      BasicCtrlInfo& info) {
    BasicCtrlInfo read;
    std::string x, y, width, height;
    if (!GetStdNodeText(root, page, control, "Text", read.text) ||
        !GetStdNodeText(root, page, control, "Location_x", x) ||
        !GetStdNodeText(root, page, control, "Location_y", y) ||
        !GetStdNodeText(root, page, control, "Size_w", width) ||
        !GetStdNodeText(root, page, control, "Size_h", height)) {
        report("GetBasicCtrlInfo failure.");
        return false;
    }
    read.x = decimalValue(x);
    read.y = decimalValue(y);
    read.width = decimalValue(width);
    read.height = decimalValue(height);
    info = std::move(read);
    return true;
}

bool CLoadUISetting::LoadBasicCtrl(ControlTarget* window, const std::string& root, const std::string& page,
                                   const std::string& control) {
    BasicCtrlInfo info;
    if (!GetBasicCtrlInfo(root, page, control, info)) {
        report("CLoadUISetting::LoadBasicCtrl failure.");
        return false;
    }
    if (window != nullptr) {
        window->setText(info.text);
        window->setGeometry(info.x, info.y, info.width, info.height);
    }
    return true;
}

bool CLoadUISetting::GetBasicCtrlInfo2(const std::string& root, const std::string& page, const std::string& list,
                                       const std::string& columns, const std::string& column, BasicCtrlInfo& info) {
    BasicCtrlInfo read;
    std::string width;
    if (!GetStdNodeText2(root, page, list, columns, column, "Text", read.text) ||
        !GetStdNodeText2(root, page, list, columns, column, "Width", width)) {
        report("GetBasicCtrlInfo2 failure.");
        return false;
    }
    read.width = decimalValue(width);
    info = std::move(read);
    return true;
}

bool CLoadUISetting::LoadBasicCtrl2(const std::string& root, const std::string& page, const std::string& list,
                                    const std::string& columns, const std::string& column) {
    BasicCtrlInfo info;
    if (!GetBasicCtrlInfo2(root, page, list, columns, column, info)) {
        report("CLoadUISetting::LoadBasicCtrl2 failure.");
        return false;
    }
    m_lastColumnInfo = std::move(info);
    return true;
}

bool CLoadUISetting::GetBasicCtrlInfo4(const std::string& root, const std::string& page, const std::string& control,
                                       BasicCtrlInfo& info) {
    std::string x, y, width, height;
    if (!GetStdNodeText(root, page, control, "Location_x", x) ||
        !GetStdNodeText(root, page, control, "Location_y", y) ||
        !GetStdNodeText(root, page, control, "Size_w", width) ||
        !GetStdNodeText(root, page, control, "Size_h", height)) {
        report("GetBasicCtrlInfo4 failure.");
        return false;
    }
    info.x = decimalValue(x);
    info.y = decimalValue(y);
    info.width = decimalValue(width);
    info.height = decimalValue(height);
    return true;
}

bool CLoadUISetting::LoadBasicCtrl4(ControlTarget* window, const std::string& root, const std::string& page,
                                    const std::string& control) {
    BasicCtrlInfo info;
    if (!GetBasicCtrlInfo4(root, page, control, info)) {
        report("CLoadUISetting::LoadBasicCtrl4 failure.");
        return false;
    }
    if (control.empty())
        m_lastPageRect = info;
    else if (window != nullptr)
        window->setGeometry(info.x, info.y, info.width, info.height);
    return true;
}

DialogFont CLoadUISetting::LoadDialogFont() {
    if (m_mode == UiTextMode::Utility) {
        DialogFont font;
        font.faceName = LoadPageCaption("ZRQ406", "Font", "FontName");
        font.tenthsOfPoint = LoadFontSize("ZRQ406", "Font", "FontSize");
        return font;
    }
    if (!m_upgradeFont) {
        DialogFont font;
        std::vector<std::string> parts{"ZRQ406", "Font", "FontName"};
        GetStdNodeText(parts, font.faceName);
        parts.back() = "FontSize";
        std::string size;
        GetStdNodeText(parts, size);
        font.tenthsOfPoint = decimalValue(size);
        m_upgradeFont = font;
    }
    return *m_upgradeFont;
}

} // namespace zrq406
