#include "nodeIcons.h"

#include "deviceTree.h"

#include <QApplication>
#include <QStyle>

// The program's resources live in a static library, whose registration
// the linker would drop unless something calls it.
static void initResources() { Q_INIT_RESOURCE(lumivar); }

namespace lumivarui {

namespace {

QIcon themed(const char *name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

} // namespace

QIcon nodeIcon(int image, uint16_t kind)
{
    // Built once: the style is fixed for the process and the trees ask for
    // an icon every time an item is painted.
    static const QIcon folder = themed("folder", QStyle::SP_DirIcon);
    static const QIcon device = themed("network-server", QStyle::SP_ComputerIcon);
    static const QIcon argIn = themed("go-next", QStyle::SP_ArrowRight);
    static const QIcon argOut = themed("go-previous", QStyle::SP_ArrowLeft);
    static const QIcon service = themed("preferences-system", QStyle::SP_FileDialogDetailedView);
    static const QIcon action = themed("system-run", QStyle::SP_MediaPlay);
    static const QIcon item = themed("text-x-generic", QStyle::SP_FileIcon);
    switch (image) {
    case lumivar::NI_DEVICE:
        return device;
    case lumivar::NI_ARG_IN:
        return argIn;
    case lumivar::NI_ARG_OUT:
        return argOut;
    default:
        break;
    }
    // Kinds refine an image only where the File View's numbering, which
    // shares kinds with other meanings, cannot reach: actions are items,
    // services folders.
    if (image == lumivar::NI_ITEM)
        return kind == lumivar::NK_ACTION ? action : item;
    return kind == lumivar::NK_SERVICE ? service : folder;
}

QIcon programIcon()
{
    static const bool registered = (initResources(), true);
    (void)registered;
    static const QIcon icon(QStringLiteral(":/lumivar/lumivar.svg"));
    return icon;
}

} // namespace lumivarui
