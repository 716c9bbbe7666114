#include "drivers/voice_modem/modem_protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "devices/telephony.h"

namespace lw {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text[0])))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// Numbers of a list such as "(0-2,8)" or "0,1,2.0,8", ranges expanded.
std::vector<int> ListNumbers(std::string_view text) {
  std::vector<int> numbers;
  std::string token;
  auto flush = [&] {
    const size_t dash = token.find('-');
    if (!token.empty() && std::isdigit(static_cast<unsigned char>(token[0]))) {
      const int first = std::atoi(token.c_str());
      const int last = dash == std::string::npos
                           ? first
                           : std::atoi(token.c_str() + dash + 1);
      for (int n = first; n <= last && n - first < 256; ++n)
        numbers.push_back(n);
    }
    token.clear();
  };
  for (const char c : text) {
    if (c == ',' || c == '(' || c == ')' || c == ' ')
      flush();
    else
      token += c;
  }
  flush();
  return numbers;
}

int16_t MuLawToLinear(uint8_t byte) {
  const uint8_t u = static_cast<uint8_t>(~byte);
  const int exponent = (u >> 4) & 0x07;
  const int mantissa = u & 0x0F;
  const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
  return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

uint8_t LinearToMuLaw(int16_t sample) {
  constexpr int kBias = 0x84;
  constexpr int kClip = 32635;
  int value = sample;
  const int sign = value < 0 ? 0x80 : 0;
  if (value < 0) value = -value;
  value = std::min(value, kClip) + kBias;
  int exponent = 7;
  for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1)
    --exponent;
  const int mantissa = (value >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

}  // namespace

void ModemStream::Feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (std::exchange(skip_lf_, false) && c == '\n') continue;
    if (dle_) {
      dle_ = false;
      if (streaming_ && c == kDle) {
        sound_ += kDle;
      } else if (c == kEtx) {
        FlushSound();
        streaming_ = false;
        if (events_.end) events_.end();
      } else {
        FlushSound();
        if (events_.code) events_.code(c);
      }
    } else if (c == kDle) {
      dle_ = true;
    } else if (streaming_) {
      sound_ += c;
    } else if (c == '\r' || c == '\n') {
      if (!line_.empty() && events_.line)
        events_.line(std::exchange(line_, {}));
      line_.clear();
    } else if (line_.size() < kMaxLine) {
      line_ += c;
    }
  }
  FlushSound();
}

void ModemStream::FlushSound() {
  if (sound_.empty()) return;
  if (events_.sound) events_.sound(sound_);
  sound_.clear();
}

std::string ShieldSound(std::string_view sound) {
  std::string out;
  out.reserve(sound.size() + 8);
  for (const char c : sound) {
    out += c;
    if (c == kDle) out += kDle;
  }
  return out;
}

ModemSignal ModemSignals::Decode(char code, std::string& digit) {
  if (code == '/') {
    pressed_ = true;
    reported_ = false;
    return ModemSignal::kNone;
  }
  if (code == '~') {
    pressed_ = false;
    return ModemSignal::kNone;
  }
  const bool keypad = std::isdigit(static_cast<unsigned char>(code)) ||
                      code == '*' || code == '#' ||
                      (code >= 'A' && code <= 'D');
  if (keypad) {
    if (pressed_ && reported_) return ModemSignal::kNone;
    reported_ = pressed_;
    digit.assign(1, code);
    return ModemSignal::kDigit;
  }
  if (code == 'R') return ModemSignal::kRing;
  if (profile_.pick_up_code != '\0' && code == profile_.pick_up_code)
    return ModemSignal::kPickUp;
  if (profile_.hang_up_codes.find(code) != std::string_view::npos)
    return ModemSignal::kHangUp;
  if (code == profile_.overrun_code) return ModemSignal::kOverrun;
  if (code == profile_.underrun_code) return ModemSignal::kUnderrun;
  return ModemSignal::kNone;
}

std::optional<CallerIdField> ParseCallerIdLine(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const std::string_view key = Trim(line.substr(0, equals));
  for (const std::string_view known : {"DATE", "TIME", "NMBR", "NAME", "MESG"})
    if (key == known)
      return CallerIdField{std::string(key),
                           std::string(Trim(line.substr(equals + 1)))};
  return std::nullopt;
}

void CallerId::Add(const CallerIdField& field) {
  any = true;
  const bool absent = field.value == "P" || field.value == "O";
  if (field.key == "NMBR") {
    number = field.value == "P" ? kWithheldCallerNumber
             : absent           ? ""
                                : field.value;
  } else if (field.key == "NAME") {
    name = absent ? "" : field.value;
  } else if (field.key == "MESG" && field.value.size() >= 2) {
    // A parameter of its own: 04 = the number is absent, 08 = the name;
    // then its length and the reason in hex ("50" = "P", withheld).
    const std::string_view type = std::string_view(field.value).substr(0, 2);
    if (type == "04")
      number = field.value.substr(4) == "50" ? kWithheldCallerNumber : "";
    if (type == "08") name.clear();
  }
}

std::optional<ModemResult> ResultOf(std::string_view line) {
  static constexpr std::pair<std::string_view, ModemResult> kResults[] = {
      {"OK", ModemResult::kOk},
      {"CONNECT", ModemResult::kConnect},
      {"VCON", ModemResult::kVcon},
      {"RING", ModemResult::kRing},
      {"ERROR", ModemResult::kError},
      {"BUSY", ModemResult::kBusy},
      {"NO DIALTONE", ModemResult::kNoDialtone},
      {"NO DIAL TONE", ModemResult::kNoDialtone},
      {"NO ANSWER", ModemResult::kNoAnswer},
      {"NO CARRIER", ModemResult::kNoCarrier}};
  line = Trim(line);
  for (const auto& [text, result] : kResults)
    if (line == text) return result;
  return std::nullopt;
}

std::string_view ResultText(ModemResult result) {
  switch (result) {
    case ModemResult::kOk:
      return "OK";
    case ModemResult::kConnect:
      return "CONNECT";
    case ModemResult::kVcon:
      return "VCON";
    case ModemResult::kRing:
      return "RING";
    case ModemResult::kError:
      return "ERROR";
    case ModemResult::kBusy:
      return "BUSY";
    case ModemResult::kNoDialtone:
      return "NO DIALTONE";
    case ModemResult::kNoAnswer:
      return "NO ANSWER";
    case ModemResult::kNoCarrier:
      return "NO CARRIER";
    case ModemResult::kTimeout:
      return "no answer from the modem";
    case ModemResult::kLost:
      return "the modem went away";
  }
  return "";
}

bool ListsVoiceClass(std::span<const std::string> lines) {
  for (const std::string& line : lines) {
    const std::vector<int> numbers = ListNumbers(line);
    if (std::find(numbers.begin(), numbers.end(), 8) != numbers.end())
      return true;
  }
  return false;
}

std::optional<ModemSampleFormat> ChooseSampleFormat(
    const ModemProfile& profile, std::span<const std::string> lines) {
  std::vector<int> listed;
  for (std::string_view line : lines) {
    if (line.starts_with("+VSM:")) line.remove_prefix(5);
    line = Trim(line);
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
      listed.push_back(std::atoi(std::string(line).c_str()));
  }
  for (const ModemSampleFormat& format : profile.formats)
    if (std::find(listed.begin(), listed.end(), format.number) != listed.end())
      return format;
  return std::nullopt;
}

void DecodeSound(ModemSound sound, std::string_view bytes,
                 std::vector<int16_t>& out, std::string& carry) {
  switch (sound) {
    case ModemSound::kLinear8:
      for (const char c : bytes)
        out.push_back(static_cast<int16_t>(
            (static_cast<int>(static_cast<uint8_t>(c)) - 128) * 256));
      break;
    case ModemSound::kMuLaw:
      for (const char c : bytes)
        out.push_back(MuLawToLinear(static_cast<uint8_t>(c)));
      break;
    case ModemSound::kLinear16: {
      carry.append(bytes);
      size_t i = 0;
      for (; i + 1 < carry.size(); i += 2)
        out.push_back(
            static_cast<int16_t>(static_cast<uint8_t>(carry[i]) |
                                 (static_cast<uint8_t>(carry[i + 1]) << 8)));
      carry.erase(0, i);
      break;
    }
  }
}

std::string EncodeSound(ModemSound sound, std::span<const int16_t> samples) {
  std::string out;
  for (const int16_t s : samples) {
    switch (sound) {
      case ModemSound::kLinear8:
        out += static_cast<char>((s >> 8) + 128);
        break;
      case ModemSound::kMuLaw:
        out += static_cast<char>(LinearToMuLaw(s));
        break;
      case ModemSound::kLinear16:
        out += static_cast<char>(s & 0xFF);
        out += static_cast<char>((s >> 8) & 0xFF);
        break;
    }
  }
  return out;
}

}  // namespace lw
