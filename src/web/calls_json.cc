// The JSON of the owner's interface, written straight into one string: the
// list answer for a thousand calls is built on every request, so there is no
// tree of values in between and one escaping pass per text.
#include <cstdint>
#include <string>
#include <string_view>

#include "journal/regional.h"
#include "web/calls_api.h"

namespace lw::web {
namespace {

// U+FFFD in UTF-8: what stands for bytes that are not UTF-8.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// A stored field without its padding (blanks and zero bytes at either end).
std::string_view Field(std::string_view field) {
  size_t begin = 0;
  size_t end = field.size();
  while (begin < end && (field[begin] == ' ' || field[begin] == '\0')) ++begin;
  while (end > begin && (field[end - 1] == ' ' || field[end - 1] == '\0'))
    --end;
  return field.substr(begin, end - begin);
}
template <size_t N>
std::string_view Field(const char (&field)[N]) {
  return Field(std::string_view(field, N));
}

// Appends `text` as a JSON string. Caller identification is text a
// stranger controls, so any bytes make a valid answer: control characters
// become \u00XX, and each longest start of a UTF-8 character that does not
// go on as one (a stray byte, a cut or overlong sequence, a surrogate)
// becomes one U+FFFD; the bytes after it are read afresh.
void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    size_t plain = i;
    while (plain < n) {
      const auto c = static_cast<unsigned char>(text[plain]);
      if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
      ++plain;
    }
    out.append(text, i, plain - i);
    i = plain;
    if (i == n) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else {
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      ++i;
      continue;
    }
    // The bytes that may follow `c`, from the table of well-formed UTF-8.
    size_t follow = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      follow = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      follow = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      follow = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    size_t length = 1;
    while (length <= follow && i + length < n) {
      const auto next = static_cast<unsigned char>(text[i + length]);
      if (next < low || next > high) break;
      low = 0x80;
      high = 0xBF;
      ++length;
    }
    if (follow > 0 && length > follow)
      out.append(text, i, length);
    else
      out += kReplacement;
    i += length;
  }
  out += '"';
}

void AppendDigits(std::string& out, int value, int digits) {
  for (int unit = digits == 4 ? 1000 : 10; unit > 0; unit /= 10)
    out += static_cast<char>('0' + value / unit % 10);
}

// "2005-03-15T10:15:30" from the stored date and time texts (local time, as
// stored); the date alone when the time is not one; empty when neither is.
void AppendIsoTime(std::string& out, std::string_view date,
                   std::string_view time) {
  out += '"';
  if (const auto day = ParseShortDate(date)) {
    AppendDigits(out, day->year, 4);
    out += '-';
    AppendDigits(out, day->month, 2);
    out += '-';
    AppendDigits(out, day->day, 2);
    if (const auto clock = ParseLongTime(time)) {
      out += 'T';
      AppendDigits(out, clock->hour, 2);
      out += ':';
      AppendDigits(out, clock->minute, 2);
      out += ':';
      AppendDigits(out, clock->second, 2);
    }
  }
  out += '"';
}

void AppendCall(std::string& out, const CallView& call) {
  const CallRecord& r = call.record;
  out += "{\"id\":";
  AppendJsonString(out, call.id);
  out += ",\"type\":\"";
  out += TypeWords(Field(r.call_type), call.blocked);
  out += "\",\"name\":";
  AppendJsonString(out, Field(r.caller_name));
  out += ",\"number\":";
  AppendJsonString(out, Field(r.caller_number));
  out += ",\"contact\":";
  AppendJsonString(out, call.contact);
  out += ",\"time\":";
  AppendIsoTime(out, Field(r.date), Field(r.time));
  out += ",\"length\":";
  out += std::to_string(LengthSeconds(Field(r.length)));
  out += r.read_mark[0] == '1' ? ",\"heard\":true" : ",\"heard\":false";
  if (call.recording.empty()) {
    out += ",\"recording\":null}";
  } else {
    // The identity is digits and a dash: nothing to escape.
    out += ",\"recording\":\"";
    AppendRecordingAddress(out, call.id);
    out += "\"}";
  }
}

}  // namespace

std::string CallJson(const CallView& call) {
  std::string out;
  out.reserve(256);
  AppendCall(out, call);
  return out;
}

std::string CallsJson(const std::vector<CallView>& calls) {
  std::string out;
  // A call with plain names takes under 200 bytes.
  out.reserve(2 + calls.size() * 224);
  out += '[';
  for (const CallView& call : calls) {
    if (&call != calls.data()) out += ',';
    AppendCall(out, call);
  }
  out += ']';
  return out;
}

}  // namespace lw::web
