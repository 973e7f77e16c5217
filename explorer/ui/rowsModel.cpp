#include "rowsModel.h"

#include <algorithm>

namespace lumivarui {

void RowsModel::reset(std::vector<RowsColumn> columns, std::vector<QStringList> rows)
{
    bool sameColumns = columns.size() == columns_.size() &&
                       std::equal(columns.begin(), columns.end(), columns_.begin(),
                                  [](const RowsColumn &a, const RowsColumn &b) {
                                      return a.title == b.title && a.width == b.width;
                                  });
    beginResetModel();
    columns_ = std::move(columns);
    rows_ = std::move(rows);
    endResetModel();
    // The same layout again (the Event window refilled) keeps the widths
    // the user gave the columns.
    if (!sameColumns)
        emit columnsReset();
}

void RowsModel::reset(std::vector<RowsColumn> columns, const std::vector<std::vector<std::string>> &rows)
{
    std::vector<QStringList> texts;
    texts.reserve(rows.size());
    for (const auto &row : rows) {
        QStringList cells;
        for (const auto &c : row)
            cells.append(QString::fromStdString(c));
        texts.push_back(std::move(cells));
    }
    reset(std::move(columns), std::move(texts));
}

QString RowsModel::cell(int row, int column) const
{
    if (row < 0 || static_cast<size_t>(row) >= rows_.size())
        return {};
    const QStringList &cells = rows_[static_cast<size_t>(row)];
    return column >= 0 && column < cells.size() ? cells[column] : QString();
}

int RowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RowsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RowsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return cell(index.row(), index.column());
}

QVariant RowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        static_cast<size_t>(section) >= columns_.size())
        return {};
    return columns_[static_cast<size_t>(section)].title;
}

} // namespace lumivarui
