// The "Set Value For Action Argument" / "Set Value For Variable" dialog
// over the model's SetValueDialog record: "Action:", "Name:", "Data Type:",
// "Allowed Values:" (the list to pick from, or the range in a field in the
// same place), "Value:", "&OK" and "&Cancel".
//
// The record goes in and comes back edited; the model's checkValue decides
// whether a value may be sent, and its message keeps the dialog open.
#pragma once

#include "setValueDialog.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QLineEdit;
class QStackedWidget;

namespace lumivarui {

class SetValueDialogBox : public QDialog {
    Q_OBJECT
public:
    SetValueDialogBox(lumivar::SetValueDialog &record, QWidget *parent = nullptr);

    // For tests and for keyboard users alike: the widgets by their fields.
    [[nodiscard]] QComboBox *nameList() const { return names_; }
    [[nodiscard]] QComboBox *allowedList() const { return allowed_; }
    [[nodiscard]] QLineEdit *rangeField() const { return range_; }
    [[nodiscard]] QLineEdit *valueField() const { return value_; }
    [[nodiscard]] QLineEdit *dataTypeField() const { return dataType_; }

    void accept() override;

private:
    void showEntry(int index);
    void nameChosen(int index);
    // The first edited value the model refuses, with its entry, or -1.
    [[nodiscard]] int refusedEntry(QString &message) const;

    lumivar::SetValueDialog &record_;
    std::vector<std::string> initial_; // the values as the dialog opened
    QLineEdit *action_;
    QComboBox *names_;
    QLineEdit *dataType_;
    QStackedWidget *allowedPlace_;
    QComboBox *allowed_;
    QLineEdit *range_;
    QLineEdit *value_;
};

} // namespace lumivarui
