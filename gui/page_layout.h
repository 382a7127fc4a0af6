#pragma once

#include <QString>
#include <string>
#include <vector>

class QTreeWidget;
class QWidget;

namespace zrq406 {

class CLoadUISetting;

// A language text as Qt shows it, and back.
inline QString qtText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string stdText(const QString& text) {
    return text.toUtf8().toStdString();
}

// Lays out one page or dialog from the language file. Every control gets its node name as objectName and its
// dialog id as the property "dialogId", so tests and UI automation find it; a control that shows no text of its
// own (list, edit, picture, combo box, progress bar) gets its caption as accessible name. Labels show plain text.
class PageLayout {
public:
    PageLayout(CLoadUISetting& texts, std::string page);

    // Text and rectangle of a control.
    void control(QWidget* widget, const std::string& node, int dialogId);
    // Makes a control of type Widget on `parent` and gives it its text and rectangle.
    template <class Widget> Widget* add(QWidget* parent, const std::string& node, int dialogId) {
        auto* widget = new Widget(parent);
        control(widget, node, dialogId);
        return widget;
    }
    // Only the rectangle of a control; `accessibleName` names it for screen readers.
    void rect(QWidget* widget, const std::string& node, int dialogId, const std::string& accessibleName);
    // The heading and width of each column, in order; an empty name makes a narrow column without heading.
    void columns(QTreeWidget* list, const std::string& listNode, const std::vector<std::string>& columns);
    // The text at /ZRQ406/<page>/<node>/<field>.
    std::string text(const std::string& node, const std::string& field = "Text");
    // The page's caption and size (/ZRQ406/<page>/Text, Size_w, Size_h) for a dialog window.
    void window(QWidget* dialog);

    CLoadUISetting& texts() { return m_texts; }
    const std::string& page() const { return m_page; }

private:
    void name(QWidget* widget, const std::string& node, int dialogId);

    CLoadUISetting& m_texts;
    std::string m_page;
};

} // namespace zrq406
