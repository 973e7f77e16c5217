#include "listWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>

#include <set>

namespace lumivarui {

ListWindow::ListWindow(QWidget *parent) : QTreeView(parent)
{
    setModel(&rows_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    connect(&rows_, &RowsModel::columnsReset, this, &ListWindow::applyWidths);
}

void ListWindow::applyWidths()
{
    const auto &columns = rows_.columns();
    for (size_t i = 0; i < columns.size(); ++i)
        setColumnWidth(static_cast<int>(i), columns[i].width);
}

QString ListWindow::selectedText() const
{
    std::set<int> picked;
    for (const QModelIndex &i : selectionModel()->selectedRows())
        picked.insert(i.row());
    if (picked.empty())
        for (int r = 0; r < rows_.rowCount(); ++r)
            picked.insert(r);
    QStringList lines;
    for (int r : picked) {
        QStringList cells;
        for (int c = 0; c < rows_.columnCount(); ++c)
            cells.append(rows_.cell(r, c));
        lines.append(cells.join(QLatin1Char('\t')));
    }
    return lines.join(QLatin1Char('\n'));
}

void ListWindow::copy() { QGuiApplication::clipboard()->setText(selectedText()); }

} // namespace lumivarui
