// Shared by the XML fuzz targets: the input as a NUL-terminated document in
// a heap buffer as large as the stack's (kMaxDocument + 1), a silent debug
// console, and the invariants every reader must keep.
#pragma once

#include "log.h"
#include "qnLimits.h"
#include "xml.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qnfuzz {

// The input cut to a document of at most kMaxDocument bytes, NUL-terminated
// (an embedded NUL ends the text, as it does for the stack).
inline std::vector<char> &documentOf(const uint8_t *data, size_t size)
{
    static std::vector<char> buf(kMaxDocument + 1);
    static bool silenced = [] {
        setConsoleSink([](const char *) {});
        return true;
    }();
    (void)silenced;
    size_t n = size < kMaxDocument ? size : kMaxDocument;
    std::memcpy(buf.data(), data, n);
    buf[n] = '\0';
    return buf;
}

// An invariant; a broken one is a finding (the line says which).
inline void check(bool ok, const char *file = __builtin_FILE(), int line = __builtin_LINE())
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken at %s:%d\n", file, line);
        std::abort();
    }
}

// A terminated text that never used its last byte for text.
inline void checkTerminated(const char *text, size_t size)
{
    check(strnlen(text, size) < size);
}

inline void checkPair(const QNNameVal &nv)
{
    checkTerminated(nv.name, sizeof nv.name);
    checkTerminated(nv.val, sizeof nv.val);
}

// Well-formed UTF-8 (the decoder must never split a character of a valid
// input).
inline bool validUtf8(const char *s, size_t n)
{
    const auto *u = reinterpret_cast<const unsigned char *>(s);
    for (size_t i = 0; i < n;) {
        unsigned char c = u[i];
        size_t len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                                           : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        if (len == 0 || i + len > n)
            return false;
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; k < len; ++k) {
            if ((u[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (u[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

} // namespace qnfuzz
