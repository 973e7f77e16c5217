#include "windowPrompts.h"

#include "productInfo.h"
#include "setValueDialogBox.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

namespace lumivarui {

QString fileDialogFilter(const std::string &filterText)
{
    QString all = QString::fromStdString(filterText);
    qsizetype end = all.indexOf(QStringLiteral("||"));
    QStringList parts = (end >= 0 ? all.left(end) : all).split(QLatin1Char('|'));
    // Pairs of shown text and patterns; the shown text names its patterns.
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters.append(parts[i]);
    return filters.join(QStringLiteral(";;"));
}

WindowPrompts::WindowPrompts(QObject *parent) : QObject(parent) {}

void WindowPrompts::onWindowThread(const std::function<void()> &call)
{
    if (QThread::currentThread() == thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
}

void WindowPrompts::messageBox(const std::string &text)
{
    onWindowThread([&] {
        QMessageBox::warning(window_, QString::fromLatin1(kMainWindowTitle), QString::fromStdString(text));
    });
}

bool WindowPrompts::editValues(lumivar::SetValueDialog &dialog)
{
    bool accepted = false;
    onWindowThread([&] {
        SetValueDialogBox box(dialog, window_);
        accepted = box.exec() == QDialog::Accepted;
    });
    return accepted;
}

std::optional<std::string> WindowPrompts::chooseOpenFile(const std::string &filterText)
{
    QString path;
    onWindowThread([&] { path = QFileDialog::getOpenFileName(window_, QString(), QString(), fileDialogFilter(filterText)); });
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

} // namespace lumivarui
