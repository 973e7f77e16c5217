#include "setValueDialog.h"

#include "dataTypes.h"

#include <cmath>

namespace lumivar {

namespace {

std::string quoted(const std::string &name) { return "Value of argument \"" + name + "\""; }

// Whether value lies on the range's grid min + k * step. Only whole-number
// types are held to it: a fractional step cannot be compared exactly.
bool onStep(const SetValueDialog::Entry &entry, long double value)
{
    if (!isIntegerType(entry.dataType))
        return true;
    std::optional<long double> step = numberOf(entry.step);
    std::optional<long double> low = numberOf(entry.minimum);
    if (!step || *step <= 0 || !low)
        return true;
    return std::fmod(value - *low, *step) == 0;
}

} // namespace

void describeVariable(SetValueDialog::Entry &entry, const QNApiVarInfo &info)
{
    entry.dataType = info.dataType;
    entry.allowedValues.clear();
    if (info.hasList != 0)
        for (int i = 0; i < info.allowedNum && i < QN_ALLOWED_MAX_NUM; ++i)
            entry.allowedValues.emplace_back(info.allowed[i]);
    entry.hasRange = info.hasRange != 0;
    entry.minimum = info.minimum;
    entry.maximum = info.maximum;
    entry.step = info.step;
    entry.defaultValue = info.hasDefault != 0 ? info.defaultValue : "";
}

std::vector<std::string> allowedValuesShown(const SetValueDialog::Entry &entry)
{
    if (!entry.allowedValues.empty())
        return entry.allowedValues;
    if (!entry.hasRange)
        return {};
    std::string range = entry.minimum + ".." + entry.maximum;
    if (!entry.step.empty())
        range += " step " + entry.step;
    return {range};
}

void selectEntry(SetValueDialog &dialog, int index, const std::string &editedValue)
{
    auto count = static_cast<int>(dialog.entries.size());
    if (dialog.selected >= 0 && dialog.selected < count && dialog.entries[dialog.selected].editable)
        dialog.entries[dialog.selected].value = editedValue;
    if (index >= 0 && index < count)
        dialog.selected = index;
}

std::optional<std::string> checkValue(const SetValueDialog::Entry &entry, const std::string &value)
{
    if (!isValueOfType(entry.dataType, value))
        return quoted(entry.name) + " is not a valid " + entry.dataType + ".";
    if (!entry.allowedValues.empty()) {
        for (const auto &allowed : entry.allowedValues)
            if (allowed == value)
                return std::nullopt;
        return quoted(entry.name) + " is not one of its allowed values.";
    }
    if (!entry.hasRange || !isNumericType(entry.dataType))
        return std::nullopt;
    std::optional<long double> number = numberOf(value);
    std::optional<long double> low = numberOf(entry.minimum);
    std::optional<long double> high = numberOf(entry.maximum);
    if (number && ((low && *number < *low) || (high && *number > *high) || !onStep(entry, *number)))
        return quoted(entry.name) + " is out of range (" + entry.minimum + ".." + entry.maximum + ").";
    return std::nullopt;
}

} // namespace lumivar
