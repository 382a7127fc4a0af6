#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>

namespace zrq406 {

class ReportList;

// What screen readers and UI automation see of a ReportList. It is laid out as Qt lays out any tree view (a row
// of column headers, then one cell per row and column, in the same child order, so that the view's own focus and
// selection events name the right cell), with one difference: a row's check box is a checkable object whose
// toggle action ticks and unticks it as a click does. Qt's own cells only tell the tick, and their toggle action
// selects the row, which leaves a check box that no screen reader user can tick.
class ReportListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ReportListAccessible(ReportList* list);
    ~ReportListAccessible() override;
    ReportListAccessible(const ReportListAccessible&) = delete;
    ReportListAccessible& operator=(const ReportListAccessible&) = delete;

    // Makes every ReportList answer with this interface; the first list calls it before anything asks for one.
    static void install();

    void* interface_cast(QAccessible::InterfaceType type) override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override;
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override;
    QList<int> selectedRows() const override;
    bool isColumnSelected(int column) const override;
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    // Report lists select whole rows, never columns.
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    ReportList* list() const;
    // The child index of the cell at `row` and `column` (the header row comes first).
    int childIndex(int row, int column) const;
    void forgetChildren();

    // The children made so far, by child index; an entry whose cell has moved or gone is made again.
    mutable QHash<int, QAccessible::Id> m_children;
};

} // namespace zrq406
