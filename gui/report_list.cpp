#include "gui/report_list.h"

#include "gui/page_layout.h"
#include "gui/report_list_accessible.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace zrq406 {

ReportList::ReportList(QWidget* parent) : QTreeWidget(parent) {
    ReportListAccessible::install();
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    setAlternatingRowColors(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
    setItemDelegate(new StateMarkDelegate(this));
}

void ReportList::setRows(const ListRows& rows) {
    clear();
    for (const auto& row : rows) {
        auto* item = new QTreeWidgetItem(this);
        for (std::size_t c = 0; c < row.size(); ++c)
            item->setText(static_cast<int>(c), qtText(row[c]));
        if (m_checkable) {
            item->setCheckState(0, row.empty() || row[0].empty() ? Qt::Unchecked : Qt::Checked);
            nameCheckBox(item);
        }
    }
}

void ReportList::nameCheckBox(QTreeWidgetItem* item) {
    QStringList words;
    for (const int column : m_checkNameColumns)
        if (!item->text(column).isEmpty())
            words << item->text(column);
    if (!words.isEmpty())
        item->setData(0, Qt::AccessibleTextRole, words.join(QLatin1Char(' ')));
}

ListRows ReportList::rows() const {
    ListRows rows;
    for (int r = 0; r < topLevelItemCount(); ++r) {
        const QTreeWidgetItem* item = topLevelItem(r);
        std::vector<std::string> row;
        for (int c = 0; c < columnCount(); ++c)
            row.push_back(stdText(item->text(c)));
        if (m_checkable && !row.empty())
            row[0] = item->checkState(0) == Qt::Checked ? "1" : "";
        rows.push_back(std::move(row));
    }
    return rows;
}

int ReportList::selectedRow() const {
    const auto selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.front());
}

void ReportList::selectRow(int row) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        setCurrentItem(item);
        item->setSelected(true);
    } else {
        clearSelection();
    }
}

std::string ReportList::cell(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr ? stdText(item->text(column)) : std::string();
}

void ReportList::setCell(int row, int column, const std::string& text) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        item->setText(column, qtText(text));
        if (m_checkable)
            nameCheckBox(item);
    }
}

void ReportList::setRowToolTip(int row, const QString& text) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        for (int column = 0; column < columnCount(); ++column)
            item->setToolTip(column, text);
    }
}

bool ReportList::isChecked(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr && item->checkState(0) == Qt::Checked;
}

void ReportList::setChecked(int row, bool checked) {
    if (QTreeWidgetItem* item = topLevelItem(row))
        item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void ReportList::setStateColours(int column, std::map<std::string, QColor> colours) {
    m_colours[column] = std::move(colours);
    viewport()->update();
}

QColor ReportList::stateColour(int column, const QString& word) const {
    const auto columnColours = m_colours.find(column);
    if (columnColours == m_colours.end())
        return {};
    const auto colour = columnColours->second.find(stdText(word));
    return colour != columnColours->second.end() ? colour->second : QColor();
}

StateMarkDelegate::StateMarkDelegate(ReportList* list) : QStyledItemDelegate(list), m_list(list) {}

namespace {
constexpr int kMarkSize = 10;
constexpr int kMarkGap = 6;
} // namespace

void StateMarkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QColor colour = m_list->stateColour(index.column(), index.data(Qt::DisplayRole).toString());
    if (!colour.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell's background (and selection) first, then the mark, then the word beside it.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    QStyle* style = background.widget != nullptr ? background.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, background.widget);

    const QRect mark(option.rect.left() + 4, option.rect.center().y() - kMarkSize / 2, kMarkSize, kMarkSize);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(colour.darker(150), 1));
    painter->setBrush(colour);
    painter->drawEllipse(mark);
    painter->restore();

    QStyleOptionViewItem word = option;
    initStyleOption(&word, index);
    word.rect.setLeft(mark.right() + kMarkGap);
    word.state &= ~QStyle::State_HasFocus;
    style->drawControl(QStyle::CE_ItemViewItem, &word, painter, word.widget);
}

QSize StateMarkDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (m_list->stateColour(index.column(), index.data(Qt::DisplayRole).toString()).isValid())
        size.rwidth() += kMarkSize + kMarkGap;
    return size;
}

bool StateMarkDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) {
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    QString tip;
    if (!text.isEmpty() && sizeHint(option, index).width() > view->visualRect(index).width())
        tip = text;
    const QString row = index.data(Qt::ToolTipRole).toString();
    if (!row.isEmpty())
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n\n")) + row;
    if (!tip.isEmpty()) {
        QToolTip::showText(event->globalPos(), tip, view);
        return true;
    }
    QToolTip::hideText();
    return true;
}

} // namespace zrq406
