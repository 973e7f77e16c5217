// qnsdk's JSON: values are built with nlohmann::json (objects keep their
// members in insertion order) and printed as one compact line. Devices send
// what they like, so printing never fails: bytes that are not UTF-8 become
// U+FFFD, and a name that an object already has is not added again (the
// first value stays), so no line carries duplicate keys.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace qncli {

using Json = nlohmann::ordered_json;

// The compact text of value, without a line break.
std::string jsonText(const Json &value);

// A text of the stack as a JSON string, or null when it is absent.
Json textOrNull(const char *text);

// Adds name: value to object unless it has a member of that name already.
void addFirst(Json &object, std::string_view name, Json value);

} // namespace qncli
