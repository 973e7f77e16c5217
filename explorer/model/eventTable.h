// The event value table: the last value each evented state variable sent
// through a device control point, kept for the Event window.
//
// Written by the stack's server thread (the event handler) and read by the
// window thread, so it has a mutex of its own. Lock order: when both are
// needed, the stack's lock (qnLockModel, or a message handler, which already
// runs under it) is taken first and this table's lock second, never the
// other way round. No method calls the stack while holding the table's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

struct EventEntry {
    uint32_t entity = 0; // the device control point the event came through
    uint32_t time = 0;   // calendar seconds at which the value arrived; 0 unknown
    std::string name;    // the state variable's name
    std::string value;
};

class EventTable {
public:
    // A name buffer of the stack holds 127 characters; values are kept to
    // 128 characters so a long event (a whole DIDL-Lite document) cannot
    // grow the table without bound.
    static constexpr size_t kNameMaxLen = 127;
    static constexpr size_t kValueMaxLen = 128;

    EventTable();

    // Overwrites the entry of (entity, name) or appends one. Name and value
    // are cut to their limits (never inside a UTF-8 sequence) before the
    // lookup, so a long name finds the entry it stored.
    void store(uint32_t entity, std::string_view name, std::string_view value, uint32_t time);

    // A copy of the entry of (entity, name), names compared exactly.
    [[nodiscard]] std::optional<EventEntry> find(uint32_t entity, std::string_view name) const;

    // Stored entries, the placeholder not counted.
    [[nodiscard]] size_t size() const;

private:
    // Index of the matching entry or 0: the placeholder at index 0 is
    // never matched, so 0 means none. Caller holds mutex_.
    [[nodiscard]] size_t indexOf(uint32_t entity, std::string_view name) const;

    mutable std::mutex mutex_;
    std::vector<EventEntry> entries_; // insertion order; never shrinks
};

// text cut to at most maxLen bytes, backed off to the start of a UTF-8
// sequence so the cut never leaves half a character.
[[nodiscard]] std::string_view cutText(std::string_view text, size_t maxLen);

} // namespace lumivar
