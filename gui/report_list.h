#pragma once

#include "registry/list_rows.h"

#include <QColor>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <map>
#include <string>
#include <vector>

namespace zrq406 {

// The report lists of both programs: rows of column texts, one selected row at a time. Columns that show a state
// word (link quality, LED) can carry a coloured mark beside the word; the word stays the item's text, so screen
// readers and tests read exactly what the device tables hold.
class ReportList : public QTreeWidget {
    Q_OBJECT
public:
    explicit ReportList(QWidget* parent = nullptr);

    // Replaces every row; a check box in column 0 when the list is checkable.
    void setRows(const ListRows& rows);
    // The rows as the user sees them now (check box columns read "1" when checked, else "").
    ListRows rows() const;
    // The index of the selected row, or -1.
    int selectedRow() const;
    void selectRow(int row);
    std::string cell(int row, int column) const;
    void setCell(int row, int column, const std::string& text);

    // A tool tip for the whole row (every column), shown after any cut-off text of the cell; "" for none.
    void setRowToolTip(int row, const QString& text);

    // Rows get a check box in column 0.
    void setCheckable(bool checkable) { m_checkable = checkable; }
    // Each row's check box is named after the texts of these columns (the device it stands for), so that a screen
    // reader tells which one it reads out or ticks.
    void setCheckNameColumns(std::vector<int> columns) { m_checkNameColumns = std::move(columns); }
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);

    // Marks the words of `column` with the colour given for each word; other words get no mark.
    void setStateColours(int column, std::map<std::string, QColor> colours);
    // The colour of a state word in a column (invalid when it has none).
    QColor stateColour(int column, const QString& word) const;

private:
    void nameCheckBox(QTreeWidgetItem* item);

    bool m_checkable = false;
    std::vector<int> m_checkNameColumns;
    std::map<int, std::map<std::string, QColor>> m_colours;
};

// Draws the coloured mark of a ReportList's state columns before the word, and shows cut-off texts whole.
class StateMarkDelegate : public QStyledItemDelegate {
public:
    explicit StateMarkDelegate(ReportList* list);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // A text cut off by its column is shown whole as the cell's tool tip, followed by the row's own tool tip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    ReportList* m_list;
};

} // namespace zrq406
