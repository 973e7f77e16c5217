#include "productInfo.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace lumivarui {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr size_t kCompilerDateLen = 11; // "Mmm dd yyyy"
constexpr int kStampBufferLen = 48;

int number(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1); // __DATE__ pads single-digit days with a blank
    int value = -1;
    auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
    return err == std::errc() && end == text.data() + text.size() ? value : -1;
}

} // namespace

std::string buildStamp(std::string_view compilerDate)
{
    if (compilerDate.size() != kCompilerDateLen)
        return {};
    int month = 0;
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (compilerDate.substr(0, 3) == kMonths[i])
            month = static_cast<int>(i) + 1;
    int day = number(compilerDate.substr(4, 2));
    int year = number(compilerDate.substr(7, 4));
    if (month == 0 || day < 1 || day > 31 || year < 0)
        return {};
    char out[kStampBufferLen];
    std::snprintf(out, sizeof out, " Build %02d%02d%02d", year % 100, month, day);
    return out;
}

} // namespace lumivarui
