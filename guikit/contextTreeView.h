// A tree view whose context menu behaves as desktop users expect: the right
// button first selects the item under the pointer, and the context-menu key
// or Shift+F10 opens the menu at the selected item rather than wherever the
// mouse happens to rest.
#pragma once

#include <QTreeView>

namespace guikit {

class ContextTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit ContextTreeView(QWidget *parent = nullptr);

signals:
    // The current item is the one the menu is for (none: the empty area).
    void contextMenuWanted(const QPoint &globalPos);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void openAtCurrent();
};

} // namespace guikit
