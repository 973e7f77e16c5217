#include "setValueDialogBox.h"

#include "productInfo.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace lumivarui {

namespace {

constexpr int kValueFieldMinWidth = 280;

QString text(const std::string &s) { return QString::fromStdString(s); }

} // namespace

SetValueDialogBox::SetValueDialogBox(lumivar::SetValueDialog &record, QWidget *parent)
    : QDialog(parent), record_(record)
{
    setWindowTitle(text(record.title));
    for (const auto &e : record.entries)
        initial_.push_back(e.value);

    auto *column = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    action_ = new QLineEdit(text(record.actionName), this);
    action_->setReadOnly(true);
    names_ = new QComboBox(this);
    for (const auto &e : record.entries)
        names_->addItem(text(e.name));
    dataType_ = new QLineEdit(this);
    dataType_->setReadOnly(true);
    allowedPlace_ = new QStackedWidget(this);
    allowed_ = new QComboBox(allowedPlace_);
    range_ = new QLineEdit(allowedPlace_);
    range_->setReadOnly(true);
    allowedPlace_->addWidget(allowed_);
    allowedPlace_->addWidget(range_);
    allowedPlace_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    value_ = new QLineEdit(this);
    value_->setMinimumWidth(kValueFieldMinWidth);
    form->addRow(tr("Action:"), action_);
    form->addRow(tr("Name:"), names_);
    form->addRow(tr("Data Type:"), dataType_);
    form->addRow(tr("Allowed Values:"), allowedPlace_);
    form->addRow(tr("Value:"), value_);
    column->addLayout(form);

    auto *buttons = new QHBoxLayout;
    auto *ok = new QPushButton(tr("&OK"), this);
    auto *cancel = new QPushButton(tr("&Cancel"), this);
    ok->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    column->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &SetValueDialogBox::accept);
    connect(cancel, &QPushButton::clicked, this, &SetValueDialogBox::reject);

    // Picking an allowed value puts it into "Value:".
    connect(allowed_, &QComboBox::activated, this, [this](int i) {
        if (!value_->isReadOnly())
            value_->setText(allowed_->itemText(i));
    });
    int shown = record.selected >= 0 && record.selected < static_cast<int>(record.entries.size()) ? record.selected : 0;
    record_.selected = shown;
    names_->setCurrentIndex(shown);
    showEntry(shown);
    connect(names_, &QComboBox::currentIndexChanged, this, &SetValueDialogBox::nameChosen);
    value_->setFocus();
}

void SetValueDialogBox::showEntry(int index)
{
    if (index < 0 || index >= static_cast<int>(record_.entries.size())) {
        value_->clear();
        value_->setReadOnly(true);
        return;
    }
    const auto &entry = record_.entries[static_cast<size_t>(index)];
    dataType_->setText(text(entry.dataType));
    allowed_->clear();
    range_->clear();
    if (!entry.allowedValues.empty()) {
        for (const auto &v : entry.allowedValues)
            allowed_->addItem(text(v));
        int current = allowed_->findText(text(entry.value));
        allowed_->setCurrentIndex(current);
        allowedPlace_->setCurrentWidget(allowed_);
    } else {
        std::vector<std::string> shown = lumivar::allowedValuesShown(entry);
        range_->setText(shown.empty() ? QString() : text(shown.front()));
        allowedPlace_->setCurrentWidget(range_);
    }
    allowed_->setEnabled(entry.editable);
    value_->setText(text(entry.value));
    value_->setReadOnly(!entry.editable);
}

void SetValueDialogBox::nameChosen(int index)
{
    lumivar::selectEntry(record_, index, value_->text().toStdString());
    showEntry(record_.selected);
}

int SetValueDialogBox::refusedEntry(QString &message) const
{
    for (size_t i = 0; i < record_.entries.size(); ++i) {
        const auto &entry = record_.entries[i];
        // Values the user left as they were are the device's business.
        if (!entry.editable || entry.value == initial_[i])
            continue;
        if (std::optional<std::string> refusal = lumivar::checkValue(entry, entry.value)) {
            message = text(*refusal);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void SetValueDialogBox::accept()
{
    lumivar::selectEntry(record_, record_.selected, value_->text().toStdString());
    QString message;
    int refused = refusedEntry(message);
    if (refused >= 0) {
        names_->setCurrentIndex(refused);
        QMessageBox::warning(this, QString::fromLatin1(kMainWindowTitle), message);
        value_->setFocus();
        value_->selectAll();
        return;
    }
    QDialog::accept();
}

} // namespace lumivarui
