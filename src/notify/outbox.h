// The outbox: notifications that must reach a server even when it is down
// or the process stops before it answers. Each item is one file in the
// outbox folder, written and flushed to disk (the folder too) before the
// first attempt and removed once the server has accepted the item.
//
// Items are of a kind ("mail", ...); each kind has one sender, which takes
// the item's payload text and reports the outcome once. Items of one kind go
// one at a time, in the order they were added. A failed attempt is repeated
// after a back-off (the first step, then doubling up to a cap) for a day
// from when the item was added; then the item is given up. An item's first
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
  // The outcome of one attempt: accepted by the server, or failed with
  // `error` (a short text for the journal).
  using Done = std::function<void(bool accepted, const std::string& error)>;
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
  };
  struct Lane {
    Sender sender;
    std::deque<Item> items;
    bool busy = false;
    uint32_t next_retry_ms = 0;
    std::string last_error;
    std::unique_ptr<Timer> retry;
  };

  Lane& LaneOf(const std::string& kind);
  void Pump(const std::string& kind);
  void Finish(const std::string& kind, bool accepted, const std::string& error);
  void GiveUp(Lane& lane);
  // Removes the front item of `lane`, and its file.
  void Drop(Lane& lane);
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
