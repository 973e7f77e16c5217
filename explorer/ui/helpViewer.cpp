#include "helpViewer.h"

#include "nodeIcons.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace lumivarui {

namespace {

constexpr int kHelpWidth = 720;
constexpr int kHelpHeight = 560;

} // namespace

QString helpDirectory()
{
    const QString app = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        app + QStringLiteral("/../share/lumivar/help"),
        app + QStringLiteral("/help"),
#ifdef LUMIVAR_SOURCE_HELP_DIR
        QStringLiteral(LUMIVAR_SOURCE_HELP_DIR),
#endif
    };
    for (const QString &dir : candidates)
        if (QFileInfo::exists(dir + QLatin1Char('/') + QLatin1String(kHelpContentsPage)))
            return QDir::cleanPath(dir);
    return {};
}

HelpViewer::HelpViewer(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("Lumiscope Help"));
    setWindowIcon(programIcon());
    resize(kHelpWidth, kHelpHeight);
    auto *column = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    auto *back = new QPushButton(tr("&Back"), this);
    auto *forward = new QPushButton(tr("&Forward"), this);
    auto *contents = new QPushButton(tr("&Contents"), this);
    auto *index = new QPushButton(tr("&Index"), this);
    bar->addWidget(back);
    bar->addWidget(forward);
    bar->addWidget(contents);
    bar->addWidget(index);
    bar->addStretch(1);
    column->addLayout(bar);
    browser_ = new QTextBrowser(this);
    browser_->setOpenLinks(false);
    column->addWidget(browser_, 1);

    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(contents, &QPushButton::clicked, this, [this] { showPage(QLatin1String(kHelpContentsPage)); });
    connect(index, &QPushButton::clicked, this, [this] { showPage(QLatin1String(kHelpIndexPage)); });
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl &link) {
        QUrl target = browser_->source().resolved(link);
        if (target.isLocalFile())
            browser_->setSource(target);
        else
            QDesktopServices::openUrl(target);
    });
    back->setEnabled(false);
    forward->setEnabled(false);
}

bool HelpViewer::showPage(const QString &page)
{
    QString dir = helpDirectory();
    if (dir.isEmpty())
        return false;
    QString path = dir + QLatin1Char('/') + page;
    if (!QFileInfo::exists(path))
        return false;
    browser_->setSource(QUrl::fromLocalFile(path));
    return true;
}

QString HelpViewer::currentPage() const { return browser_->source().fileName(); }

} // namespace lumivarui
