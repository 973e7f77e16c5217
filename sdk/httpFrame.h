// Framing of raw HTTP text as it arrives on a stream: where the headers
// end, how long the body is, and the removal of chunked transfer coding.
#pragma once

#include <cstddef>
#include <string_view>

// Offset just past the empty line that ends the headers (CR LF CR LF or
// LF LF), or npos while the headers are incomplete.
size_t httpHeadersEnd(std::string_view raw);

// The Content-Length of a header block, or -1 when absent or malformed.
long long httpContentLength(std::string_view headers);

// True when the header block declares chunked Transfer-Encoding.
bool httpIsChunked(std::string_view headers);

// De-chunks a complete chunked body in place; *outLen receives the length of
// the data. 0 on success, 1 when the body is incomplete, -1 when malformed.
int httpDechunk(char *body, size_t len, size_t *outLen);
