#include "documentArea.h"

#include "documentFrame.h"
#include "listWindow.h"
#include "nodeIcons.h"
#include "xmlWindow.h"

#include <QTabBar>

namespace lumivarui {

DocumentArea::DocumentArea(QNetworkAccessManager &network, std::function<void(const QString &)> messageBox,
                           QWidget *parent)
    : QMdiArea(parent), network_(network), messageBox_(std::move(messageBox)), frameWatch_(std::make_unique<QObject>())
{
    setViewMode(QMdiArea::TabbedView);
    setDocumentMode(true);
    setTabsClosable(true);
    setTabsMovable(false); // the tab order is the window numbering
}

DocumentArea::~DocumentArea()
{
    // The frames are deleted after this object's members: they must not
    // report back into them.
    frameWatch_.reset();
}

DocumentFrame *DocumentArea::frameOf(int docId) const
{
    auto it = frames_.find(docId);
    return it != frames_.end() ? it->second : nullptr;
}

DocumentFrame *DocumentArea::ensureFrame(int docId)
{
    if (DocumentFrame *frame = frameOf(docId))
        return frame;
    const lumivar::WindowDoc *doc = registry_.window(docId);
    if (doc == nullptr)
        return nullptr;
    bool fixed = doc->kind != lumivar::WindowKind::XML;
    auto *frame = new DocumentFrame(docId, fixed, [this](int id) { return mayClose(id); });
    QWidget *view = nullptr;
    if (fixed) {
        auto *list = new ListWindow(frame);
        std::vector<RowsColumn> columns;
        for (const lumivar::ListColumn &c : lumivar::initialColumns(doc->title))
            columns.push_back({QString::fromUtf8(c.title), c.width});
        list->rows().reset(std::move(columns), std::vector<QStringList>{});
        view = list;
    } else {
        view = new XmlWindow(network_, frame);
    }
    frame->setWidget(view);
    frame->setWindowTitle(QString::fromStdString(doc->title));
    frame->setWindowIcon(fixed ? programIcon() : QIcon::fromTheme(QStringLiteral("text-xml"), programIcon()));
    addSubWindow(frame);
    frames_[docId] = frame;
    connect(frame, &QMdiSubWindow::windowStateChanged, frameWatch_.get(), [this](Qt::WindowStates, Qt::WindowStates now) {
        // After "&Cascade" or "&Tile", a maximised window means tabs again.
        if ((now & Qt::WindowMaximized) != 0 && viewMode() == QMdiArea::SubWindowView) {
            setViewMode(QMdiArea::TabbedView);
            hideFixedCloseButtons();
        }
    });
    connect(frame, &QObject::destroyed, frameWatch_.get(), [this, docId] {
        frames_.erase(docId);
        emit windowsChanged();
    });
    frame->show();
    hideFixedCloseButtons();
    emit windowsChanged();
    return frame;
}

// The tab bar offers a close button on every tab; the fixed windows would
// ignore it, so they get none.
void DocumentArea::hideFixedCloseButtons()
{
    auto *tabs = findChild<QTabBar *>(QString(), Qt::FindDirectChildrenOnly);
    if (tabs == nullptr)
        return;
    QList<QMdiSubWindow *> order = subWindowList(QMdiArea::CreationOrder);
    for (int i = 0; i < order.size() && i < tabs->count(); ++i) {
        auto *frame = qobject_cast<DocumentFrame *>(order[i]);
        if (frame == nullptr || !frame->fixed())
            continue;
        for (auto side : {QTabBar::LeftSide, QTabBar::RightSide})
            if (tabs->tabButton(i, side) != nullptr)
                tabs->setTabButton(i, side, nullptr);
    }
}

bool DocumentArea::mayClose(int docId)
{
    if (!registry_.closeWindow(docId))
        return false;
    // Numbers above the closed one moved down: the menu shows them anew.
    emit windowsChanged();
    return true;
}

ListWindow *DocumentArea::fixedWindow(std::optional<int> docId, const char *failure)
{
    DocumentFrame *frame = docId ? ensureFrame(*docId) : nullptr;
    auto *list = frame != nullptr ? qobject_cast<ListWindow *>(frame->widget()) : nullptr;
    if (list == nullptr && docId)
        messageBox_(QString::fromUtf8(failure));
    return list;
}

ListWindow *DocumentArea::informationWindow(bool create)
{
    std::optional<int> id = registry_.openInformationWindow(create);
    if (!id && create)
        messageBox_(QString::fromUtf8(lumivar::kInformationOpenFailed));
    return fixedWindow(id, lumivar::kInformationOpenFailed);
}

ListWindow *DocumentArea::eventWindow(bool create)
{
    std::optional<int> id = registry_.openEventWindow(create);
    if (!id && create)
        messageBox_(QString::fromUtf8(lumivar::kEventOpenFailed));
    return fixedWindow(id, lumivar::kEventOpenFailed);
}

void DocumentArea::showInformationWindow()
{
    if (std::optional<int> id = registry_.showInformationWindow())
        bringToFront(ensureFrame(*id));
    else
        messageBox_(QString::fromUtf8(lumivar::kInformationOpenFailed));
}

void DocumentArea::showEventWindow()
{
    if (std::optional<int> id = registry_.showEventWindow())
        bringToFront(ensureFrame(*id));
    else
        messageBox_(QString::fromUtf8(lumivar::kEventOpenFailed));
}

XmlWindow *DocumentArea::openUrl(const QString &url)
{
    std::optional<int> id = registry_.openUrlWindow(url.toStdString());
    DocumentFrame *frame = id ? ensureFrame(*id) : nullptr;
    auto *xml = frame != nullptr ? qobject_cast<XmlWindow *>(frame->widget()) : nullptr;
    if (xml == nullptr)
        return nullptr;
    xml->navigate(url);
    bringToFront(frame);
    return xml;
}

void DocumentArea::bringToFront(DocumentFrame *frame)
{
    if (frame == nullptr)
        return;
    // Tabs show the active window over the whole area.
    if (viewMode() == QMdiArea::TabbedView)
        frame->showMaximized();
    else
        frame->showNormal();
    setActiveSubWindow(frame);
    frame->raise();
}

bool DocumentArea::activeIsFixed() const
{
    auto *frame = qobject_cast<DocumentFrame *>(activeSubWindow());
    return frame == nullptr || frame->fixed();
}

void DocumentArea::closeAll()
{
    // Copy first: closing removes frames from the map.
    std::vector<DocumentFrame *> open;
    for (const auto &[id, frame] : frames_)
        open.push_back(frame);
    for (DocumentFrame *frame : open)
        frame->close();
}

std::vector<WindowEntry> DocumentArea::windows() const
{
    std::vector<WindowEntry> out;
    for (const lumivar::WindowDoc &doc : registry_.windows())
        if (DocumentFrame *frame = frameOf(doc.id))
            out.push_back({doc.number, QString::fromStdString(doc.title), frame});
    std::sort(out.begin(), out.end(), [](const WindowEntry &a, const WindowEntry &b) { return a.number < b.number; });
    return out;
}

} // namespace lumivarui
