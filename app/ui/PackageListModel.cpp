#include "app/ui/PackageListModel.h"

#include <utility>

PackageListModel::PackageListModel(QObject* parent) : QAbstractTableModel(parent) {}

void PackageListModel::SetStatePictures(const std::array<QPixmap, 4>& pictures) {
    statePictures_ = pictures;
    if (!rows_.empty())
        emit dataChanged(index(0, ColumnCaption), index(rowCount() - 1, ColumnCaption),
                         {Qt::DecorationRole});
}

void PackageListModel::SetRows(PackageRows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void PackageListModel::ModifyRows(const std::function<void(PackageRows&)>& change) {
    beginResetModel();
    change(rows_);
    endResetModel();
}

void PackageListModel::SetState(int row, int state) {
    if (!IsRow(row))
        return;
    rows_[static_cast<std::size_t>(row)].State = state;
    const QModelIndex cell = index(row, ColumnCaption);
    emit dataChanged(cell, cell, {Qt::DecorationRole});
}

void PackageListModel::SetMarked(int row, bool marked) {
    if (!IsRow(row))
        return;
    rows_[static_cast<std::size_t>(row)].Marked = marked;
    const QModelIndex cell = index(row, ColumnCaption);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int PackageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PackageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PackageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !IsRow(index.row()))
        return {};
    const PackageRow& row = rows_[static_cast<std::size_t>(index.row())];
    // The view cuts a long text with "…"; its tooltip shows all of it.
    if (index.column() == ColumnVersion)
        return role == Qt::DisplayRole || role == Qt::ToolTipRole
                   ? QVariant(QString::fromUtf8(row.Version))
                   : QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return QString::fromUtf8(row.Caption);
    case Qt::CheckStateRole:
        return row.Marked ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole: {
        // A saved list is a text file anyone can edit; a state outside 0 to 3
        // shows no picture rather than reading past the four.
        if (row.State < 0 || row.State > 3)
            return {};
        const QPixmap& picture = statePictures_[static_cast<std::size_t>(row.State)];
        return picture.isNull() ? QVariant() : QVariant(picture);
    }
    default:
        return {};
    }
}

bool PackageListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !IsRow(index.row()) || index.column() != ColumnCaption ||
        role != Qt::CheckStateRole)
        return false;
    const bool marked = value.toInt() == Qt::Checked;
    rows_[static_cast<std::size_t>(index.row())].Marked = marked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags PackageListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == ColumnCaption)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant PackageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section == ColumnCaption)
        return QStringLiteral("Название");
    if (section == ColumnVersion)
        return QStringLiteral("Версия");
    return {};
}
