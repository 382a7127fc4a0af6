#pragma once

#include "platform/message_service.h"
#include "uitext/basic_ctrl_info.h"
#include "uitext/control_target.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
}

namespace zrq406 {

// The two programs read the language file slightly differently: the upgrade tool treats an empty text as a
// failed query and always puts the control part into a control path.
enum class UiTextMode { Utility, UpgradeTool };

// The language file loader. Owns the parsed file for the whole run and answers path queries against it. Every
// failure is reported by a message box (OK button, the application title as caption), and every level of a
// query adds its own box, so one missing node shows a cascade.
class CLoadUISetting {
public:
    // `applicationTitle` captions the failure boxes until the program sets its title from the file.
    CLoadUISetting(MessageService& messages, UiTextMode mode, std::string applicationTitle);
    ~CLoadUISetting();
    CLoadUISetting(const CLoadUISetting&) = delete;
    CLoadUISetting& operator=(const CLoadUISetting&) = delete;

    // The caption of the failure boxes.
    void setApplicationTitle(std::string title) { m_title = std::move(title); }
    const std::string& applicationTitle() const { return m_title; }
    UiTextMode mode() const { return m_mode; }
    // True once a file has been loaded with its document element.
    bool isLoaded() const;

    // Loads the language file at `path`, replacing any file loaded before.
    bool LoadXMLFile(const std::string& path);
    // The same without a message box: on failure `why` says what is wrong with the file.
    bool LoadXMLFileQuietly(const std::string& path, std::string& why);
    // Loads language texts held in memory (the texts built into the program), replacing any loaded before.
    bool LoadXMLText(std::string_view text);
    // The text of the single node at the absolute path `path`; silent false when no file is loaded.
    bool SelectNodeText(const std::string& path, std::string& text);
    // The text at /root/page/control/field, or /root/page/field when `control` is empty (utility only).
    bool GetStdNodeText(const std::string& root, const std::string& page, const std::string& control,
                        const std::string& field, std::string& text);
    // The text at the path formed by putting "/" before each part; `text` is left empty on failure.
    bool GetStdNodeText(const std::vector<std::string>& parts, std::string& text);
    // The text at /root/page/list/columns/column/field.
    bool GetStdNodeText2(const std::string& root, const std::string& page, const std::string& list,
                         const std::string& columns, const std::string& column, const std::string& field,
                         std::string& text);

    // The text at /a/b/c; empty on failure.
    std::string LoadPageCaption(const std::string& a, const std::string& b, const std::string& c);
    // The text at /a/b/c/d; empty on failure.
    std::string LoadPageCaption(const std::string& a, const std::string& b, const std::string& c, const std::string& d);
    // The text at /a/b/c/d/e/f; empty on failure.
    std::string LoadPageCaption(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                                const std::string& e, const std::string& f);
    // The number at /a/b/c (font size, dialog sizes); 0 on failure.
    int LoadFontSize(const std::string& a, const std::string& b, const std::string& c);

    // Text, Location_x, Location_y, Size_w and Size_h of a control, stopping at the first failure.
    bool GetBasicCtrlInfo(const std::string& root, const std::string& page, const std::string& control,
                          BasicCtrlInfo& info);
    // Sets the window's text and rectangle from the file; a null window moves nothing.
    bool LoadBasicCtrl(ControlTarget* window, const std::string& root, const std::string& page,
                       const std::string& control);
    // Text and Width of one list column.
    bool GetBasicCtrlInfo2(const std::string& root, const std::string& page, const std::string& list,
                           const std::string& columns, const std::string& column, BasicCtrlInfo& info);
    // Reads one list column into LastColumnInfo().
    bool LoadBasicCtrl2(const std::string& root, const std::string& page, const std::string& list,
                        const std::string& columns, const std::string& column);
    // Location_x, Location_y, Size_w and Size_h of a control (or of the page when `control` is empty).
    bool GetBasicCtrlInfo4(const std::string& root, const std::string& page, const std::string& control,
                           BasicCtrlInfo& info);
    // Sets only the window's rectangle; with an empty control name moves nothing and fills LastPageRect().
    bool LoadBasicCtrl4(ControlTarget* window, const std::string& root, const std::string& page,
                        const std::string& control);

    // The column read by the last successful LoadBasicCtrl2 (text and width).
    const BasicCtrlInfo& LastColumnInfo() const { return m_lastColumnInfo; }
    // The rectangle read by the last successful LoadBasicCtrl4 with an empty control name.
    const BasicCtrlInfo& LastPageRect() const { return m_lastPageRect; }

    // Font/FontName and Font/FontSize. The utility reads them afresh for each page; the upgrade tool builds one
    // font on first use (through the array form of GetStdNodeText) and keeps it for the program's life.
    DialogFont LoadDialogFont();

private:
    enum class LoadFailure { None, OutOfMemory, Unreadable, NoRoot };
    // Parses a file (`path`) or, without a path, `text`; `why` describes a failure.
    LoadFailure loadDocument(const std::string* path, std::string_view text, std::string& why);
    void report(const char* text);

    MessageService& m_messages;
    UiTextMode m_mode;
    std::string m_title;
    std::unique_ptr<pugi::xml_document> m_document;
    bool m_hasRoot = false;
    BasicCtrlInfo m_lastColumnInfo;
    BasicCtrlInfo m_lastPageRect;
    std::optional<DialogFont> m_upgradeFont;
};

} // namespace zrq406
