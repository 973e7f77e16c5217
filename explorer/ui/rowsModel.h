// The list of an Information or Event window: titled columns with their
// initial widths, and rows of texts. Every operation replaces both.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <string>
#include <vector>

namespace lumivarui {

struct RowsColumn {
    QString title;
    int width; // pixels
};

class RowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces columns and rows; cells past a row's end read empty, and
    // cells past the last column are not shown.
    void reset(std::vector<RowsColumn> columns, std::vector<QStringList> rows);
    void reset(std::vector<RowsColumn> columns, const std::vector<std::vector<std::string>> &rows);

    [[nodiscard]] const std::vector<RowsColumn> &columns() const { return columns_; }
    // The cell's text, "" past the row's end.
    [[nodiscard]] QString cell(int row, int column) const;

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

signals:
    // Columns of other titles or widths came: a view applies their widths.
    void columnsReset();

private:
    std::vector<RowsColumn> columns_;
    std::vector<QStringList> rows_;
};

} // namespace lumivarui
