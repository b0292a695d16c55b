#include "qt/update_list.h"

#include <QHeaderView>

TUpdateListModel::TUpdateListModel(std::vector<QIcon> images, QObject* parent)
    : QAbstractTableModel(parent), images_(std::move(images)) {}

void TUpdateListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int TUpdateListModel::AddRow(const QString& caption) {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back(Row{caption, {}, false, 0});
    endInsertRows();
    return row;
}

void TUpdateListModel::SetImage(int row, int image) {
    At(row).image = image;
    RowChanged(row, ProductColumn, ProductColumn, {Qt::DecorationRole});
}

void TUpdateListModel::SetStatus(int row, const QString& status) {
    At(row).status = status;
    RowChanged(row, StatusColumn, StatusColumn, {Qt::DisplayRole});
}

void TUpdateListModel::RowChanged(int row, Column first, Column last, const QList<int>& roles) {
    emit dataChanged(index(row, first), index(row, last), roles);
}

int TUpdateListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TUpdateListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TUpdateListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const Row& row = rows_.at(static_cast<size_t>(index.row()));
    // A text too long for its column is cut short on screen; its tool tip shows all of it.
    const bool text = role == Qt::DisplayRole || role == Qt::ToolTipRole;
    if (index.column() == StatusColumn) return text ? QVariant(row.status) : QVariant();
    if (text) return row.caption;
    switch (role) {
        case Qt::CheckStateRole:
            return row.checked ? Qt::Checked : Qt::Unchecked;
        case Qt::DecorationRole:
            return row.image >= 0 && static_cast<size_t>(row.image) < images_.size()
                       ? QVariant(images_[static_cast<size_t>(row.image)])
                       : QVariant();
        default:
            return {};
    }
}

bool TUpdateListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != ProductColumn || role != Qt::CheckStateRole) return false;
    if (!AllowsChange(index.row())) return false;
    At(index.row()).checked = value.value<Qt::CheckState>() != Qt::Unchecked;
    RowChanged(index.row(), ProductColumn, ProductColumn, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags TUpdateListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    const Qt::ItemFlags common = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == ProductColumn ? common | Qt::ItemIsUserCheckable : common;
}

QVariant TUpdateListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columnCount()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return headers_[static_cast<size_t>(section)];
}

bool TUpdateListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
    const bool caption = role == Qt::DisplayRole || role == Qt::EditRole;
    if (orientation != Qt::Horizontal || !caption || section < 0 || section >= columnCount()) {
        return false;
    }
    headers_[static_cast<size_t>(section)] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

TGuardedSelectionModel::TGuardedSelectionModel(TUpdateListModel* model) : QItemSelectionModel(model, model), list_(model) {}

void TGuardedSelectionModel::setCurrentIndex(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) {
    const int from = currentIndex().isValid() ? currentIndex().row() : -1;
    const int to = index.isValid() ? index.row() : -1;
    // The focus moves between two rows: both must be free to change.
    if (from != to && ((from >= 0 && !list_->AllowsChange(from)) || (to >= 0 && !list_->AllowsChange(to)))) return;
    QItemSelectionModel::setCurrentIndex(index, command);
}

void TGuardedSelectionModel::select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) {
    if (command & Clear) {
        // Clearing would also take the selection from refused rows: deselect only the others.
        QItemSelectionModel::select(AllowedPart(this->selection()), Deselect);
        command &= ~QItemSelectionModel::SelectionFlags(Clear);
    }
    QItemSelectionModel::select(AllowedPart(selection), command);
}

QItemSelection TGuardedSelectionModel::AllowedPart(const QItemSelection& selection) const {
    QItemSelection allowed;
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (!list_->AllowsChange(row)) continue;
            allowed.select(list_->index(row, range.left()), list_->index(row, range.right()));
        }
    }
    return allowed;
}

TQtListView::TQtListView(QTreeView* view, TUpdateListModel* model) : TQtWidgetControl(view), model_(model) {}

int TQtListView::AddRow(const std::string& caption) { return model_->AddRow(QString::fromStdString(caption)); }

void TQtListView::SetChecked(int row, bool checked) {
    model_->setData(model_->index(row, TUpdateListModel::ProductColumn), checked ? Qt::Checked : Qt::Unchecked,
                    Qt::CheckStateRole);
}

void TQtListView::SetStatus(int row, const std::string& status) {
    model_->SetStatus(row, QString::fromStdString(status));
}

QTreeView* CreateUpdateListView(TUpdateListModel* model, QWidget* parent) {
    auto* view = new QTreeView(parent);
    view->setModel(model);
    view->setSelectionModel(new TGuardedSelectionModel(model));
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setIconSize(QSize(DesignedRowImagePixels, DesignedRowImagePixels));
    QHeaderView* header = view->header();
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    for (int column = 0; column < model->columnCount(); ++column)
        header->resizeSection(column, DesignedListColumns[column].Width);
    return view;
}
