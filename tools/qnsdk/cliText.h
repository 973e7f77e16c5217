// Bounded copies into the fixed text fields of the API's records.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace qncli {

// Copies src into dst of size bytes, cut to size - 1 and always terminated.
// Returns false when src had to be cut.
inline bool copyText(char *dst, size_t size, std::string_view src)
{
    if (size == 0)
        return src.empty();
    size_t n = src.size() < size - 1 ? src.size() : size - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return n == src.size();
}

} // namespace qncli
