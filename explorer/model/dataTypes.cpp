#include "dataTypes.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace lumivar {

namespace {

struct IntegerRange {
    std::string_view type;
    long double low;
    long double high;
};

constexpr std::array<IntegerRange, 9> kIntegerRanges = {{
    {"ui1", 0, 255},
    {"ui2", 0, 65535},
    {"ui4", 0, 4294967295.0L},
    {"i1", -128, 127},
    {"i2", -32768, 32767},
    {"i4", -2147483648.0L, 2147483647},
    // UDA leaves "int" unbounded; a 64-bit number is as far as any device goes.
    {"int", -9223372036854775807.0L - 1, 9223372036854775807.0L},
    // UDA 2.0's 64-bit types, which newer devices use.
    {"i8", -9223372036854775807.0L - 1, 9223372036854775807.0L},
    {"ui8", 0, 18446744073709551615.0L},
}};

constexpr std::array<std::string_view, 5> kFloatTypes = {"r4", "r8", "number", "float", "fixed.14.4"};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// [+-]digits
bool isIntegerText(std::string_view text)
{
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    if (text.empty())
        return false;
    for (char c : text)
        if (!isDigit(c))
            return false;
    return true;
}

// [+-]digits[.digits][(e|E)[+-]digits], or [+-].digits: no hex, no
// "inf" or "nan", which strtold would take.
bool isDecimalText(std::string_view text, size_t maxWhole = SIZE_MAX, size_t maxFraction = SIZE_MAX,
                   bool exponent = true)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t whole = 0, fraction = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++whole;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++fraction;
    }
    if (whole + fraction == 0 || whole > maxWhole || fraction > maxFraction)
        return false;
    if (exponent && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (!isIntegerText(text.substr(i)))
            return false;
        return true;
    }
    return i == text.size();
}

bool isBoolean(std::string_view text)
{
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "0" || lower == "1" || lower == "true" || lower == "false" || lower == "yes" || lower == "no";
}

// One UTF-8 encoded character.
bool isOneCharacter(std::string_view text)
{
    if (text.empty())
        return false;
    auto lead = static_cast<unsigned char>(text[0]);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || text.size() != length)
        return false;
    for (size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return false;
    return true;
}

bool isUuid(std::string_view text)
{
    constexpr std::array<size_t, 5> groups = {8, 4, 4, 4, 12};
    size_t at = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        for (size_t i = 0; i < groups[g]; ++i, ++at)
            if (at >= text.size() || !isHex(text[at]))
                return false;
        if (g + 1 < groups.size() && (at >= text.size() || text[at++] != '-'))
            return false;
    }
    return at == text.size();
}

// No blanks or control characters; empty is allowed (a renderer's current
// URI is cleared with an empty one).
bool isUri(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f)
            return false;
    return true;
}

bool isBase64(std::string_view text)
{
    size_t count = 0, padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            ++padding;
        } else if (padding > 0 || !(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/')) {
            return false;
        }
        ++count;
    }
    return count % 4 == 0 && padding <= 2;
}

bool isBinHex(std::string_view text)
{
    for (char c : text)
        if (!isHex(c))
            return false;
    return text.size() % 2 == 0;
}

// n digits at text[at], as a number within [low, high].
bool digitsAt(std::string_view text, size_t at, size_t n, int low, int high)
{
    if (at + n > text.size())
        return false;
    int value = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (!isDigit(text[i]))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return value >= low && value <= high;
}

// YYYY-MM-DD
bool isDate(std::string_view text)
{
    return text.size() == 10 && digitsAt(text, 0, 4, 0, 9999) && text[4] == '-' && digitsAt(text, 5, 2, 1, 12) &&
           text[7] == '-' && digitsAt(text, 8, 2, 1, 31);
}

// Z, or +hh:mm / -hh:mm
bool isZone(std::string_view text)
{
    if (text == "Z")
        return true;
    return text.size() == 6 && (text[0] == '+' || text[0] == '-') && digitsAt(text, 1, 2, 0, 23) && text[3] == ':' &&
           digitsAt(text, 4, 2, 0, 59);
}

// hh:mm:ss[.fraction][zone when allowed]
bool isTime(std::string_view text, bool zone)
{
    if (text.size() < 8 || !digitsAt(text, 0, 2, 0, 24) || text[2] != ':' || !digitsAt(text, 3, 2, 0, 59) ||
        text[5] != ':' || !digitsAt(text, 6, 2, 0, 60))
        return false;
    size_t at = 8;
    if (at < text.size() && text[at] == '.') {
        size_t start = ++at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        if (at == start)
            return false;
    }
    std::string_view rest = text.substr(at);
    return rest.empty() || (zone && isZone(rest));
}

// date[Thh:mm:ss[zone]]
bool isDateTime(std::string_view text, bool zone)
{
    if (text.size() < 10 || !isDate(text.substr(0, 10)))
        return false;
    if (text.size() == 10)
        return true;
    return text[10] == 'T' && isTime(text.substr(11), zone);
}

} // namespace

bool isIntegerType(std::string_view dataType)
{
    for (const auto &r : kIntegerRanges)
        if (r.type == dataType)
            return true;
    return false;
}

bool isNumericType(std::string_view dataType)
{
    if (isIntegerType(dataType))
        return true;
    for (auto t : kFloatTypes)
        if (t == dataType)
            return true;
    return false;
}

std::optional<long double> numberOf(std::string_view text)
{
    if (!isDecimalText(text))
        return std::nullopt;
    std::string copy(text);
    errno = 0;
    char *end = nullptr;
    long double value = std::strtold(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno == ERANGE || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool isValueOfType(std::string_view dataType, std::string_view value)
{
    for (const auto &r : kIntegerRanges) {
        if (r.type != dataType)
            continue;
        std::optional<long double> n = numberOf(value);
        return isIntegerText(value) && n && *n >= r.low && *n <= r.high;
    }
    if (dataType == "fixed.14.4")
        return isDecimalText(value, 14, 4, false);
    if (dataType == "r4") {
        std::optional<long double> n = numberOf(value);
        return n && std::fabs(*n) <= 3.40282347e38L;
    }
    for (auto t : kFloatTypes)
        if (t == dataType)
            return numberOf(value).has_value();
    if (dataType == "boolean")
        return isBoolean(value);
    if (dataType == "char")
        return isOneCharacter(value);
    if (dataType == "uuid")
        return isUuid(value);
    if (dataType == "uri")
        return isUri(value);
    if (dataType == "bin.base64")
        return isBase64(value);
    if (dataType == "bin.hex")
        return isBinHex(value);
    if (dataType == "date")
        return isDate(value);
    if (dataType == "dateTime")
        return isDateTime(value, false);
    if (dataType == "dateTime.tz")
        return isDateTime(value, true);
    if (dataType == "time")
        return isTime(value, false);
    if (dataType == "time.tz")
        return isTime(value, true);
    return true; // "string" and types we do not know
}

} // namespace lumivar
