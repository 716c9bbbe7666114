#include "drivers/voice_modem/modem_session.h"

#include <utility>

namespace lw {

ModemSession::ModemSession(Clock& clock, SerialPort& port, Events events)
    : clock_(clock),
      port_(port),
      events_(std::move(events)),
      stream_({[this](const std::string& line) { OnLine(line); },
               [this](char code) {
                 if (events_.code) events_.code(code);
               },
               [this](std::string_view sound) {
                 if (events_.sound) events_.sound(sound);
               },
               [this] {
                 if (events_.stream_end) events_.stream_end();
               }}) {
  timeout_ = clock_.CreateTimer([this] { Finish(ModemResult::kTimeout); });
  port_.SetInputLen(0);
  port_.SetRThreshold(1);
  port_.SetEvents({[this] { OnComm(); }});
}

ModemSession::~ModemSession() {
  *alive_ = false;
  port_.SetEvents({});
}

void ModemSession::Command(std::string command, Done done, uint32_t timeout_ms,
                           bool streams) {
  queue_.push_back(
      {std::move(command), std::move(done), timeout_ms, streams, false, {}});
  if (queue_.size() == 1) SendNext();
}

void ModemSession::Write(std::string_view bytes) {
  port_.Output(std::string(bytes));
}

void ModemSession::Abandon(ModemResult result) {
  // None of the abandoned commands goes out; what their callbacks queue
  // does.
  timeout_->SetEnabled(false);
  std::deque<Pending> gone = std::exchange(queue_, {});
  const std::shared_ptr<bool> alive = alive_;
  for (Pending& p : gone) {
    if (p.done) p.done(result, p.lines);
    if (!*alive) return;
  }
  SendNext();
}

void ModemSession::OnComm() {
  if (port_.CommEvent() == kCommEvPortLost) {
    Abandon(ModemResult::kLost);
    if (events_.lost) events_.lost();
    return;
  }
  const std::shared_ptr<bool> alive = alive_;
  while (*alive && port_.PortOpen() && port_.InBufferCount() > 0)
    stream_.Feed(port_.Input());
}

void ModemSession::OnLine(const std::string& line) {
  const std::optional<ModemResult> result = ResultOf(line);
  const bool waiting = !queue_.empty() && queue_.front().sent;
  if (waiting && result && *result != ModemResult::kRing) {
    if (*result == ModemResult::kConnect && queue_.front().streams)
      stream_.SetStreaming(true);
    Finish(*result);
    return;
  }
  // The echo of the command itself, should the modem echo.
  if (waiting && line == queue_.front().command) return;
  if (waiting && !result && !ParseCallerIdLine(line)) {
    queue_.front().lines.push_back(line);
    return;
  }
  if (events_.unsolicited) events_.unsolicited(line);
}

void ModemSession::SendNext() {
  if (queue_.empty() || queue_.front().sent) return;
  Pending& next = queue_.front();
  next.sent = true;
  timeout_->SetInterval(next.timeout_ms);
  timeout_->SetEnabled(true);
  if (port_.Output(next.command + "\r") != 0) Finish(ModemResult::kLost);
}

void ModemSession::Finish(ModemResult result) {
  if (queue_.empty()) return;
  timeout_->SetEnabled(false);
  Pending done = std::move(queue_.front());
  queue_.pop_front();
  const std::shared_ptr<bool> alive = alive_;
  if (done.done) done.done(result, done.lines);
  if (*alive) SendNext();
}

}  // namespace lw
