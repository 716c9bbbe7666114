// The outbox: notifications that must reach a server even when it is down
// or the process stops before it answers. Each item is one file in the
// outbox folder, written and flushed to disk (the folder too) before the
// first attempt and removed once the server has accepted the item.
//
// Items are of a kind ("mail", ...); each kind has one sender, which takes
// the item's payload text and reports the outcome once: accepted, failed
// (worth another attempt) or refused (the server will never take this
// item). A refused item is given up at once. Items of one kind go one at a
// time, in the order they were added, with one exception: an item whose
// attempt failed waits for its own retry while the items behind it go. So
// items the server takes at their first attempt arrive in the order they
// were added; an item that failed may arrive after items added after it.
//
// A failed item is tried again after a back-off (the first step, then
// doubling up to a cap) for a day from when it was added; then it is given
// up. When an item fails, the next one that is due is tried at once; when
// that one fails too, the server is taken as down and the whole kind waits
// a back-off of its own (the same steps), so a server that is down costs at
// most two attempts per round, however many items wait. An item's first
// failure and its give-up are journalled once each, never every retry.
//
// Load picks up the files a previous run left: their day counts from when
// they were added. A file that cannot be read is journalled and renamed with
// ".bad" at its end, never deleted. Waiting uses the loop's timers and the
// tick counter, so the wall clock stepping back or forward neither ends an
// item's day early nor stretches it; only the age of a loaded item is taken
// from the wall clock (and counts as nothing when it lies in the future).
//
// Everything runs on the loop thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "journal/journal.h"

namespace lw {

class Outbox {
 public:
  // The outcome of one attempt.
  enum class Outcome {
    kAccepted,  // the server took the item
    // Not sent, worth another attempt: the server is unreachable or busy,
    // or refused something the owner can mend in the settings.
    kFailed,
    kRefused,  // the server refused this item itself; it is given up
  };
  // Reports one attempt's outcome, with `error` (a short text for the
  // journal) when it was not accepted.
  using Done = std::function<void(Outcome outcome, const std::string& error)>;
  // Starts sending one item's `payload` and calls `done` exactly once, later
  // on the loop thread or before returning. A second call is ignored, and
  // a call after the outbox is gone does nothing.
  using Sender = std::function<void(const std::string& payload, Done done)>;

  struct Timing {
    uint32_t first_retry_ms = 60'000;
    uint32_t max_retry_ms = 3'600'000;
    uint32_t lifetime_ms = 86'400'000;
  };

  // `folder` is the native path of the outbox folder; it is made (owner
  // only) when missing.
  Outbox(std::string folder, Clock& clock, Journal& journal, Timing timing);
  ~Outbox();
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // The sender of `kind`; items of a kind without one wait.
  void SetSender(const std::string& kind, Sender sender);

  // Reads the items a previous run left in the folder and starts sending
  // those whose kind has a sender.
  void Load();

  // Keeps `payload` as an item of `kind` and starts sending it when no
  // other item of its kind is ahead. `description` names the item in the
  // journal ("The mail of the call at ... to ..."). An item that cannot be
  // written to disk is journalled and still sent from memory.
  void Add(const std::string& kind, const std::string& payload,
           const std::string& description);

  // Items not yet accepted or given up.
  size_t pending() const;

  static constexpr const char* kSource = "Outbox";

 private:
  struct Item {
    uint64_t seq = 0;
    std::string kind;
    std::string payload;
    std::string description;
    int64_t added = 0;       // wall clock, civil seconds
    uint32_t born_tick = 0;  // tick count at which the item's age was 0
    bool on_disk = false;
    bool failed = false;  // a failure has been journalled (kept in the file)
    // Since its last failure in this run: the error, the tick count at
    // which it is due again, and the back-off after its next failure.
    std::string last_error;
    bool waiting = false;
    uint32_t due_tick = 0;
    uint32_t next_retry_ms = 0;
  };
  using Items = std::deque<Item>;
  struct Lane {
    Sender sender;
    Items items;
    bool busy = false;
    bool last_failed = false;  // the last attempt failed
    bool down = false;  // the server is taken as down: waiting for `retry`
    uint32_t next_down_ms = 0;
    std::unique_ptr<Timer> retry;
  };

  Lane& LaneOf(const std::string& kind);
  void Pump(const std::string& kind);
  void Finish(const std::string& kind, uint64_t seq, Outcome outcome,
              const std::string& error);
  // Journals the item given up (" was given up" + `why`) and removes it.
  void GiveUp(Lane& lane, const Items::iterator& item, const std::string& why);
  // Runs `retry` after `delay_ms`, or sooner when an item's day ends first.
  void WakeAfter(const std::string& kind, uint32_t delay_ms);
  // Removes `item` from `lane`, and its file.
  void Drop(Lane& lane, const Items::iterator& item);
  // The back-off `step_ms` asks for now; `step_ms` becomes the next one.
  uint32_t NextStep(uint32_t& step_ms) const;
  bool Write(const Item& item);
  void MoveAside(const std::string& name, const std::string& why);
  std::string PathOf(uint64_t seq) const;
  uint32_t AgeMs(const Item& item);

  std::string folder_;
  Clock& clock_;
  Journal& journal_;
  Timing timing_;
  uint64_t next_seq_ = 1;
  std::map<std::string, Lane> lanes_;
  // Done callbacks hold a weak copy: once the outbox is gone they do
  // nothing.
  std::shared_ptr<Outbox*> self_;
};

}  // namespace lw
