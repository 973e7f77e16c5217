// The UPnP state-variable data types (UDA 1.0, 2.3 "Service description"):
// whether a text is a value of a type, and numbers of the numeric types,
// so that a value can be checked before it is sent to a device.
#pragma once

#include <optional>
#include <string_view>

namespace lumivar {

// True for every type of the numeric family (ui1 ... r8, number, fixed.14.4,
// float, int).
[[nodiscard]] bool isNumericType(std::string_view dataType);
// True for ui1, ui2, ui4, i1, i2, i4, int (and UDA 2.0's i8, ui8): steps are
// whole numbers.
[[nodiscard]] bool isIntegerType(std::string_view dataType);

// Whether value is a valid text of dataType. Types that are unknown (a
// vendor's, or none given) accept everything: the device is the judge.
[[nodiscard]] bool isValueOfType(std::string_view dataType, std::string_view value);

// The number a text of a numeric type stands for; none when it is not a
// number (surrounding blanks are not allowed).
[[nodiscard]] std::optional<long double> numberOf(std::string_view text);

} // namespace lumivar
