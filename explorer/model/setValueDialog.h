// The record behind the "Set Value" dialog: the action (or variable) it
// edits and one entry per argument with its value, whether it may be
// edited, and what its related state variable allows. The dialog shows it
// and gives it back; the checks that keep a device from being sent a value
// it cannot take live here, beside it.
#pragma once

#include "qnSdkApi.h"

#include <optional>
#include <string>
#include <vector>

namespace lumivar {

inline constexpr char kSetValueForArgumentTitle[] = "Set Value For Action Argument";
inline constexpr char kSetValueForVariableTitle[] = "Set Value For Variable";

struct SetValueDialog {
    struct Entry {
        std::string name;  // "Name:"
        std::string value; // "Value:"
        int32_t direction = AD_IN;
        bool editable = false;
        bool hadValue = false;     // the tree held a value for it when the dialog opened
        std::string dataType;      // "Data Type:"; "" when the SCPD names none
        std::vector<std::string> allowedValues; // the allowedValueList, in order
        bool hasRange = false;     // an allowedValueRange: minimum, maximum, step
        std::string minimum, maximum, step;
        std::string defaultValue;  // "" when the SCPD gives none
    };

    std::string title;      // kSetValueForArgumentTitle or kSetValueForVariableTitle
    std::string actionName; // "Action:" (the variable's name for a variable)
    std::vector<Entry> entries;
    int selected = 0;       // index into entries of the entry shown
};

// Fills the typing of entry from its related state variable.
void describeVariable(SetValueDialog::Entry &entry, const QNApiVarInfo &info);

// The lines of the "Allowed Values:" list: the allowed values, or the range
// ("0..100", with " step 5" when a step is given); empty when anything goes.
[[nodiscard]] std::vector<std::string> allowedValuesShown(const SetValueDialog::Entry &entry);

// "Name:" changes to index: the edited "Value:" text is first stored into
// the entry shown until now (when that one may be edited).
void selectEntry(SetValueDialog &dialog, int index, const std::string &editedValue);

// The message that refuses value for entry, or none when the value may be
// sent: "Value of argument \"%s\" is not a valid %s." (type),
// "... is not one of its allowed values." (list), "... is out of range
// (%s..%s)." (range, or off the range's step).
[[nodiscard]] std::optional<std::string> checkValue(const SetValueDialog::Entry &entry, const std::string &value);

} // namespace lumivar
