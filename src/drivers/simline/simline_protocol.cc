#include "drivers/simline/simline_protocol.h"

#include <algorithm>
#include <cstdio>

namespace lw {
namespace {

// Everything up to the first 0x00, at most `max` bytes.
std::string_view Field(const std::string& s, size_t max) {
  std::string_view v(s);
  v = v.substr(0, v.find('\0'));
  return v.substr(0, max);
}

bool IsKnownType(uint8_t t) {
  switch (static_cast<SimlineType>(t)) {
    case SimlineType::kOffer:
    case SimlineType::kRing:
    case SimlineType::kCallerId:
    case SimlineType::kPickUp:
    case SimlineType::kDigit:
    case SimlineType::kHangup:
    case SimlineType::kWaitCall:
    case SimlineType::kAnswerCall:
    case SimlineType::kModemText:
    case SimlineType::kLoseLine:
    case SimlineType::kLineBack:
    case SimlineType::kOffered:
    case SimlineType::kBusy:
    case SimlineType::kAnswered:
    case SimlineType::kDialed:
    case SimlineType::kHungUp:
    case SimlineType::kAudio:
      return true;
  }
  return false;
}

}  // namespace

bool IsSimlineDigit(char c) {
  return (c >= '0' && c <= '9') || c == '*' || c == '#' ||
         (c >= 'A' && c <= 'D');
}

SimlineMessage SimlineOf(SimlineType type) {
  SimlineMessage m;
  m.type = type;
  return m;
}

SimlineMessage SimlineAudio(std::span<const int16_t> samples) {
  SimlineMessage m;
  m.type = SimlineType::kAudio;
  m.samples.assign(samples.begin(), samples.end());
  return m;
}

std::string EncodeSimline(const SimlineMessage& m) {
  std::string payload;
  switch (m.type) {
    case SimlineType::kCallerId: {
      const std::string_view name = Field(m.name, kSimlineMaxPayload - 1);
      const std::string_view number =
          Field(m.number, kSimlineMaxPayload - 1 - name.size());
      payload.append(name);
      payload.push_back('\0');
      payload.append(number);
      break;
    }
    case SimlineType::kDialed:
      payload.append(Field(m.number, kSimlineMaxPayload));
      break;
    case SimlineType::kModemText:
      payload.append(std::string_view(m.text).substr(0, kSimlineMaxPayload));
      break;
    case SimlineType::kDigit:
      payload.push_back(IsSimlineDigit(m.digit) ? m.digit : '0');
      break;
    case SimlineType::kOffered:
      payload.push_back(m.line_open ? 1 : 0);
      break;
    case SimlineType::kAudio: {
      const size_t n = std::min(m.samples.size(), kSimlineMaxSamples);
      payload.resize(2 * n);
      for (size_t i = 0; i < n; ++i) {
        const auto v = static_cast<uint16_t>(m.samples[i]);
        payload[2 * i] = static_cast<char>(v & 0xFF);
        payload[2 * i + 1] = static_cast<char>(v >> 8);
      }
      break;
    }
    default:
      break;
  }
  std::string frame;
  frame.reserve(kSimlineHeaderBytes + payload.size());
  frame.push_back(static_cast<char>(m.type));
  frame.push_back(static_cast<char>(payload.size() & 0xFF));
  frame.push_back(static_cast<char>(payload.size() >> 8));
  frame += payload;
  return frame;
}

void SimlineDecoder::Feed(std::string_view bytes) {
  if (failed_) return;
  // Drop what was handed out before the buffer grows.
  if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  buffer_.append(bytes);
}

SimlineDecoder::Result SimlineDecoder::Fail(std::string why) {
  failed_ = true;
  error_ = std::move(why);
  buffer_.clear();
  pos_ = 0;
  return Result::kFailed;
}

SimlineDecoder::Result SimlineDecoder::Next(SimlineMessage* out) {
  if (failed_) return Result::kFailed;
  const size_t avail = buffer_.size() - pos_;
  if (avail < 1) return Result::kNeedMore;
  const auto type = static_cast<uint8_t>(buffer_[pos_]);
  if (!IsKnownType(type)) {
    char why[48];
    std::snprintf(why, sizeof why, "unknown frame type 0x%02x", type);
    return Fail(why);
  }
  if (avail < kSimlineHeaderBytes) return Result::kNeedMore;
  const size_t len =
      static_cast<uint8_t>(buffer_[pos_ + 1]) |
      (static_cast<size_t>(static_cast<uint8_t>(buffer_[pos_ + 2])) << 8);
  if (avail < kSimlineHeaderBytes + len) return Result::kNeedMore;
  const std::string_view payload(buffer_.data() + pos_ + kSimlineHeaderBytes,
                                 len);

  SimlineMessage m;
  m.type = static_cast<SimlineType>(type);
  switch (m.type) {
    case SimlineType::kCallerId: {
      const size_t zero = payload.find('\0');
      if (zero == std::string_view::npos ||
          payload.find('\0', zero + 1) != std::string_view::npos)
        return Fail("caller identification without one separator");
      m.name.assign(payload.substr(0, zero));
      m.number.assign(payload.substr(zero + 1));
      break;
    }
    case SimlineType::kDialed:
      if (payload.find('\0') != std::string_view::npos)
        return Fail("dialled number with a zero byte");
      m.number.assign(payload);
      break;
    case SimlineType::kModemText:
      m.text.assign(payload);
      break;
    case SimlineType::kDigit:
      if (len != 1 || !IsSimlineDigit(payload[0]))
        return Fail("bad keypad digit");
      m.digit = payload[0];
      break;
    case SimlineType::kOffered:
      if (len != 1 || static_cast<uint8_t>(payload[0]) > 1)
        return Fail("bad offered frame");
      m.line_open = payload[0] == 1;
      break;
    case SimlineType::kAudio:
      if (len == 0 || len % 2 != 0) return Fail("bad audio frame length");
      m.samples.resize(len / 2);
      for (size_t i = 0; i < len / 2; ++i) {
        const auto lo = static_cast<uint8_t>(payload[2 * i]);
        const auto hi = static_cast<uint8_t>(payload[2 * i + 1]);
        m.samples[i] =
            static_cast<int16_t>(static_cast<uint16_t>(lo | hi << 8));
      }
      break;
    default:
      if (len != 0) return Fail("unexpected payload");
      break;
  }
  pos_ += kSimlineHeaderBytes + len;
  if (pos_ == buffer_.size()) {
    buffer_.clear();
    pos_ = 0;
  }
  *out = std::move(m);
  return Result::kMessage;
}

}  // namespace lw
