// A small JSON writer: builds one compact JSON text (no blanks, no line
// breaks) in memory. Commas are placed by the writer; the caller only says
// what comes next. Strings are escaped as JSON requires and otherwise passed
// through byte for byte, so UTF-8 text stays as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qncli {

// Appends text to out as a quoted JSON string: quote and backslash get a
// backslash, control characters (below 0x20) become \u00XX, every other
// byte is copied unchanged.
void appendJsonString(std::string &out, std::string_view text);

class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The name of the next member of the open object.
    void key(std::string_view name);
    void string(std::string_view text);
    // An absent text is written as null.
    void stringOrNull(const char *text);
    void boolean(bool value);
    void null();

    // key() followed by the value.
    void member(std::string_view name, const char *text);

    const std::string &text() const { return out_; }

private:
    void beginValue();

    std::string out_;
    // One entry per open object or array: true until its first element.
    std::vector<bool> first_;
    bool afterKey_ = false;
};

} // namespace qncli
