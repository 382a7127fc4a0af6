#include "gui/report_list_accessible.h"

#include "gui/report_list.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QPointer>
#include <mutex>
#include <utility>

namespace zrq406 {

namespace {

QAccessibleInterface* interfaceOf(ReportList* list) {
    return list != nullptr ? QAccessible::queryAccessibleInterface(list) : nullptr;
}

// An interface with no children and no object of its own, in its parent's window.
class Leaf : public QAccessibleInterface {
public:
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return parent() != nullptr ? parent()->window() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

// A column header of the list.
class HeaderCell : public Leaf {
public:
    HeaderCell(ReportList* list, int column) : m_list(list), m_column(column) {}

    bool isValid() const override {
        return m_list != nullptr && m_column >= 0 && m_column < m_list->model()->columnCount();
    }
    QAccessibleInterface* parent() const override { return interfaceOf(m_list); }
    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        const QAbstractItemModel* model = m_list->model();
        if (t == QAccessible::Description)
            return model->headerData(m_column, Qt::Horizontal, Qt::AccessibleDescriptionRole).toString();
        if (t != QAccessible::Name)
            return {};
        const QString name = model->headerData(m_column, Qt::Horizontal, Qt::AccessibleTextRole).toString();
        return name.isEmpty() ? model->headerData(m_column, Qt::Horizontal, Qt::DisplayRole).toString() : name;
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QHeaderView* header = m_list->header();
        const QPoint origin = header->mapToGlobal(QPoint(header->sectionViewportPosition(m_column), 0));
        return {origin, QSize(header->sectionSize(m_column), header->height())};
    }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (isValid()) {
            const QHeaderView* header = m_list->header();
            state.invisible = !header->isVisible() || header->isSectionHidden(m_column);
            state.disabled = !header->isEnabled();
        }
        return state;
    }

    ReportList* list() const { return m_list; }
    int column() const { return m_column; }

private:
    QPointer<ReportList> m_list;
    int m_column;
};

// A cell of a row. The cell of a row's check box is checkable, and its toggle action ticks or unticks it; the
// toggle action of any other cell selects or unselects its row, as with every item view.
class Cell : public Leaf, public QAccessibleTableCellInterface, public QAccessibleActionInterface {
public:
    Cell(ReportList* list, const QModelIndex& index) : m_list(list), m_index(index) {}

    bool isValid() const override { return m_list != nullptr && m_index.isValid(); }
    QAccessibleInterface* parent() const override { return table(); }
    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (t == QAccessible::Description)
            return m_index.data(Qt::AccessibleDescriptionRole).toString();
        if (t != QAccessible::Name)
            return {};
        const QString name = m_index.data(Qt::AccessibleTextRole).toString();
        return name.isEmpty() ? m_index.data(Qt::DisplayRole).toString() : name;
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect local = m_list->visualRect(m_index);
        return local.isNull() ? QRect() : QRect(m_list->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::TreeItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid())
            return state;
        const QRect shown(m_list->mapToGlobal(QPoint(0, 0)), m_list->size());
        state.invisible = !shown.intersects(rect());
        state.disabled = !enabled();
        const QItemSelectionModel* selection = m_list->selectionModel();
        state.selected = selection->isSelected(m_index);
        state.focused = selection->currentIndex() == m_index;
        if (isTick()) {
            state.checkable = true;
            state.checked = checked();
        }
        if (m_index.flags().testFlag(Qt::ItemIsSelectable)) {
            state.selectable = true;
            state.focusable = true;
        }
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override { return isValid() && m_list->selectionModel()->isSelected(m_index); }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        QAccessibleInterface* header = table() != nullptr ? table()->child(m_index.column()) : nullptr;
        return header != nullptr ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_index.column(); }
    int rowIndex() const override { return m_index.row(); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return interfaceOf(m_list); }

    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString& name) override {
        if (name != toggleAction() || !isValid())
            return;
        if (isTick()) {
            // As a click on the box, which a locked list does not take.
            if (enabled())
                m_list->model()->setData(m_index, checked() ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            return;
        }
        QAccessibleTableInterface* rows = table()->tableInterface();
        if (isSelected())
            rows->unselectRow(m_index.row());
        else
            rows->selectRow(m_index.row());
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    ReportList* list() const { return m_list; }
    const QPersistentModelIndex& index() const { return m_index; }

private:
    bool isTick() const {
        return m_index.flags().testFlag(Qt::ItemIsUserCheckable) && m_index.data(Qt::CheckStateRole).isValid();
    }
    bool checked() const { return m_index.data(Qt::CheckStateRole).toInt() == Qt::Checked; }
    bool enabled() const { return m_list->isEnabled() && m_index.flags().testFlag(Qt::ItemIsEnabled); }

    QPointer<ReportList> m_list;
    QPersistentModelIndex m_index;
};

QAccessibleInterface* reportListFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(ReportList::staticMetaObject.className()))
        return nullptr;
    auto* list = qobject_cast<ReportList*>(object);
    return list != nullptr ? new ReportListAccessible(list) : nullptr;
}

} // namespace

ReportListAccessible::ReportListAccessible(ReportList* list) : QAccessibleWidget(list, QAccessible::Tree) {}

ReportListAccessible::~ReportListAccessible() {
    forgetChildren();
}

void ReportListAccessible::install() {
    static std::once_flag installed;
    std::call_once(installed, [] { QAccessible::installFactory(reportListFactory); });
}

ReportList* ReportListAccessible::list() const {
    return static_cast<ReportList*>(widget());
}

void* ReportListAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

int ReportListAccessible::childCount() const {
    return (rowCount() + 1) * columnCount();
}

int ReportListAccessible::childIndex(int row, int column) const {
    return (row + 1) * columnCount() + column;
}

QAccessibleInterface* ReportListAccessible::child(int index) const {
    const int columns = columnCount();
    if (index < 0 || index >= childCount())
        return nullptr;
    if (const auto known = m_children.find(index); known != m_children.end()) {
        QAccessibleInterface* made = QAccessible::accessibleInterface(known.value());
        if (made != nullptr && made->isValid() && indexOfChild(made) == index)
            return made;
        if (made != nullptr)
            QAccessible::deleteAccessibleInterface(known.value());
        m_children.erase(known);
    }
    QAccessibleInterface* made = nullptr;
    if (index < columns)
        made = new HeaderCell(list(), index);
    else
        made = new Cell(list(), list()->model()->index(index / columns - 1, index % columns));
    m_children.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int ReportListAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (const auto* cell = dynamic_cast<const Cell*>(child); cell != nullptr && cell->list() == list())
        return cell->isValid() ? childIndex(cell->index().row(), cell->index().column()) : -1;
    if (const auto* header = dynamic_cast<const HeaderCell*>(child); header != nullptr && header->list() == list())
        return header->isValid() ? header->column() : -1;
    return -1;
}

QAccessibleInterface* ReportListAccessible::childAt(int x, int y) const {
    const QModelIndex index = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(childIndex(index.row(), index.column())) : nullptr;
}

QAccessibleInterface* ReportListAccessible::focusChild() const {
    const QModelIndex current = list()->currentIndex();
    if (list()->hasFocus() && current.isValid())
        return child(childIndex(current.row(), current.column()));
    return QAccessibleWidget::focusChild();
}

QAccessibleInterface* ReportListAccessible::cellAt(int row, int column) const {
    const QModelIndex index = list()->model()->index(row, column);
    return index.isValid() ? child(childIndex(row, column)) : nullptr;
}

int ReportListAccessible::selectedCellCount() const {
    return static_cast<int>(list()->selectionModel()->selectedIndexes().size());
}

QList<QAccessibleInterface*> ReportListAccessible::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    for (const QModelIndex& index : list()->selectionModel()->selectedIndexes())
        if (QAccessibleInterface* cell = child(childIndex(index.row(), index.column())))
            cells.append(cell);
    return cells;
}

QString ReportListAccessible::columnDescription(int column) const {
    return list()->model()->headerData(column, Qt::Horizontal).toString();
}

int ReportListAccessible::selectedColumnCount() const {
    return static_cast<int>(selectedColumns().size());
}

int ReportListAccessible::selectedRowCount() const {
    return static_cast<int>(selectedRows().size());
}

int ReportListAccessible::columnCount() const {
    return list()->model()->columnCount();
}

int ReportListAccessible::rowCount() const {
    return list()->model()->rowCount();
}

QList<int> ReportListAccessible::selectedColumns() const {
    QList<int> columns;
    for (const QModelIndex& index : list()->selectionModel()->selectedColumns())
        columns.append(index.column());
    return columns;
}

QList<int> ReportListAccessible::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : list()->selectionModel()->selectedRows())
        rows.append(index.row());
    return rows;
}

bool ReportListAccessible::isColumnSelected(int column) const {
    return list()->selectionModel()->isColumnSelected(column, QModelIndex());
}

bool ReportListAccessible::isRowSelected(int row) const {
    return list()->selectionModel()->isRowSelected(row, QModelIndex());
}

bool ReportListAccessible::selectRow(int row) {
    const QModelIndex index = list()->model()->index(row, 0);
    if (!index.isValid() || list()->selectionMode() == QAbstractItemView::NoSelection)
        return false;
    if (list()->selectionMode() == QAbstractItemView::SingleSelection)
        list()->clearSelection();
    list()->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    return true;
}

bool ReportListAccessible::unselectRow(int row) {
    const QModelIndex index = list()->model()->index(row, 0);
    // A user cannot leave a single-selection list with nothing selected either.
    if (!index.isValid() || (list()->selectionMode() == QAbstractItemView::SingleSelection && selectedRowCount() == 1))
        return false;
    list()->selectionModel()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void ReportListAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
    // Rows that come or go move every cell after them: the cells are made again when next asked for.
    if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged)
        forgetChildren();
}

void ReportListAccessible::forgetChildren() {
    for (const QAccessible::Id id : std::as_const(m_children))
        QAccessible::deleteAccessibleInterface(id);
    m_children.clear();
}

} // namespace zrq406
