// The program's help: HTML pages written for Lumivar and installed beside
// it (share/lumivar/help), shown in a window of their own with back,
// forward and contents buttons. Links that leave the help open in the
// system's web browser.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace lumivarui {

inline constexpr char kHelpContentsPage[] = "index.html";
inline constexpr char kHelpIndexPage[] = "keywords.html";

// The folder holding the help pages: beside the installed program, beside
// the built one, or in the sources; "" when none holds them.
[[nodiscard]] QString helpDirectory();

class HelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit HelpViewer(QWidget *parent = nullptr);

    // Shows page (a file name of the help folder); false when it is missing.
    bool showPage(const QString &page);
    [[nodiscard]] QString currentPage() const;

private:
    QTextBrowser *browser_;
};

} // namespace lumivarui
