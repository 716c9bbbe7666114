#include "drivers/sip/sip_line.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>

#include "drivers/sip/sip_stack.h"

namespace lw {
namespace {

// The line wakes every kPaceMs for two 20 ms blocks each way: one wake-up
// where two would do the same work (the far end gets its two RTP packets of
// 20 ms back to back, which its jitter buffer takes in its stride).
constexpr uint32_t kPaceMs = 40;
// At most this much of the far end's sound waits for the line (a longer
// queue means the far end sends faster than the line takes it: the oldest
// goes), and this much is gathered before the first blocks are taken.
constexpr size_t kMaxQueuedSamples = size_t{12} * kLineBlockSamples;
constexpr size_t kPrimedSamples = size_t{4} * kLineBlockSamples;

// A text value of the section; empty when missing or not a text.
std::string ReadText(SettingsStore& store, const std::string& key,
                     std::string_view name) {
  uint32_t type = 0;
  std::string data;
  if (store.GetValue(HKEY_LOCAL_MACHINE, key, name, &type, &data) !=
          StoreStatus::kOk ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return "";
  return data.substr(0, data.find('\0'));
}

}  // namespace

bool ReadSipAccount(SettingsStore& store, const std::string& key,
                    SipAccount& account, std::string& problem) {
  account.address = ReadText(store, key, "txtSipAddress");
  if (account.address.empty()) return false;
  account.auth_user = ReadText(store, key, "txtSipAuthUser");
  account.password = ReadText(store, key, "txtSipPassword");
  account.registrar = ReadText(store, key, "txtSipRegistrar");
  account.outbound_proxy = ReadText(store, key, "txtSipOutboundProxy");
  const std::string listen = ReadText(store, key, "txtSipListen");
  if (!listen.empty()) account.listen = listen;
  account.register_account = ReadText(store, key, "chkSipRegister") == "1";
  const std::string ring = ReadText(store, key, "txtSipRingSeconds");
  if (!ring.empty()) {
    // The controller takes a gap of kMaxRingGapMs between rings for a call
    // picked up elsewhere, so rings come at most 6 s apart.
    uint32_t seconds = 0;
    const auto [end, error] =
        std::from_chars(ring.data(), ring.data() + ring.size(), seconds);
    if (error != std::errc() || end != ring.data() + ring.size() ||
        seconds < 1 || seconds * 1000 >= kMaxRingGapMs)
      problem = "txtSipRingSeconds \"" + ring +
                "\" is not a number of seconds from 1 to 6; rings come every " +
                std::to_string(kRingCadenceMs / 1000) + " s";
    else
      account.ring_ms = seconds * 1000;
  }
  if (SplitSipAddress(account.address).host.empty()) {
    problem = "txtSipAddress \"" + account.address +
              "\" is not a SIP address (sip:user@domain)";
    return false;
  }
  return true;
}

SipLine::SipLine(const LineBackendContext& context, SipAccount account)
    : clock_(context.clock),
      store_(context.store),
      settings_key_(context.settings_key),
      account_(std::move(account)),
      report_(context.report),
      runtime_dir_(context.runtime_dir),
      audio_(context.audio),
      rings_(
          context.clock,
          [this](int32_t count) {
            if (events_.Ring) events_.Ring(count);
          },
          account_.ring_ms),
      pace_(context.clock.CreateTimer([this] { Tick(); })) {
  pace_->SetInterval(kPaceMs);
  audio_.SetChangeHandler([this] { UpdatePacing(); });
}

SipLine::~SipLine() {
  *alive_ = false;
  audio_.SetChangeHandler(nullptr);
  stack_.reset();
}

int32_t SipLine::Initialize() {
  if (!settings_problem_.empty()) Report(settings_problem_);
  settings_problem_.clear();
  if (stack_ != nullptr) return 0;
  stack_ = std::make_unique<SipStack>(clock_, *this, account_);
  start_error_ = stack_->Start();
  if (!start_error_.empty()) {
    stack_.reset();
    return kStackFailed;
  }
  stack_->SetAccepting(open_controls_ > 0);
  PublishState(account_.register_account
                   ? "registering"
                   : "taking calls at " + account_.listen +
                         " (no registration)");
  Report("SIP line " + account_.address + " listening at " + account_.listen +
         (account_.register_account ? ", registering" : ""));
  return 0;
}

int32_t SipLine::Shutdown() {
  EndCall();
  // Unregisters; the next Initialize registers afresh.
  stack_.reset();
  PublishState("stopped");
  lost_ = false;
  registered_ = false;
  return 0;
}

std::string SipLine::ErrorText(int32_t code) {
  switch (code) {
    case kStackFailed:
      return "The SIP line cannot start: " + start_error_;
    case kNoCall:
      return "The SIP line has no such call";
    case kLost:
      return "The SIP line is not registered";
    case kBusy:
      return "The SIP line is busy";
    case kNotStarted:
      return "The SIP line is not started";
    default:
      return "Unknown SIP line error";
  }
}

DeviceInfo SipLine::Caps() {
  const SipAddressParts parts = SplitSipAddress(account_.address);
  DeviceInfo info;
  info.Name = "SIP: " + parts.user + "@" + parts.host;
  info.TapiCapable = true;
  info.VoiceCapable = true;
  info.MonitorDigits = true;
  return info;
}

int32_t SipLine::Open(int32_t, int32_t) {
  if (open_controls_ == 0) {
    if (const int32_t failed = Reload()) return failed;
  }
  if (lost_) return kLost;
  ++open_controls_;
  if (stack_ != nullptr) stack_->SetAccepting(true);
  return 0;
}

int32_t SipLine::Close() {
  if (open_controls_ > 0) --open_controls_;
  if (open_controls_ == 0) {
    if (stack_ != nullptr) stack_->SetAccepting(false);
    EndCall();
  }
  return 0;
}

int32_t SipLine::Answer() {
  if (lost_) return kLost;
  if (state_ != State::kOffered || stack_ == nullptr) return kNoCall;
  rings_.Stop();
  state_ = State::kConnected;
  stack_->Answer(call_);
  received_.clear();
  primed_ = false;
  UpdatePacing();
  if (events_.Connected) events_.Connected();
  return 0;
}

int32_t SipLine::Drop() {
  if (lost_) return kLost;
  if (state_ == State::kIdle) return kNoCall;
  EndCall();
  if (events_.Idle) events_.Idle();
  return 0;
}

int32_t SipLine::MonitorDigits(bool on) {
  if (lost_) return kLost;
  // Digits come through the loop's queue: the change joins it, so that a
  // digit the stack heard before it is judged as the line was then.
  clock_.Post([alive = alive_, this, on, call = call_] {
    if (*alive && call == call_ && state_ != State::kIdle)
      monitoring_digits_ = on;
  });
  return 0;
}

int32_t SipLine::Dial(const std::string& number, std::string& call_text) {
  call_text.clear();
  if (lost_) return kLost;
  if (stack_ == nullptr) return kNotStarted;
  if (state_ != State::kIdle) return kBusy;
  std::string uri = number;
  if (SplitSipAddress(number).host.empty()) {
    // A telephone number: the pauses mean nothing to a SIP call.
    std::string digits;
    for (const char c : number)
      if (c != ',') digits += c;
    uri = "sip:" + digits + "@" + SplitSipAddress(account_.address).host;
  }
  call_ = stack_->NewCall();
  state_ = State::kDialing;
  presses_.Reset();
  stack_->Dial(call_, uri);
  call_text = uri;
  if (events_.Dialing) events_.Dialing();
  return 0;
}

void SipLine::OnOffered(uint32_t call, const NameAndUser& caller) {
  if (state_ != State::kIdle || lost_) {
    // The line got busy meanwhile (a call dialled at the same moment).
    if (stack_ != nullptr) stack_->Hangup(call);
    return;
  }
  call_ = call;
  state_ = State::kOffered;
  presses_.Reset();
  if (events_.InComeCall) events_.InComeCall();
  if (events_.CallerID) events_.CallerID(caller.name, caller.user);
  rings_.Start();
}

void SipLine::OnConnected(uint32_t call) {
  if (call != call_ || state_ != State::kDialing) return;
  state_ = State::kConnected;
  received_.clear();
  primed_ = false;
  UpdatePacing();
  if (events_.Connected) events_.Connected();
}

void SipLine::OnEnded(uint32_t call, const std::string& why) {
  if (call != call_) return;
  switch (state_) {
    case State::kOffered:
      // The caller gave up, or another phone took the call: either way the
      // call is stored as one not answered here.
      if (why == kCompletedElsewhere)
        Report("SIP call answered on another phone, not recorded here: " + why);
      rings_.Stop();
      state_ = State::kIdle;
      if (events_.Idle) events_.Idle();
      break;
    case State::kDialing:
      state_ = State::kIdle;
      Report("SIP call not answered: " + why);
      if (events_.Idle) events_.Idle();
      break;
    case State::kConnected:
      state_ = State::kFarEndGone;
      UpdatePacing();
      if (events_.Disconnected) events_.Disconnected();
      break;
    default:
      break;
  }
}

void SipLine::OnDigit(uint32_t call, DigitPresses::Source source, char key,
                      uint32_t press_id) {
  if (call != call_ || state_ != State::kConnected) return;
  if (!presses_.Take(source, key, press_id, clock_.TickCount())) return;
  if (monitoring_digits_ && events_.MonitorDigit)
    events_.MonitorDigit(std::string(1, key));
}

void SipLine::OnRegistration(bool registered, const std::string& text) {
  const bool changed = registered != registered_ || (!registered && !lost_);
  registered_ = registered;
  if (!changed) return;
  Report(text);
  PublishState(text);
  if (!registered && !lost_) {
    lost_ = true;
    EndCall();
    if (events_.LineLost) events_.LineLost();
  } else if (registered && lost_) {
    lost_ = false;
    if (events_.LineBack) events_.LineBack();
  }
}

int32_t SipLine::Reload() {
  SipAccount account;
  std::string problem;
  if (!ReadSipAccount(store_, settings_key_, account, problem) ||
      account == account_)
    return 0;
  Report("SIP line: the account changed to " + account.address +
         ", starting afresh");
  if (!problem.empty()) Report(problem);
  const bool started = stack_ != nullptr;
  Shutdown();
  account_ = std::move(account);
  rings_.SetInterval(account_.ring_ms);
  if (!started) return 0;
  const int32_t failed = Initialize();
  if (failed) Report(ErrorText(failed));
  return failed;
}

void SipLine::EndCall() {
  rings_.Stop();
  if (state_ != State::kIdle && stack_ != nullptr) stack_->Hangup(call_);
  state_ = State::kIdle;
  monitoring_digits_ = false;
  received_.clear();
  UpdatePacing();
}

void SipLine::PublishState(const std::string& state) {
  const std::string path = runtime_dir_ + "/" + kSipStateFile;
  {
    std::ofstream out(path + ".new", std::ios::trunc);
    out << Caps().Name << '\t' << state << '\n';
    if (!out) return;
  }
  std::rename((path + ".new").c_str(), path.c_str());
}

void SipLine::UpdatePacing() {
  const bool pace = state_ == State::kConnected || audio_.has_sources();
  if (pace != pace_->Enabled()) pace_->SetEnabled(pace);
}

void SipLine::Tick() {
  // The blocks are members: nothing is allocated at the line's pace.
  audio_.PullBlock(block_);
  if (state_ != State::kConnected) return UpdatePacing();
  if (stack_ != nullptr) {
    for (size_t at = 0; at < block_.size(); at += kLineBlockSamples)
      stack_->Send(call_, std::span(block_).subspan(at, kLineBlockSamples));
    stack_->TakeHeard(call_, received_);
  }
  if (received_.size() > kMaxQueuedSamples)
    received_.erase(received_.begin(),
                    received_.end() - static_cast<ptrdiff_t>(kPrimedSamples));
  if (!primed_ && received_.size() >= kPrimedSamples) primed_ = true;
  std::fill(block_.begin(), block_.end(), int16_t{0});
  if (primed_) {
    const size_t n = std::min(received_.size(), block_.size());
    std::copy_n(received_.begin(), n, block_.begin());
    received_.erase(received_.begin(),
                    received_.begin() + static_cast<ptrdiff_t>(n));
    if (received_.empty()) primed_ = false;
  }
  audio_.Received(block_);
}

std::unique_ptr<LineBackend> NewSipBackend(const LineBackendContext& context) {
  SipAccount account;
  std::string problem;
  const bool configured =
      ReadSipAccount(context.store, context.settings_key, account, problem);
  if (!configured) {
    std::remove((context.runtime_dir + "/" + kSipStateFile).c_str());
    // Reported now, though the journal may not be on yet: there is no line
    // to report it later.
    if (!problem.empty() && context.report) context.report(problem);
    return nullptr;
  }
  auto line = std::make_unique<SipLine>(context, std::move(account));
  line->SetSettingsProblem(problem);
  return line;
}

}  // namespace lw
