#include "eventTable.h"

namespace lumivar {

std::string_view cutText(std::string_view text, size_t maxLen)
{
    if (text.size() <= maxLen)
        return text;
    size_t cut = maxLen;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

EventTable::EventTable() : entries_(1) {}

size_t EventTable::indexOf(uint32_t entity, std::string_view name) const
{
    for (size_t i = 1; i < entries_.size(); ++i) {
        if (entries_[i].entity == entity && entries_[i].name == name)
            return i;
    }
    return 0;
}

void EventTable::store(uint32_t entity, std::string_view name, std::string_view value, uint32_t time)
{
    name = cutText(name, kNameMaxLen);
    value = cutText(value, kValueMaxLen);
    std::lock_guard guard(mutex_);
    size_t i = indexOf(entity, name);
    if (i == 0) {
        entries_.push_back({entity, time, std::string(name), std::string(value)});
        return;
    }
    entries_[i].time = time;
    entries_[i].value.assign(value);
}

std::optional<EventEntry> EventTable::find(uint32_t entity, std::string_view name) const
{
    name = cutText(name, kNameMaxLen);
    std::lock_guard guard(mutex_);
    size_t i = indexOf(entity, name);
    if (i == 0)
        return std::nullopt;
    return entries_[i];
}

size_t EventTable::size() const
{
    std::lock_guard guard(mutex_);
    return entries_.size() - 1;
}

} // namespace lumivar
