#include "gui/page_layout.h"

#include "gui/widget_target.h"
#include "uitext/load_ui_setting.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QWidget>

namespace zrq406 {

namespace {
constexpr char kRoot[] = "ZRQ406";
} // namespace

PageLayout::PageLayout(CLoadUISetting& texts, std::string page) : m_texts(texts), m_page(std::move(page)) {}

void PageLayout::name(QWidget* widget, const std::string& node, int dialogId) {
    widget->setObjectName(qtText(node));
    widget->setProperty("dialogId", dialogId);
    // Labels show their texts as they stand: a device name or a language text is never read as markup.
    if (auto* label = qobject_cast<QLabel*>(widget))
        label->setTextFormat(Qt::PlainText);
}

void PageLayout::control(QWidget* widget, const std::string& node, int dialogId) {
    name(widget, node, dialogId);
    WidgetTarget target(widget);
    m_texts.LoadBasicCtrl(&target, kRoot, m_page, node);
}

void PageLayout::rect(QWidget* widget, const std::string& node, int dialogId, const std::string& accessibleName) {
    name(widget, node, dialogId);
    if (!accessibleName.empty())
        widget->setAccessibleName(qtText(accessibleName));
    WidgetTarget target(widget);
    m_texts.LoadBasicCtrl4(&target, kRoot, m_page, node);
}

void PageLayout::columns(QTreeWidget* list, const std::string& listNode, const std::vector<std::string>& columns) {
    QStringList headings;
    std::vector<int> widths;
    for (const std::string& column : columns) {
        if (column.empty()) {
            // A column of the program's own, such as a list's check boxes: no heading of its own.
            headings << QStringLiteral(" ");
            widths.push_back(24);
            continue;
        }
        const bool read = m_texts.LoadBasicCtrl2(kRoot, m_page, listNode, "Columns", column);
        headings << (read ? qtText(m_texts.LastColumnInfo().text) : QString());
        widths.push_back(read ? m_texts.LastColumnInfo().width : 100);
    }
    list->setColumnCount(static_cast<int>(columns.size()));
    list->setHeaderLabels(headings);
    for (std::size_t i = 0; i < widths.size(); ++i)
        list->setColumnWidth(static_cast<int>(i), widths[i]);
}

std::string PageLayout::text(const std::string& node, const std::string& field) {
    return m_texts.LoadPageCaption(kRoot, m_page, node, field);
}

void PageLayout::window(QWidget* dialog) {
    dialog->setWindowTitle(qtText(m_texts.LoadPageCaption(kRoot, m_page, "Text")));
    const int width = m_texts.LoadFontSize(kRoot, m_page, "Size_w");
    const int height = m_texts.LoadFontSize(kRoot, m_page, "Size_h");
    if (width > 0 && height > 0)
        dialog->setFixedSize(width, height);
}

} // namespace zrq406
