// F6 and Shift+F6 move the keyboard focus to the next and previous pane of
// a main window (the docked trees, the document area, the output pages),
// skipping panes that are hidden.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace guikit {

class PaneCycler : public QObject {
    Q_OBJECT
public:
    // panes is asked at every key press, in cycling order, so that panes
    // made later (document windows) take part.
    PaneCycler(QWidget *window, std::function<QList<QWidget *>()> panes);

    void next() { cycle(1); }
    void previous() { cycle(-1); }

private:
    void cycle(int step);

    std::function<QList<QWidget *>()> panes_;
};

} // namespace guikit
