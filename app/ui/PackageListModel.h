#pragma once

#include "catalogue/PackageRow.h"

#include <QAbstractTableModel>
#include <QPixmap>

#include <array>
#include <functional>
#include <string>
#include <unordered_set>

// The package list as the table shows it: one row per package, column 0 the
// caption with the mark check box and the state picture, column 1 the version.
// The rows live here and nowhere else, so the view never holds a widget per
// row and a hundred thousand packages cost only their texts.
class TPackageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn { ColumnCaption = 0, ColumnVersion = 1, ColumnCount = 2 };

    explicit TPackageListModel(QObject* parent = nullptr);

    // The four 16 x 16 state pictures, indexed by State (0 to 3).
    void SetStatePictures(const std::array<QPixmap, 4>& pictures);

    // Replaces the rows. The marks made on earlier rows come back on the rows
    // of the same stanza (index file, identifier, version and architecture),
    // so that marks survive a change of category or a search.
    void SetRows(TPackageRows rows);
    const TPackageRows& Rows() const { return rows_; }
    // Runs Change on the rows and tells the view that everything may differ.
    void ModifyRows(const std::function<void(TPackageRows&)>& change);
    void SetState(int row, int state);
    void SetMarked(int row, bool marked);
    // Forgets every mark, shown or not (the catalogue was built anew).
    void ClearMarks();
    // Keeps only the marks of the rows shown: after loading every row that is
    // listed, a mark without a row belongs to nothing the user can see.
    void KeepShownMarks();
    // The marks in all, shown or not.
    int MarkedCount() const { return static_cast<int>(marks_.size()); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void marksChanged();

private:
    bool IsRow(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }

    static std::string MarkKey(const TPackageRow& row);
    void Remember(const TPackageRow& row);

    TPackageRows rows_;
    std::array<QPixmap, 4> statePictures_;
    // The marked stanzas, and their identifiers for a quick first test.
    std::unordered_set<std::string> marks_;
    std::unordered_multiset<std::string> markedPackages_;
};
