#include "web/request.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/text.h"

namespace lw {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> RequestPathOf(std::string_view request) {
  // Positions are those of the method's own arithmetic, 1-based: p is the
  // method's position (0 when absent), the path starts `skip` characters
  // after it and runs to the first blank at or after its start.
  const bool get = request.substr(0, 3) == "GET";
  const std::string_view method = get ? "GET " : "POST ";
  const size_t found = request.find(method);
  const int64_t p =
      found == std::string_view::npos ? 0 : static_cast<int64_t>(found) + 1;
  const int64_t start = p + static_cast<int64_t>(method.size()) + 1;
  int64_t q = 0;
  if (start <= static_cast<int64_t>(request.size())) {
    const size_t blank = request.find(' ', static_cast<size_t>(start - 1));
    if (blank != std::string_view::npos) q = static_cast<int64_t>(blank) + 1;
  }
  const int64_t length = q - p - static_cast<int64_t>(method.size());
  if (length < 0) return std::nullopt;
  std::string path;
  if (start <= static_cast<int64_t>(request.size()))
    path = std::string(request.substr(static_cast<size_t>(start - 1),
                                      static_cast<size_t>(length)));
  while (!path.empty() && path.back() == ' ') path.pop_back();
  for (char& c : path) c = LowerAscii(c);
  return path;
}

std::string Base64Encode(std::string_view text) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= text.size(); i += 3) {
    const uint32_t n = static_cast<uint8_t>(text[i]) << 16 |
                       static_cast<uint8_t>(text[i + 1]) << 8 |
                       static_cast<uint8_t>(text[i + 2]);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += kAlphabet[n >> 6 & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = text.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint8_t>(text[i]) << 16;
    if (rest == 2) n |= static_cast<uint8_t>(text[i + 1]) << 8;
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += rest == 2 ? kAlphabet[n >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

bool HasBasicCredential(std::string_view request, std::string_view user,
                        std::string_view pass) {
  std::string credential(user);
  credential += ':';
  credential += pass;
  const std::string expected = Base64Encode(credential);
  constexpr std::string_view kHeader = "Authorization: Basic ";
  bool found = false;
  for (size_t at = request.find(kHeader); at != std::string_view::npos;
       at = request.find(kHeader, at + 1)) {
    const std::string_view given = request.substr(at + kHeader.size());
    // Compared over the whole expected text, whatever the first difference.
    unsigned diff = given.size() < expected.size() ? 1 : 0;
    for (size_t i = 0; i < expected.size(); ++i) {
      const char g = i < given.size() ? given[i] : '\0';
      diff |= static_cast<unsigned char>(g ^ expected[i]);
    }
    found |= diff == 0;
  }
  return found;
}

std::string DeniedPage() {
  return "HTTP/1.0 401 Access Denied\r\n"
         "Server: Statistics Server 5.0\r\n"
         "WWW-Authenticate: Basic realm =\"StatisticsServer\"\r\n"
         "Content-Type: text/html\r\n"
         "Connection: Keep-Alive\r\n"
         "Content-Length: 118";
}

std::string PathFromUrl(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string LastUrlSegment(std::string_view text) {
  const size_t slash = text.rfind('/');
  return std::string(slash == std::string_view::npos ? text
                                                     : text.substr(slash + 1));
}

bool IsContainedPath(std::string_view path) {
  if (path.find('\\') != std::string_view::npos) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  for (size_t at = path.find('%'); at != std::string_view::npos;
       at = path.find('%', at + 1)) {
    if (at + 2 >= path.size()) continue;
    const int hi = HexValue(path[at + 1]);
    const int lo = HexValue(path[at + 2]);
    if (hi < 0 || lo < 0) continue;
    const int byte = hi * 16 + lo;
    if (byte == '.' || byte == '/' || byte == '\\' || byte == 0) return false;
  }
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(begin, end - begin) == "..") return false;
    begin = end + 1;
  }
  return true;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out +=
          static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string_view ContentTypeOf(std::string_view file_name) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13>
      kTypes{{{".html", "text/html"},
              {".htm", "text/html"},
              {".txt", "text/plain"},
              {".css", "text/css"},
              {".js", "text/javascript"},
              {".wav", "audio/wav"},
              {".mp3", "audio/mpeg"},
              {".gif", "image/gif"},
              {".png", "image/png"},
              {".jpg", "image/jpeg"},
              {".jpeg", "image/jpeg"},
              {".ico", "image/x-icon"},
              {".svg", "image/svg+xml"}}};
  for (const auto& [ext, type] : kTypes)
    if (EndsWithNoCase(file_name, ext)) return type;
  return "application/octet-stream";
}

size_t RequestLength(std::string_view text) {
  // The header block ends at the first empty line, CR LF or LF alone.
  size_t end = text.find("\r\n\r\n");
  size_t header_end = end == std::string_view::npos ? end : end + 4;
  if (const size_t bare = text.find("\n\n"); bare < end) {
    end = bare;
    header_end = bare + 2;
  }
  if (end == std::string_view::npos) return 0;
  const size_t body = ContentLengthOf(text.substr(0, end));
  return text.size() - header_end >= body ? header_end + body : 0;
}

bool RequestComplete(std::string_view text) { return RequestLength(text) > 0; }

bool WantsKeepAlive(std::string_view request) {
  const std::string_view line = request.substr(0, request.find('\n'));
  if (line.rfind("HEAD ", 0) == 0 || HeaderValue(request, "Transfer-Encoding"))
    return false;
  const std::string connection =
      HeaderValue(request, "Connection").value_or("");
  // The header is a list of words: "keep-alive, Upgrade".
  const auto has = [&connection](std::string_view word) {
    for (size_t at = 0; at < connection.size();) {
      size_t end = connection.find(',', at);
      if (end == std::string::npos) end = connection.size();
      if (EqualsNoCase(Trim(std::string_view(connection).substr(at, end - at)),
                       word))
        return true;
      at = end + 1;
    }
    return false;
  };
  std::string_view version = line.substr(line.rfind(' ') + 1);
  if (!version.empty() && version.back() == '\r') version.remove_suffix(1);
  if (version == "HTTP/1.1") return !has("close");
  return version == "HTTP/1.0" && has("keep-alive");
}

size_t ContentLengthOf(std::string_view request) {
  const auto value = HeaderValue(request, "Content-Length");
  size_t n = 0;
  if (!value) return 0;
  for (size_t at = 0; at < value->size() && (*value)[at] >= '0' &&
                      (*value)[at] <= '9' && n < (size_t{1} << 40);
       ++at)
    n = n * 10 + static_cast<size_t>((*value)[at] - '0');
  return n;
}

std::optional<std::string> HeaderValue(std::string_view request,
                                       std::string_view name) {
  // Header lines follow the request line and end at the first empty line.
  size_t at = request.find('\n');
  while (at != std::string_view::npos && at + 1 < request.size()) {
    const size_t begin = at + 1;
    size_t end = request.find('\n', begin);
    if (end == std::string_view::npos) end = request.size();
    std::string_view line = request.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line.size() > name.size() && line[name.size()] == ':' &&
        EqualsNoCase(line.substr(0, name.size()), name)) {
      line.remove_prefix(name.size() + 1);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
      return std::string(line);
    }
    at = end;
  }
  return std::nullopt;
}

ByteRange ByteRangeOf(std::string_view request, uint64_t size) {
  const auto header = HeaderValue(request, "Range");
  constexpr std::string_view kUnit = "bytes=";
  if (!header || header->size() <= kUnit.size() ||
      !EqualsNoCase(std::string_view(*header).substr(0, kUnit.size()), kUnit))
    return {};
  const std::string_view asked = std::string_view(*header).substr(kUnit.size());
  const size_t dash = asked.find('-');
  if (dash == std::string_view::npos) return {};
  // A number of up to 18 digits; nullopt for an empty or other text.
  const auto number = [](std::string_view text) -> std::optional<uint64_t> {
    if (text.empty() || text.size() > 18) return std::nullopt;
    uint64_t n = 0;
    for (const char c : text) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    return n;
  };
  const std::string_view from = asked.substr(0, dash);
  const std::string_view to = asked.substr(dash + 1);
  ByteRange range{ByteRange::kPart};
  if (from.empty()) {
    const auto suffix = number(to);
    if (!suffix) return {};
    if (*suffix == 0 || size == 0) return {ByteRange::kUnsatisfiable};
    range.first = size - std::min(*suffix, size);
    range.last = size - 1;
    return range;
  }
  const auto first = number(from);
  const auto last =
      to.empty() ? std::optional<uint64_t>(UINT64_MAX) : number(to);
  if (!first || !last || *last < *first) return {};
  if (*first >= size) return {ByteRange::kUnsatisfiable};
  range.first = *first;
  range.last = std::min(*last, size - 1);
  return range;
}

std::string RequestForJournal(std::string_view request) {
  std::string out(request.substr(0, kJournalledRequest));
  constexpr std::string_view kName = "\nauthorization:";
  for (size_t i = 0; i + kName.size() <= out.size(); ++i) {
    if (!EqualsNoCase(std::string_view(out).substr(i, kName.size()), kName))
      continue;
    const size_t from = i + kName.size();
    const size_t end = std::min(out.find('\n', from), out.size());
    size_t stop = end;
    if (stop > from && out[stop - 1] == '\r') --stop;
    if (stop > from) out.replace(from, stop - from, " (hidden)");
  }
  if (request.size() > kJournalledRequest)
    out += "... (" + std::to_string(request.size()) + " bytes)";
  return out;
}

namespace {

// The host of a "host[:port]" text ("[v6]" keeps its brackets), lowercased.
std::string HostPart(std::string_view authority) {
  size_t end = authority.size();
  if (!authority.empty() && authority.front() == '[') {
    end = authority.find(']');
    end = end == std::string_view::npos ? authority.size() : end + 1;
  } else if (const size_t colon = authority.rfind(':');
             colon != std::string_view::npos) {
    end = colon;
  }
  std::string host(authority.substr(0, end));
  for (char& c : host) c = LowerAscii(c);
  return host;
}

}  // namespace

bool IsSameOrigin(std::string_view request, std::string_view page_token) {
  const auto token = HeaderValue(request, "X-Linewarden-Token");
  if (token && !page_token.empty() && *token == page_token) return true;
  const auto origin = HeaderValue(request, "Origin");
  if (!origin) return !HeaderValue(request, "Sec-Fetch-Site");
  const auto host = HeaderValue(request, "Host");
  const size_t scheme = origin->find("://");
  if (!host || scheme == std::string::npos) return false;
  return EqualsNoCase(std::string_view(*origin).substr(scheme + 3), *host);
}

bool IsAllowedHost(std::string_view request, std::string_view listen_address) {
  const auto value = HeaderValue(request, "Host");
  if (!value) return true;
  const std::string host = HostPart(*value);
  const bool loopback_v4 =
      host.rfind("127.", 0) == 0 &&
      host.find_first_not_of("0123456789.") == std::string::npos;
  if (host == "localhost" || host == "[::1]" || loopback_v4 ||
      EndsWithNoCase(host, ".localhost"))
    return true;
  std::string listen(listen_address);
  if (listen.find(':') != std::string::npos) listen = "[" + listen + "]";
  return !listen_address.empty() && EqualsNoCase(host, listen);
}

}  // namespace lw
