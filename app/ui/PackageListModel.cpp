#include "app/ui/PackageListModel.h"

#include <utility>

TPackageListModel::TPackageListModel(QObject* parent) : QAbstractTableModel(parent) {}

void TPackageListModel::SetStatePictures(const std::array<QPixmap, 4>& pictures) {
    statePictures_ = pictures;
    if (!rows_.empty())
        emit dataChanged(index(0, ColumnCaption), index(rowCount() - 1, ColumnCaption),
                         {Qt::DecorationRole});
}

std::string TPackageListModel::MarkKey(const TPackageRow& row) {
    std::string key;
    const std::string_view architecture = row.Architecture.View();
    key.reserve(row.IndexFile().size() + row.Package().size() + row.Version().size() +
                architecture.size() + 3);
    for (const std::string_view part : {row.IndexFile(), row.Package(), row.Version()}) {
        key.append(part);
        key.push_back('\0');
    }
    key.append(architecture);
    return key;
}

void TPackageListModel::Remember(const TPackageRow& row) {
    const std::string key = MarkKey(row);
    if (row.Marked) {
        if (marks_.insert(key).second)
            markedPackages_.emplace(row.Package());
    } else if (marks_.erase(key) != 0) {
        markedPackages_.erase(markedPackages_.find(std::string(row.Package())));
    }
    emit marksChanged();
}

void TPackageListModel::SetRows(TPackageRows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    // Most loads come without marks and cost nothing here; with marks, a row
    // is looked at closer only when its identifier is marked somewhere.
    if (!marks_.empty())
        for (TPackageRow& row : rows_)
            row.Marked = markedPackages_.count(std::string(row.Package())) != 0 &&
                         marks_.count(MarkKey(row)) != 0;
    endResetModel();
}

void TPackageListModel::ClearMarks() {
    marks_.clear();
    markedPackages_.clear();
    for (TPackageRow& row : rows_)
        row.Marked = false;
    if (!rows_.empty())
        emit dataChanged(index(0, ColumnCaption), index(rowCount() - 1, ColumnCaption),
                         {Qt::CheckStateRole});
    emit marksChanged();
}

void TPackageListModel::KeepShownMarks() {
    if (marks_.empty())
        return;
    marks_.clear();
    markedPackages_.clear();
    for (const TPackageRow& row : rows_)
        if (row.Marked && marks_.insert(MarkKey(row)).second)
            markedPackages_.emplace(row.Package());
    emit marksChanged();
}

void TPackageListModel::ModifyRows(const std::function<void(TPackageRows&)>& change) {
    beginResetModel();
    change(rows_);
    endResetModel();
}

void TPackageListModel::SetState(int row, int state) {
    if (!IsRow(row))
        return;
    rows_[static_cast<std::size_t>(row)].State = state;
    const QModelIndex cell = index(row, ColumnCaption);
    emit dataChanged(cell, cell, {Qt::DecorationRole});
}

void TPackageListModel::SetMarked(int row, bool marked) {
    if (!IsRow(row))
        return;
    rows_[static_cast<std::size_t>(row)].Marked = marked;
    Remember(rows_[static_cast<std::size_t>(row)]);
    const QModelIndex cell = index(row, ColumnCaption);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int TPackageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TPackageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TPackageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !IsRow(index.row()))
        return {};
    const TPackageRow& row = rows_[static_cast<std::size_t>(index.row())];
    // The view cuts a long text with "…"; its tooltip shows all of it. The
    // two fixed columns leave no room for the architecture: the tooltip tells
    // the builds of one package apart.
    const auto tip = [&row](std::string_view text) {
        QString tip = QString::fromUtf8(text);
        const std::string_view architecture = row.Architecture.View();
        if (!architecture.empty())
            tip += QStringLiteral(" (") +
                   QString::fromUtf8(architecture.data(),
                                     static_cast<qsizetype>(architecture.size())) +
                   QLatin1Char(')');
        return tip;
    };
    if (index.column() == ColumnVersion) {
        if (role == Qt::DisplayRole)
            return QString::fromUtf8(row.Version());
        return role == Qt::ToolTipRole ? QVariant(tip(row.Version())) : QVariant();
    }
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(row.Caption());
    case Qt::ToolTipRole:
        return tip(row.Caption());
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

bool TPackageListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !IsRow(index.row()) || index.column() != ColumnCaption ||
        role != Qt::CheckStateRole)
        return false;
    const bool marked = value.toInt() == Qt::Checked;
    rows_[static_cast<std::size_t>(index.row())].Marked = marked;
    Remember(rows_[static_cast<std::size_t>(index.row())]);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags TPackageListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == ColumnCaption)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TPackageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section == ColumnCaption)
        return QStringLiteral("Название");
    if (section == ColumnVersion)
        return QStringLiteral("Версия");
    return {};
}
