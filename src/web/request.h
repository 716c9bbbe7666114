// The request side of the web server: taking the path out of a request's
// text, the Basic authorization check, the refusal text, and the checks that
// keep the file routes inside their folders. Pure functions over text, so the
// fuzz target and the tests reach them without sockets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lw {

// RequestPath of a request text that begins with "GET" or "POST": the text
// after the method, its blank and the one character after it (normally the
// leading "/"), up to the next blank, trailing blanks removed, lowercased
// (ASCII letters only). The query string stays part of it. nullopt when the
// request line has no blank after the path; the caller then journals the
// failed step and goes on with an empty path.
std::optional<std::string> RequestPathOf(std::string_view request);

// Standard Base64 (with "=" padding, no line breaks) over the bytes.
std::string Base64Encode(std::string_view text);

// True when `request` holds "Authorization: Basic " (case-sensitive,
// anywhere) immediately followed by Base64Encode(user + ":" + pass). Every
// occurrence is compared over the whole credential, so the time taken does
// not tell how many of its characters matched.
bool HasBasicCredential(std::string_view request, std::string_view user,
                        std::string_view pass);

// The six-line refusal of a request without the right credential (no CR LF
// after the last line).
std::string DeniedPage();

// "/" replaced by "\" (so "/a/b" gives "\a\b").
std::string PathFromUrl(std::string_view text);
// The text after the last "/"; the whole text when there is none.
std::string LastUrlSegment(std::string_view text);

// True when a path taken from a request may name a file below its route's
// folder: no backslash, no ".." segment, no percent-encoded dot, slash,
// backslash or zero byte, no zero byte. Segments are separated by "/".
bool IsContainedPath(std::string_view path);

// Every "%XX" with two hexadecimal digits replaced by its byte (other "%"
// characters stay). The browser sends the blank of a recording's name as
// "%20" and the bytes of a non-ASCII name as "%XX".
std::string PercentDecode(std::string_view text);

// "&", "<", ">", '"' and "'" as character references: for texts from calls,
// contacts and journals placed in a page.
std::string HtmlEscape(std::string_view text);

// The Content-Type of a file by its name's extension (case-insensitive);
// "application/octet-stream" for unknown kinds.
std::string_view ContentTypeOf(std::string_view file_name);

// True when the text holds a whole request: its header block ended by an
// empty line (CR LF or LF alone) and as many bytes after it as its
// Content-Length announces.
bool RequestComplete(std::string_view text);
// The length of that whole request at the start of `text`; 0 while it is
// not whole. What follows it is the next request on the connection.
size_t RequestLength(std::string_view text);

// True when the connection may stay open for a next request after the
// answer to `request`: HTTP/1.1 unless its "Connection" says "close",
// HTTP/1.0 only when it says "keep-alive". Never after a HEAD request or a
// body sent in chunks ("Transfer-Encoding"), whose end the server cannot
// tell.
bool WantsKeepAlive(std::string_view request);

// The length announced by a "Content-Length:" header (name compared without
// regard to case); 0 when there is none or it is not a number.
size_t ContentLengthOf(std::string_view request);

// The value of the first header `name` (compared without regard to case) in
// the header block, blanks around it removed; nullopt when there is none.
std::optional<std::string> HeaderValue(std::string_view request,
                                       std::string_view name);

// What a "Range" header asks of a body of `size` bytes. One range only:
// "bytes=first-last", "bytes=first-" or "bytes=-suffix" (the last `suffix`
// bytes), `last` cut to the body's end. kWhole for no header and for one
// that is not such a range (several ranges, a last before its first): the
// whole body is sent then. kUnsatisfiable when the range starts at or
// beyond the end or asks for an empty suffix.
struct ByteRange {
  enum Kind { kWhole, kPart, kUnsatisfiable } kind = kWhole;
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
};
ByteRange ByteRangeOf(std::string_view request, uint64_t size);

// What the web journal keeps of a request: at most its first
// kJournalledRequest bytes, the value of every "Authorization" header
// replaced by "(hidden)", and when the request is longer, its length.
inline constexpr size_t kJournalledRequest = 2048;
std::string RequestForJournal(std::string_view request);

// True when a request that changes something (delete, mark heard, options)
// comes from this server's own pages: it carries "X-Linewarden-Token" equal
// to `page_token` (non-empty), or its "Origin" names the host and port of
// its "Host" header. A request with neither an Origin nor fetch metadata
// ("Sec-Fetch-Site") comes from no browser page (a script on a machine the
// owner allowed) and is accepted; "Origin: null" and every other site are
// refused.
bool IsSameOrigin(std::string_view request, std::string_view page_token);

// True when the request's "Host" header, if any, names this machine by a
// loopback name ("localhost", "*.localhost", 127.x.x.x, "[::1]") or by
// `listen_address` (the address the server was told to listen on, may be
// empty). Without a password this keeps pages of other sites that had their
// name pointed at this machine (DNS rebinding) from reading it.
bool IsAllowedHost(std::string_view request, std::string_view listen_address);

}  // namespace lw
