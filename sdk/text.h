// Text helpers shared by every layer of the stack: bounded copies, strBuild,
// address and URL helpers, name/value lookup and the text cursor on which
// the HTTP and XML document kinds read and write.
#pragma once

#include "qnSdkApi.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Copies at most dstSize - 1 characters of src into dst and always
// terminates it (unless dstSize is 0). Returns the number of characters
// copied. Every copy into a fixed buffer goes through here.
size_t copyBounded(char *dst, size_t dstSize, std::string_view src);

// Bounded concatenation of typed items into buf. The items are pairs of a
// one-character code and a value: "s" a string, "d" a signed and "u" an
// unsigned 32-bit integer ("D" and "U" alike). The list ends at the empty
// code string (or any code that is not one of those). buf is always
// terminated; output that does not fit is cut. Returns the characters written.
int strBuild(char *buf, int size, ...);

// Dotted text of an IPv4 address in host byte order, with ":port" unless
// the port is 80. Returns the characters written.
int formatAddr(uint32_t addr, uint16_t port, char *out, int outSize);

// Splits "scheme://host[:port][/path]". addr and port come back in network
// byte order (a port of 0 or above 65535 comes back as 0). The host must be
// a dotted IPv4 literal: names are never looked up. Returns 0, -1 (the host
// is not an address) or QN_ERR_ARG (also when something other than a path
// follows the authority).
int parseUrl(const char *url, char *scheme, int schemeSize, uint32_t *addr,
             uint16_t *port, char *path, int pathSize);

// The val of the first entry whose name equals name exactly, or nullptr.
const char *findNameVal(const QNNameVal *array, int count, const char *name);

// Token record filled by the cursor's token readers.
struct QNXmlTag {
    int index;                   // row of the kind's name table that matched
    char name[QN_NAME_MAX_LEN];  // the token as written, cut to 127 chars
    int cls;                     // value class of the matched row
};

// A hook leaves a tag of this class untouched: callers preset it to read a
// token without classifying it.
inline constexpr int kTagClassRaw = 5;

// Text cursor. A document is read from a NUL-terminated text or written into
// a buffer of `size` bytes. Positions are 32-bit so that documents larger
// than 64 KiB can be read. `len` caches the length of the valid text so that
// the per-operation bounds check costs nothing; set it with docInitRead or
// docInitWrite.
struct QNTextDoc {
    char *text;
    uint32_t size;
    uint32_t pos;
    const char *delims;
    int (*nameHook)(QNXmlTag *tag);
    int state;
    void *user;
    int (*parse)(QNTextDoc *doc, void *model);
    int (*write)(QNTextDoc *doc, const char *text);
    int (*serialize)(QNTextDoc *doc, void *model);
    uint32_t len;
};

// Points doc at a NUL-terminated text for reading, pos 0.
void docInitRead(QNTextDoc *doc, const char *text);
// Points doc at an output buffer of size bytes, empties it, pos 0.
void docInitWrite(QNTextDoc *doc, char *buf, uint32_t size);

// Cursor primitives. Each returns QN_ERR_ARG for an absent document, text or
// output argument, or a position beyond the end of the text.
int docSkipDelims(QNTextDoc *doc);
int docFindChar(QNTextDoc *doc, char c);
int docReadToken(QNTextDoc *doc, QNXmlTag *tag);
int docPeekToken(QNTextDoc *doc, QNXmlTag *tag);
int docAppend(QNTextDoc *doc, const char *text);

// The text not yet read, as a view (empty when the document is invalid).
std::string_view docRest(const QNTextDoc *doc);

// Blanks as the readers see them: space, tab, CR and LF.
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
