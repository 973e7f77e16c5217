// An XML window: the document at one URL (a description, an SCPD, a
// device's web page). Descriptions and SCPDs are shown indented and
// highlighted in a read-only view, HTML as a page; "Open in Browser" hands
// the URL to the system's web browser.
//
// Fetching never blocks the window thread: HTTP goes through the shared
// QNetworkAccessManager, a "file://" document (a loaded description) is
// read from disk. Failures are shown in the window itself.
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QWidget>

class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QPlainTextEdit;
class QStackedWidget;
class QTextBrowser;

namespace lumivarui {

// A document larger than this is cut off: descriptions are a few
// kilobytes, and a device that streams endlessly must not fill the memory.
inline constexpr qint64 kXmlWindowMaxBytes = 8 * 1024 * 1024;
// A device that accepts the connection and never answers.
inline constexpr int kXmlFetchTimeoutMs = 15000;

class XmlWindow : public QWidget {
    Q_OBJECT
public:
    XmlWindow(QNetworkAccessManager &network, QWidget *parent = nullptr);
    ~XmlWindow() override;

    // Shows the document at url, fetched anew.
    void navigate(const QString &url);
    [[nodiscard]] QString url() const { return url_; }
    // What the view shows now (the indented XML, the page's text, or the
    // failure), for copying and for tests.
    [[nodiscard]] QString shownText() const;
    [[nodiscard]] bool showsPage() const;

signals:
    // The document arrived (ok) or could not be fetched.
    void loaded(bool ok);

private:
    void showDocument(const QByteArray &body, const QString &contentType);
    void showFailure(const QString &why);
    void fetchFinished();
    void openInBrowser();

    QNetworkAccessManager &network_;
    QString url_;
    QPointer<QNetworkReply> reply_;
    QLabel *status_;
    QStackedWidget *pages_;
    QPlainTextEdit *source_;
    QTextBrowser *page_;
};

// The local path of a "file://" location as the model writes it ("file://"
// followed by the path as chosen), or "" when url is not one.
[[nodiscard]] QString localPathOf(const QString &url);

} // namespace lumivarui
