// "About Corvanta Lumiscope": the product, its version and build date, and
// a link to the product home page.
#pragma once

#include <QDialog>

namespace lumivarui {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
};

} // namespace lumivarui
