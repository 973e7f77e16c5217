#include "aboutDialog.h"

#include "nodeIcons.h"
#include "productInfo.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace lumivarui {

namespace {

constexpr int kIconSize = 48;

} // namespace

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About %1").arg(QString::fromLatin1(kProductName)));
    auto *row = new QHBoxLayout(this);
    auto *icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(kIconSize, kIconSize));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);

    auto *texts = new QVBoxLayout;
    auto *name = new QLabel(QString::fromLatin1(kProductName), this);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    auto *version = new QLabel(QString::fromLatin1(kProductVersion) + QString::fromStdString(buildStamp(__DATE__)),
                               this);
    version->setObjectName(QStringLiteral("version"));
    auto *link = new QPushButton(QString::fromLatin1(kCompanyName), this);
    link->setObjectName(QStringLiteral("homeLink"));
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(QString::fromLatin1(kHomePageUrl));
    QFont underlined = link->font();
    underlined.setUnderline(true);
    link->setFont(underlined);
    link->setAutoDefault(false);
    connect(link, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePageUrl))); });
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(link, 0, Qt::AlignLeft);
    texts->addStretch(1);
    row->addLayout(texts, 1);

    auto *ok = new QPushButton(tr("&OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    row->addWidget(ok, 0, Qt::AlignTop);
}

} // namespace lumivarui
