#include "barLayout.h"

#include <QByteArray>
#include <QMainWindow>
#include <QStatusBar>

namespace guikit {

namespace {

constexpr char kGeometryKey[] = "Geometry";
constexpr char kStateKey[] = "BarState";
constexpr char kStatusBarKey[] = "StatusBar";
constexpr char kVersionKey[] = "Version";

QString encode(const QByteArray &bytes) { return QString::fromLatin1(bytes.toBase64()); }

bool decode(const QString &text, QByteArray &out)
{
    auto result = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.isEmpty())
        return false;
    out = *result;
    return true;
}

} // namespace

QList<LayoutEntry> saveBarLayout(const QMainWindow &window, int version)
{
    const QStatusBar *status = window.findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly);
    // isHidden, not isVisible: the layout is saved while the window closes.
    bool statusShown = status != nullptr && !status->isHidden();
    return {
        {kVersionKey, QString::number(version)},
        {kGeometryKey, encode(window.saveGeometry())},
        {kStateKey, encode(window.saveState(version))},
        {kStatusBarKey, statusShown ? QStringLiteral("1") : QStringLiteral("0")},
    };
}

bool restoreBarLayout(QMainWindow &window, const std::function<QString(const QString &)> &lookup, int version)
{
    bool numberOk = false;
    int stored = lookup(kVersionKey).toInt(&numberOk);
    if (!numberOk || stored != version)
        return false;
    QByteArray geometry, state;
    if (!decode(lookup(kGeometryKey), geometry) || !decode(lookup(kStateKey), state))
        return false;
    if (!window.restoreState(state, version))
        return false;
    window.restoreGeometry(geometry);
    QString statusShown = lookup(kStatusBarKey);
    if (QStatusBar *status = window.findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly))
        status->setVisible(statusShown != QStringLiteral("0"));
    return true;
}

} // namespace guikit
