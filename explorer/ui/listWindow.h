// The view of the Information and Event windows: a report-style list with
// full-row selection. Ctrl+C copies the selected rows as tab-separated
// text, so results can be pasted into a bug report.
#pragma once

#include "rowsModel.h"

#include <QTreeView>

namespace lumivarui {

class ListWindow : public QTreeView {
    Q_OBJECT
public:
    explicit ListWindow(QWidget *parent = nullptr);

    [[nodiscard]] RowsModel &rows() { return rows_; }
    // The selected rows (all rows when none is selected), tab-separated.
    [[nodiscard]] QString selectedText() const;

public slots:
    void copy();

private:
    void applyWidths();

    RowsModel rows_;
};

} // namespace lumivarui
