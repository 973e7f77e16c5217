#include "json.h"

namespace qncli {

void appendJsonString(std::string &out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        } else {
            out += c;
        }
    }
    out += '"';
}

void JsonWriter::beginValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back())
            out_ += ',';
        first_.back() = false;
    }
}

void JsonWriter::beginObject()
{
    beginValue();
    out_ += '{';
    first_.push_back(true);
}

void JsonWriter::endObject()
{
    out_ += '}';
    first_.pop_back();
}

void JsonWriter::beginArray()
{
    beginValue();
    out_ += '[';
    first_.push_back(true);
}

void JsonWriter::endArray()
{
    out_ += ']';
    first_.pop_back();
}

void JsonWriter::key(std::string_view name)
{
    beginValue();
    appendJsonString(out_, name);
    out_ += ':';
    afterKey_ = true;
}

void JsonWriter::string(std::string_view text)
{
    beginValue();
    appendJsonString(out_, text);
}

void JsonWriter::stringOrNull(const char *text)
{
    if (text == nullptr)
        null();
    else
        string(text);
}

void JsonWriter::boolean(bool value)
{
    beginValue();
    out_ += value ? "true" : "false";
}

void JsonWriter::null()
{
    beginValue();
    out_ += "null";
}

void JsonWriter::member(std::string_view name, const char *text)
{
    key(name);
    stringOrNull(text);
}

} // namespace qncli
