#include "xmlWindow.h"

#include "xmlFormat.h"
#include "xmlHighlighter.h"

#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace lumivarui {

namespace {

constexpr char kFileScheme[] = "file://";
constexpr char kLocalHostPrefix[] = "localhost/";

bool darkPalette(const QWidget &w) { return w.palette().color(QPalette::Base).lightness() < 128; }

} // namespace

QString localPathOf(const QString &url)
{
    if (!url.startsWith(QLatin1String(kFileScheme), Qt::CaseInsensitive))
        return {};
    QString path = url.mid(static_cast<qsizetype>(sizeof kFileScheme - 1));
    if (path.startsWith(QLatin1String(kLocalHostPrefix), Qt::CaseInsensitive))
        path = path.mid(static_cast<qsizetype>(sizeof kLocalHostPrefix - 2)); // keep the '/'
    return path;
}

XmlWindow::XmlWindow(QNetworkAccessManager &network, QWidget *parent) : QWidget(parent), network_(network)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(4, 4, 4, 0);
    status_ = new QLabel(this);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *reload = new QPushButton(tr("&Reload"), this);
    auto *browser = new QPushButton(tr("Open in &Browser"), this);
    browser->setToolTip(tr("Open this address with the system's web browser"));
    bar->addWidget(status_, 1);
    bar->addWidget(reload);
    bar->addWidget(browser);
    column->addLayout(bar);

    pages_ = new QStackedWidget(this);
    source_ = new QPlainTextEdit(pages_);
    source_->setReadOnly(true);
    source_->setLineWrapMode(QPlainTextEdit::NoWrap);
    source_->setFont(QFont(QStringLiteral("monospace")));
    new XmlHighlighter(source_->document(), darkPalette(*source_));
    page_ = new QTextBrowser(pages_);
    // Links of a presentation page lead to the device's web server, which a
    // real browser shows better than a text view.
    page_->setOpenLinks(false);
    connect(page_, &QTextBrowser::anchorClicked, this,
            [this](const QUrl &link) { QDesktopServices::openUrl(QUrl(url_).resolved(link)); });
    pages_->addWidget(source_);
    pages_->addWidget(page_);
    column->addWidget(pages_, 1);

    connect(reload, &QPushButton::clicked, this, [this] { navigate(url_); });
    connect(browser, &QPushButton::clicked, this, &XmlWindow::openInBrowser);
}

XmlWindow::~XmlWindow()
{
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void XmlWindow::navigate(const QString &url)
{
    url_ = url;
    if (reply_) {
        QNetworkReply *old = reply_;
        reply_ = nullptr;
        old->abort();
    }
    status_->setText(url);
    QString local = localPathOf(url);
    if (!local.isEmpty()) {
        QFile file(local);
        if (!file.open(QIODevice::ReadOnly)) {
            showFailure(file.errorString());
            return;
        }
        showDocument(file.read(kXmlWindowMaxBytes), QString());
        return;
    }
    QUrl target(url);
    if (!target.isValid() || (target.scheme() != QLatin1String("http") && target.scheme() != QLatin1String("https"))) {
        showFailure(tr("not an address this window can show"));
        return;
    }
    QNetworkRequest request(target);
    request.setTransferTimeout(kXmlFetchTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    source_->setPlainText(tr("Loading %1 ...").arg(url));
    pages_->setCurrentWidget(source_);
    reply_ = network_.get(request);
    QNetworkReply *reply = reply_;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kXmlWindowMaxBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, &XmlWindow::fetchFinished);
}

void XmlWindow::fetchFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (reply == nullptr)
        return;
    reply->deleteLater();
    if (reply != reply_)
        return; // superseded by a later navigation
    reply_ = nullptr;
    QByteArray body = reply->readAll().left(kXmlWindowMaxBytes);
    if (reply->error() != QNetworkReply::NoError && body.isEmpty()) {
        showFailure(reply->errorString());
        return;
    }
    showDocument(body, reply->header(QNetworkRequest::ContentTypeHeader).toString());
}

void XmlWindow::showDocument(const QByteArray &body, const QString &contentType)
{
    QString text;
    QString error;
    switch (classifyDocument(body, contentType)) {
    case DocumentKind::HTML:
        page_->setHtml(documentText(body));
        pages_->setCurrentWidget(page_);
        break;
    case DocumentKind::XML:
        if (!indentXml(body, text, error))
            text = documentText(body);
        source_->setPlainText(text);
        pages_->setCurrentWidget(source_);
        break;
    case DocumentKind::TEXT:
        source_->setPlainText(documentText(body));
        pages_->setCurrentWidget(source_);
        break;
    }
    status_->setText(url_);
    emit loaded(true);
}

void XmlWindow::showFailure(const QString &why)
{
    source_->setPlainText(tr("%1 could not be shown: %2").arg(url_, why));
    pages_->setCurrentWidget(source_);
    emit loaded(false);
}

void XmlWindow::openInBrowser()
{
    QString local = localPathOf(url_);
    QDesktopServices::openUrl(local.isEmpty() ? QUrl(url_) : QUrl::fromLocalFile(local));
}

QString XmlWindow::shownText() const
{
    return pages_->currentWidget() == page_ ? page_->toPlainText() : source_->toPlainText();
}

bool XmlWindow::showsPage() const { return pages_->currentWidget() == page_; }

} // namespace lumivarui
