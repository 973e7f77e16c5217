#include "json.h"

namespace qncli {

std::string jsonText(const Json &value)
{
    // Without the replace handler the library throws on invalid UTF-8.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json textOrNull(const char *text)
{
    return text != nullptr ? Json(text) : Json(nullptr);
}

void addFirst(Json &object, std::string_view name, Json value)
{
    std::string key(name);
    if (!object.contains(key))
        object[key] = std::move(value);
}

} // namespace qncli
