// Framing of raw HTTP text as it arrives on a stream: where the headers
// end, how long the body is, and the removal of chunked transfer coding. The
// message parser shares the line rules, so that both see the same lines.
//
// Lines end at LF; a CR just before the LF belongs to the line end
// (RFC 2616 19.3: a tolerant application takes a lone LF as a line end).
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr size_t kHttpNpos = std::string_view::npos;

// One line of a message: its text without the line end (a CR at the very
// end of the text counts as part of one), and the offset just past that line
// end. ended is false when the text ran out before an LF.
struct HttpLine {
    std::string_view text;
    size_t next;
    bool ended;
};

// The line that starts at offset at of raw (at <= raw.size()).
HttpLine httpLineAt(std::string_view raw, size_t at);

// Header names and tokens compare without regard to ASCII case.
bool equalNoCase(std::string_view a, std::string_view b);

// Offset just past the empty line that ends the headers (CR LF CR LF, LF LF
// or a mix), or kHttpNpos while it has not arrived. Empty lines before the
// start line are passed over (RFC 2616 4.1).
size_t httpHeadersEnd(std::string_view raw);

// The Content-Length of a header block (the start line may be included;
// reading stops at the empty line), or -1 when it is absent or malformed:
// not a plain decimal number, too large for the type, or given twice with
// different values.
long long httpContentLength(std::string_view headers);

// True when a Transfer-Encoding header names "chunked".
bool httpIsChunked(std::string_view headers);

// Undoes the chunked transfer coding of a complete body in place: body holds
// len bytes starting at the first chunk-size line. Chunk extensions and
// trailers are skipped. Returns 0 with the decoded length in outLen and the
// decoded body terminated by a NUL; 1 when the text ends before the last
// chunk and the empty line after its trailers (read more and call again);
// -1 when the body is malformed or announces a chunk larger than any message
// buffer. body is changed only when the result is 0.
int httpDechunk(char *body, size_t len, size_t *outLen);

// ---- Whole messages as they arrive --------------------------------------------

// The verdict on the bytes of one request received so far on a connection.
enum class FrameState { Incomplete, Complete, Bad };
struct RequestFrame {
    FrameState state;
    int status;      // Bad: the status to answer (400, or 413 for a body beyond the room)
    size_t headEnd;  // offset past the empty line once the head is in
    size_t length;   // Complete: the bytes of this message, head and body as framed
    bool chunked;    // the body is in chunked coding
};

// Judges the first request in raw, whose buffer holds at most room bytes.
// A request is complete when its head is in and, with a Content-Length,
// that many body bytes followed, or with chunked coding the last chunk; a
// request without either has no body (RFC 7230, 3.3.3), and bytes after it
// (a second request in the same segment) are not part of it. Bad, with
// 400: a NUL or control character in the head (HT, and CR before LF,
// excepted); a Content-Length that is not one plain decimal number, or two
// that differ; Transfer-Encoding with Content-Length, or other than
// "chunked"; malformed chunking; a head that does not fit the room. With
// 413: a body announced beyond the room.
RequestFrame httpFrameRequest(std::string_view raw, size_t room);

// How far an answer to one of our requests has arrived: its head (after
// any interim 100 answers) and the body its framing announces.
enum class AnswerState {
    Incomplete, // the head, or the announced body, is not in yet
    Complete,   // the whole answer is in
    UntilClose, // the head is in and the body has no framing: it runs until the peer closes
};
AnswerState httpAnswerState(std::string_view raw);

// Removes the chunked coding of a complete message in place (head kept,
// body decoded, text terminated; *len updated). A message that is not
// chunked is left alone; malformed chunking leaves it without a body.
void httpUnchunkMessage(char *data, uint32_t *len);

