#include "modem_sim.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace lw {

namespace {

constexpr char kDle = 0x10;
constexpr char kEtx = 0x03;
constexpr char kCan = 0x18;
constexpr uint32_t kTickMs = 20;
constexpr uint32_t kDigitSpacingMs = 500;

enum class Coding { kUnsigned8, kMuLaw, kSigned16 };

struct Format {
  int number;
  Coding coding;
  const char* description;
};

std::string Json(const std::string& event, const std::string& more = "") {
  return "{\"event\":\"" + event + "\"" + (more.empty() ? "" : "," + more) +
         "}";
}

uint8_t ToMuLaw(int sample) {
  const int sign = sample < 0 ? 0x80 : 0;
  int magnitude = std::min(std::abs(sample), 32635) + 0x84;
  int segment = 0;
  while (segment < 7 && magnitude > (0xFF << (segment + 3))) ++segment;
  const int low = (magnitude >> (segment + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (segment << 4) | low));
}

int FromMuLaw(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  const int t = (((code & 0x0F) << 3) + 0x84) << ((code >> 4) & 7);
  return (code & 0x80) ? 0x84 - t : t - 0x84;
}

}  // namespace

// What sets one chipset apart, as its manual describes it.
struct ModemSim::Chipset {
  const char* name;
  const char* identity;      // ATI
  const char* manufacturer;  // AT+GMI
  bool hash_commands;        // #CLS, #CID, #VTX ... instead of +FCLASS ...
  std::vector<Format> formats;
  bool spaced_reports;        // "NMBR = 5551234" rather than "NMBR=5551234"
  bool answers_with_ata;      // ATA and VCON off-hook in voice mode
  char pick_up;               // shielded code of an extension lifted, or 0
  const char* hang_up_codes;  // busy, dial tone, silence, loop break
  bool digit_press_form;      // DLE / DLE d DLE ~
  bool any_byte_aborts;       // not only DLE ! ends a recording
};

struct ModemSim::CallState {
  CallScript script;
  uint32_t start = 0;
  int rings = 0;
  bool talking = false;
  bool over = false;
  bool far_hung_up = false;
  uint32_t talk_start = 0;
  size_t sound_sent = 0;  // samples of the talk streamed to the host
  size_t digits_sent = 0;
  std::vector<int16_t> capture;
  std::vector<int16_t> said;  // a driven caller's sound, not yet streamed
  bool dialing = false;
  bool caller_id_due = false;  // the identity follows the first ring
  uint32_t HangUpAt() const {
    if (script.hangup_after_ms >= 0)
      return static_cast<uint32_t>(script.hangup_after_ms);
    if (script.play.empty() && script.digits.empty()) return 10000;
    const uint32_t sound =
        script.play.empty() ? 0
                            : script.play_after_ms +
                                  static_cast<uint32_t>(script.play.size() / 8);
    const uint32_t digits =
        script.digits.empty()
            ? 0
            : script.digits_after_ms +
                  kDigitSpacingMs *
                      static_cast<uint32_t>(script.digits.size() - 1);
    return std::max(sound, digits) + 1000;
  }
};

namespace {

const std::vector<ModemSim::Chipset*>& Chipsets() {
  static ModemSim::Chipset usr{"usr",
                               "U.S. Robotics 56K Voice Faxmodem",
                               "U.S. Robotics",
                               false,
                               {{128, Coding::kUnsigned8, "8-BIT LINEAR"},
                                {130, Coding::kMuLaw, "ULAW"}},
                               true,
                               false,
                               0,
                               "bdss",
                               false,
                               false};
  static ModemSim::Chipset conexant{"conexant",
                                    "CX93001-EIS_V0.2002-V92",
                                    "CONEXANT",
                                    false,
                                    {{0, Coding::kUnsigned8, "SIGNED PCM"},
                                     {1, Coding::kUnsigned8, "UNSIGNED PCM"},
                                     {4, Coding::kMuLaw, "G.711U"},
                                     {132, Coding::kSigned16, "16-BIT LINEAR"}},
                                    true,
                                    false,
                                    'P',
                                    "bdsl",
                                    false,
                                    false};
  static ModemSim::Chipset rockwell{
      "rockwell",
      "RC56 Voice 56000",
      "ROCKWELL",
      true,
      {{0, Coding::kUnsigned8, "8-BIT LINEAR"}, {3, Coding::kMuLaw, "ULAW"}},
      false,
      true,
      0,
      "bdql",
      true,
      true};
  static const std::vector<ModemSim::Chipset*> all = {&usr, &conexant,
                                                      &rockwell};
  return all;
}

const ModemSim::Chipset& ChipsetNamed(const std::string& name) {
  for (const ModemSim::Chipset* c : Chipsets())
    if (name == c->name) return *c;
  return *Chipsets()[1];
}

}  // namespace

bool ModemSim::Known(const std::string& profile) {
  for (const Chipset* c : Chipsets())
    if (profile == c->name) return true;
  return false;
}

ModemSim::ModemSim(Clock& clock, const std::string& profile, Handlers handlers)
    : clock_(clock),
      chipset_(ChipsetNamed(profile)),
      handlers_(std::move(handlers)) {
  tick_ = clock_.CreateTimer([this] { OnTick(); });
  tick_->SetInterval(kTickMs);
}

ModemSim::~ModemSim() = default;

bool ModemSim::Call(CallScript script) {
  if (call_) return false;
  call_ = std::make_unique<CallState>();
  call_->script = std::move(script);
  call_->start = clock_.TickCount();
  handlers_.event(Json("offered", std::string("\"line_open\":") +
                                      (voice_class_ == 8 ? "true" : "false")));
  if (!call_->script.driven) Ring();
  tick_->SetEnabled(true);
  return true;
}

bool ModemSim::Await(CallScript script) {
  if (call_ || awaited_) return false;
  awaited_ = std::make_unique<CallScript>(std::move(script));
  return true;
}

void ModemSim::EndDial() {
  // The called party's answer, or the exchange's word for why none came.
  static const std::pair<const char*, std::pair<const char*, int>> kResults[] =
      {{"busy", {"BUSY", 7}},
       {"nodialtone", {"NO DIALTONE", 6}},
       {"noanswer", {"NO ANSWER", 8}},
       {"nocarrier", {"NO CARRIER", 3}}};
  for (const auto& [name, result] : kResults) {
    if (call_->script.dial_result != name) continue;
    Result(result.first, result.second);
    handlers_.event(
        Json("refused", std::string("\"result\":\"") + result.first + "\""));
    off_hook_ = false;
    EndCall("caller");
    return;
  }
  AnswerDial();
}

void ModemSim::RingNow() {
  if (call_ && !call_->talking) Ring();
}

void ModemSim::CallerIdNow(const std::string& name, const std::string& number) {
  const char* eq = chipset_.spaced_reports ? " = " : "=";
  Send(std::string("\r\nNMBR") + eq + (number.empty() ? "P" : number) +
       "\r\nNAME" + eq + (name.empty() ? "P" : name) + "\r\n");
}

void ModemSim::PickUpNow() {
  if (!call_ || call_->talking) return;
  if (chipset_.pick_up != 0) Code(chipset_.pick_up);
  Converse(false);
}

void ModemSim::DigitsNow(const std::string& digits) {
  for (const char d : digits) Code(d);
}

void ModemSim::SoundNow(const std::vector<int16_t>& samples) {
  if (call_)
    call_->said.insert(call_->said.end(), samples.begin(), samples.end());
}

void ModemSim::HangUpNow() {
  if (!call_ || call_->over) return;
  if (call_->talking) SignalHangUp();
  EndCall("caller");
}

void ModemSim::AnswerDial() {
  if (!call_ || !call_->dialing) return;
  call_->dialing = false;
  off_hook_ = true;
  Result("VCON", 1);
  Converse(true);
}

bool ModemSim::talking() const { return call_ && call_->talking; }

size_t ModemSim::heard() const { return call_ ? call_->capture.size() : 0; }

void ModemSim::CallerHangsUp() {
  awaited_.reset();
  if (call_ && !call_->over) EndCall("caller");
}

void ModemSim::Send(const std::string& bytes) {
  if (handlers_.to_host) handlers_.to_host(bytes);
}

void ModemSim::Code(char code) { Send(std::string{kDle, code}); }

void ModemSim::Result(const std::string& word, int number) {
  Send(ResultBytes(word, number));
}

std::string ModemSim::ResultBytes(const std::string& word, int number) const {
  return words_ ? "\r\n" + word + "\r\n" : std::to_string(number) + "\r";
}

void ModemSim::Ring() {
  ++call_->rings;
  Result("RING", 2);
  handlers_.event(Json("ring", "\"count\":" + std::to_string(call_->rings)));
  // The exchange sends the caller's identity in the pause after the first
  // ring; the modem reports it if caller identification is on by then.
  if (call_->rings == 1 && !call_->script.driven) call_->caller_id_due = true;
  if (call_->script.pickup_after_ring == call_->rings) {
    if (chipset_.pick_up != 0) Code(chipset_.pick_up);
    handlers_.event(
        Json("picked_up", "\"after_rings\":" + std::to_string(call_->rings)));
    Converse(false);
  }
}

void ModemSim::ReportCaller() {
  call_->caller_id_due = false;
  if (caller_id_) {
    const char* eq = chipset_.spaced_reports ? " = " : "=";
    const LocalDateTime now = clock_.Now();
    char date[8], time[8];
    std::snprintf(date, sizeof date, "%02d%02d", now.month % 100,
                  now.day % 100);
    std::snprintf(time, sizeof time, "%02d%02d", now.hour % 100,
                  now.minute % 100);
    const CallScript& s = call_->script;
    std::string report =
        std::string("\r\nDATE") + eq + date + "\r\nTIME" + eq + time +
        "\r\nNMBR" + eq +
        (s.withhold_number || s.number.empty() ? "P" : s.number) + "\r\nNAME" +
        eq + (s.withhold_name || s.name.empty() ? "P" : s.name) + "\r\n";
    Send(report);
  }
}

void ModemSim::Converse(bool answered) {
  call_->talking = true;
  call_->talk_start = clock_.TickCount();
  if (answered)
    handlers_.event(
        Json("answered", "\"after_rings\":" + std::to_string(call_->rings)));
}

void ModemSim::OnTick() {
  const uint32_t now = clock_.TickCount();
  if (mode_ == Mode::kTransmit && draining_) {
    // The sound the host sent has played out at 8,000 samples a second.
    const uint32_t played =
        transmit_started_ + static_cast<uint32_t>(transmitted_ / 8);
    if (static_cast<int32_t>(now - played) >= 0) {
      draining_ = false;
      mode_ = Mode::kCommand;
      Result(chipset_.answers_with_ata ? "VCON" : "OK", 0);
    }
  }
  if (call_ && !call_->over && call_->caller_id_due &&
      static_cast<int32_t>(now - call_->start -
                           call_->script.ring_interval_ms / 2) >= 0)
    ReportCaller();
  if (call_ && !call_->over && call_->dialing && !call_->script.driven) {
    if (static_cast<int32_t>(now - call_->start -
                             call_->script.answer_after_ms) >= 0)
      EndDial();
  } else if (call_ && !call_->over) {
    if (call_->script.driven) {
      if (call_->talking) TalkTick();
    } else if (!call_->talking) {
      const uint32_t due =
          call_->start + call_->rings * call_->script.ring_interval_ms;
      if (static_cast<int32_t>(now - due) >= 0) {
        if (call_->rings >= call_->script.rings)
          EndCall("caller");
        else
          Ring();
      }
    } else {
      TalkTick();
    }
  } else if (call_ && call_->far_hung_up && mode_ == Mode::kReceive) {
    TalkTick();  // the modem keeps streaming what the line carries
  }
  if (!call_ && mode_ == Mode::kCommand && !draining_) tick_->SetEnabled(false);
}

void ModemSim::TalkTick() {
  const uint32_t elapsed = clock_.TickCount() - call_->talk_start;
  const CallScript& s = call_->script;
  if (!call_->over && !s.driven) {
    while (call_->digits_sent < s.digits.size() &&
           elapsed >=
               s.digits_after_ms + kDigitSpacingMs * call_->digits_sent) {
      const char d = s.digits[call_->digits_sent++];
      if (chipset_.digit_press_form)
        Send(std::string{kDle, '/', kDle, d, kDle, '~'});
      else
        Code(d);
      handlers_.event(Json("digit", std::string("\"digit\":\"") + d + "\""));
    }
  }
  if (mode_ == Mode::kReceive) {
    const size_t due = static_cast<size_t>(elapsed) * 8;
    if (due > call_->sound_sent) {
      std::string bytes = SoundBytes(due - call_->sound_sent);
      std::string shielded;
      for (const char c : bytes) {
        shielded += c;
        if (c == kDle) shielded += kDle;
      }
      Send(shielded);
    }
  } else {
    call_->sound_sent = static_cast<size_t>(elapsed) * 8;
  }
  if (!call_->over && !s.driven && elapsed >= call_->HangUpAt()) {
    SignalHangUp();
    EndCall("caller");
  }
}

void ModemSim::SignalHangUp() {
  // The chipset's code for what the line carries once the caller is gone.
  const std::string& signal = call_->script.hangup_signal;
  const int which = signal == "dialtone"  ? 1
                    : signal == "silence" ? 2
                    : signal == "loop"    ? 3
                                          : 0;
  Code(chipset_.hang_up_codes[which]);
}

std::string ModemSim::SoundBytes(size_t samples) {
  const Format* format = nullptr;
  for (const Format& f : chipset_.formats)
    if (f.number == format_) format = &f;
  std::string out;
  const CallScript& s = call_->script;
  for (size_t i = 0; i < samples; ++i) {
    const size_t at = call_->sound_sent + i;
    const size_t from = static_cast<size_t>(s.play_after_ms) * 8;
    int v = !call_->over && at >= from && at - from < s.play.size()
                ? s.play[at - from]
                : 0;
    if (s.driven) {
      const size_t said = std::min(call_->said.size(), samples);
      v = i < said ? call_->said[i] : 0;
    }
    const Coding coding = format ? format->coding : Coding::kUnsigned8;
    if (coding == Coding::kUnsigned8) {
      out += static_cast<char>((v >> 8) + 128);
    } else if (coding == Coding::kMuLaw) {
      out += static_cast<char>(ToMuLaw(v));
    } else {
      out += static_cast<char>(v & 0xFF);
      out += static_cast<char>((v >> 8) & 0xFF);
    }
  }
  call_->sound_sent += samples;
  call_->said.erase(call_->said.begin(),
                    call_->said.begin() + static_cast<std::ptrdiff_t>(std::min(
                                              call_->said.size(), samples)));
  return out;
}

void ModemSim::TakeSound(const std::string& bytes) {
  transmitted_ += bytes.size();
  if (!call_ || call_->over || !call_->talking) return;
  Coding coding = Coding::kUnsigned8;
  for (const Format& f : chipset_.formats)
    if (f.number == format_) coding = f.coding;
  std::vector<int16_t>& capture = call_->capture;
  if (coding == Coding::kSigned16) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      capture.push_back(
          static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                               (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return;
  }
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    capture.push_back(static_cast<int16_t>(
        coding == Coding::kMuLaw ? FromMuLaw(b) : (b - 128) * 256));
  }
}

void ModemSim::EndCall(const char* by) {
  call_->over = true;
  call_->far_hung_up = std::string(by) == "caller";
  // The capture is complete before anyone hears the call is over.
  if (handlers_.call_over) handlers_.call_over(call_->capture);
  handlers_.event(Json("hangup", std::string("\"by\":\"") + by + "\""));
  if (!(call_->far_hung_up && mode_ == Mode::kReceive)) call_.reset();
}

void ModemSim::StopReceiving() {
  mode_ = Mode::kCommand;
  Send(std::string{kDle, kEtx});
  Result("OK", 0);
  if (call_ && call_->over) call_.reset();
}

void ModemSim::FromHost(const std::string& bytes) {
  std::string sound;
  for (const char c : bytes) {
    if (mode_ == Mode::kReceive) {
      if (dle_) {
        dle_ = false;
        if (c == '!' || chipset_.any_byte_aborts) StopReceiving();
      } else if (c == kDle) {
        dle_ = true;
      } else if (chipset_.any_byte_aborts) {
        StopReceiving();
      }
    } else if (mode_ == Mode::kTransmit && !draining_) {
      if (dle_) {
        dle_ = false;
        if (c == kDle) {
          sound += kDle;
        } else if (c == kEtx) {
          TakeSound(std::exchange(sound, {}));
          draining_ = true;
          tick_->SetEnabled(true);
        } else if (c == kCan) {
          sound.clear();
          mode_ = Mode::kCommand;
          Result("OK", 0);
        }
      } else if (c == kDle) {
        dle_ = true;
      } else {
        sound += c;
      }
    } else if (mode_ == Mode::kCommand) {
      if (echo_) Send(std::string(1, c));
      if (c == '\r') {
        Command(std::exchange(line_, {}));
      } else if (c != '\n' && line_.size() < 256) {
        line_ += c;
      }
    }
  }
  if (!sound.empty()) TakeSound(sound);
}

void ModemSim::Command(const std::string& line) {
  std::string text;
  for (const char c : line)
    if (c != ' ') text += c;
  if (text.empty()) return;
  if (text.size() < 2 ||
      std::toupper(static_cast<unsigned char>(text[0])) != 'A' ||
      std::toupper(static_cast<unsigned char>(text[1])) != 'T') {
    Result("ERROR", 4);
    return;
  }
  std::string info;
  if (!Execute(text.substr(2), info)) {
    Send(info);
    Result("ERROR", 4);
    return;
  }
  Send(info);
}

// Runs the commands after "AT"; false for one the modem refuses. Adds the
// answer lines to `out`, and the final result unless a command sent its own.
bool ModemSim::Execute(std::string rest, std::string& out) {
  // Information text: framed like a word result under V1, ended only under
  // V0.
  auto line = [&out, this](const std::string& text) {
    out += words_ ? "\r\n" + text + "\r\n" : text + "\r\n";
  };
  const bool voice = voice_class_ == 8;
  const std::string cls = chipset_.hash_commands ? "#CLS" : "+FCLASS";
  const std::string vx = chipset_.hash_commands ? "#V" : "+V";
  while (!rest.empty()) {
    const char first =
        static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    if (first == '+' || first == '#' || first == '-') {
      const size_t end = rest.find(';');
      std::string cmd = rest.substr(0, end);
      rest = end == std::string::npos ? "" : rest.substr(end + 1);
      for (char& c : cmd)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (cmd == cls + "=?") {
        line(chipset_.hash_commands ? "0,1,2,8" : "0,1,2,2.0,8");
      } else if (cmd.rfind(cls + "=", 0) == 0) {
        voice_class_ = std::atoi(cmd.c_str() + cls.size() + 1);
      } else if (cmd == cls + "?") {
        line(std::to_string(voice_class_));
      } else if (cmd == "+GMI") {
        line(chipset_.manufacturer);
      } else if (cmd == (chipset_.hash_commands ? "#CID=1" : "+VCID=1")) {
        caller_id_ = true;
      } else if ((cmd == "-STE=1" && chipset_.pick_up != 0) ||
                 (voice && cmd.rfind(vx + "SD", 0) == 0)) {
        // Extension detection and silence detection: taken as they are.
      } else if (voice && cmd == vx + "SM=?") {
        for (const Format& f : chipset_.formats)
          line(std::to_string(f.number) + ",\"" + f.description +
               "\",8,0,(8000),(0),(0)");
      } else if (voice && cmd.rfind(vx + "SM=", 0) == 0) {
        const int n = std::atoi(cmd.c_str() + vx.size() + 3);
        if (std::none_of(chipset_.formats.begin(), chipset_.formats.end(),
                         [n](const Format& f) { return f.number == n; }))
          return false;
        format_ = n;
      } else if (voice && !chipset_.answers_with_ata && cmd == "+VLS=1") {
        if (call_ && !call_->talking && !call_->over) Converse(true);
        off_hook_ = true;
      } else if (voice && (cmd == vx + "TX" || cmd == vx + "RX")) {
        if (!off_hook_) return false;
        Result("CONNECT", 1);
        dle_ = false;
        if (cmd == vx + "TX") {
          mode_ = Mode::kTransmit;
          transmit_started_ = clock_.TickCount();
          transmitted_ = 0;
        } else {
          mode_ = Mode::kReceive;
        }
        tick_->SetEnabled(true);
        return true;  // the rest of the line is sound
      } else {
        return false;
      }
      continue;
    }
    if (first == 'D') {
      const std::string dial = rest.substr(1);
      if ((expect_dial_ || awaited_) && !call_ && voice) {
        // The called party rings; AnswerDial (driven) or the awaited
        // script's time takes the call.
        CallScript driven;
        driven.driven = true;
        call_ = std::make_unique<CallState>();
        call_->script = expect_dial_ ? driven : std::move(*awaited_);
        expect_dial_ = false;
        awaited_.reset();
        call_->start = clock_.TickCount();
        call_->dialing = true;
        const size_t digits = dial.find_first_of("0123456789*#+");
        handlers_.event(
            Json("dialed",
                 "\"number\":\"" +
                     (digits == std::string::npos ? "" : dial.substr(digits)) +
                     "\""));
        tick_->SetEnabled(true);
        return true;
      }
      // No one to answer: the simulated exchange reports no carrier.
      out += ResultBytes("NO CARRIER", 3);
      return true;
    }
    rest.erase(0, 1);
    int value = 0;
    while (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest[0]))) {
      value = value * 10 + (rest[0] - '0');
      rest.erase(0, 1);
    }
    switch (first) {
      case 'E':
        echo_ = value != 0;
        break;
      case 'V':
        words_ = value != 0;
        break;
      case 'Q':
      case 'L':
      case 'M':
      case 'X':
        break;
      case 'Z':
        echo_ = words_ = true;
        voice_class_ = 0;
        caller_id_ = off_hook_ = false;
        break;
      case 'I':
        line(chipset_.identity);
        break;
      case 'H':
        off_hook_ = false;
        if (call_ && call_->talking && !call_->over) EndCall("line");
        break;
      case 'A':
        if (!voice || !chipset_.answers_with_ata || !call_) return false;
        off_hook_ = true;
        if (!call_->talking) Converse(true);
        out += ResultBytes("VCON", 1);
        return true;
      default:
        return false;
    }
  }
  out += ResultBytes("OK", 0);
  return true;
}

}  // namespace lw
