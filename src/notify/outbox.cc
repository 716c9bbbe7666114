#include "notify/outbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/descriptors.h"
#include "base/system.h"
#include "callstore/file_io.h"

namespace lw {

namespace {

constexpr const char* kItemSuffix = ".json";
constexpr const char* kTempSuffix = ".tmp";
constexpr const char* kAsideSuffix = ".bad";

// Makes a rename or a removal in `folder` last through a power cut.
void SyncFolder(const std::string& folder) {
  const int fd = OpenFile(folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

Outbox::Outbox(std::string folder, Clock& clock, Journal& journal,
               Timing timing)
    : folder_(std::move(folder)),
      clock_(clock),
      journal_(journal),
      timing_(timing),
      self_(std::make_shared<Outbox*>(this)) {
  ::mkdir(folder_.c_str(), 0700);
}

Outbox::~Outbox() = default;

void Outbox::SetSender(const std::string& kind, Sender sender) {
  LaneOf(kind).sender = std::move(sender);
  Pump(kind);
}

Outbox::Lane& Outbox::LaneOf(const std::string& kind) {
  Lane& lane = lanes_[kind];
  if (lane.next_down_ms == 0) lane.next_down_ms = timing_.first_retry_ms;
  return lane;
}

size_t Outbox::pending() const {
  size_t n = 0;
  for (const auto& [kind, lane] : lanes_) n += lane.items.size();
  return n;
}

std::string Outbox::PathOf(uint64_t seq) const {
  char name[32];
  std::snprintf(name, sizeof name, "%012" PRIu64, seq);
  return folder_ + "/" + name + kItemSuffix;
}

uint32_t Outbox::AgeMs(const Item& item) {
  return clock_.TickCount() - item.born_tick;
}

bool Outbox::Write(const Item& item) {
  const nlohmann::json file = {{"kind", item.kind},
                               {"added", item.added},
                               {"description", item.description},
                               {"payload", item.payload},
                               {"failed", item.failed}};
  const std::string path = PathOf(item.seq);
  // The payload may hold addresses and texts of the owner's calls.
  if (!ReplaceFile(path, path.substr(0, path.size() - 5) + kTempSuffix,
                   file.dump(), 0600))
    return false;
  SyncFolder(folder_);
  return true;
}

void Outbox::Add(const std::string& kind, const std::string& payload,
                 const std::string& description) {
  Item item;
  item.seq = next_seq_++;
  item.kind = kind;
  item.payload = payload;
  item.description = description;
  item.added = ToCivilSeconds(clock_.Now());
  item.born_tick = clock_.TickCount();
  item.on_disk = Write(item);
  if (!item.on_disk) {
    const int error = errno;
    journal_.LogSys(description + " could not be kept in the outbox (" +
                        ErrnoText(error) +
                        "); it is sent but lost if the process stops first",
                    error, kSource);
  }
  LaneOf(kind).items.push_back(std::move(item));
  Pump(kind);
}

void Outbox::MoveAside(const std::string& name, const std::string& why) {
  const std::string aside = name + kAsideSuffix;
  if (::rename((folder_ + "/" + name).c_str(),
               (folder_ + "/" + aside).c_str()) != 0) {
    const int error = errno;
    journal_.LogSys("The outbox file " + name + " cannot be read (" + why +
                        ") nor renamed: " + ErrnoText(error),
                    error, kSource);
    return;
  }
  journal_.LogSys("The outbox file " + name + " cannot be read (" + why +
                      "); it was renamed to " + aside,
                  0, kSource);
}

void Outbox::Load() {
  std::vector<Item> found;
  std::vector<std::pair<std::string, std::string>> bad;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(kTempSuffix)) {
      // A write that never reached its rename: the item was never tried.
      bad.emplace_back(name, "left unfinished");
      continue;
    }
    if (!name.ends_with(kItemSuffix)) continue;
    const std::string stem = name.substr(0, name.size() - 5);
    std::string text;
    Item item;
    const bool numbered = !stem.empty() && stem.size() <= 18 &&
                          std::all_of(stem.begin(), stem.end(), [](char c) {
                            return c >= '0' && c <= '9';
                          });
    if (!numbered) {
      bad.emplace_back(name, "not an item's name");
      continue;
    }
    if (!ReadWholeFile(entry.path().string(), text)) {
      bad.emplace_back(name, ErrnoText(errno));
      continue;
    }
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    const auto has = [&](const char* key, nlohmann::json::value_t type) {
      return j.is_object() && j.contains(key) && j[key].type() == type;
    };
    using T = nlohmann::json::value_t;
    if (!has("kind", T::string) || !has("description", T::string) ||
        !has("payload", T::string) ||
        !(has("added", T::number_integer) ||
          has("added", T::number_unsigned))) {
      bad.emplace_back(name, "not an outbox item");
      continue;
    }
    item.seq = std::stoull(stem);
    item.kind = j["kind"].get<std::string>();
    item.description = j["description"].get<std::string>();
    item.payload = j["payload"].get<std::string>();
    item.added = j["added"].get<int64_t>();
    item.failed = has("failed", T::boolean) && j["failed"].get<bool>();
    item.on_disk = true;
    found.push_back(std::move(item));
  }
  for (const auto& [name, why] : bad) MoveAside(name, why);

  std::sort(found.begin(), found.end(),
            [](const Item& a, const Item& b) { return a.seq < b.seq; });
  // The age a loaded item has reached; a time in the future (the clock
  // stepped back) counts as none.
  const int64_t now = ToCivilSeconds(clock_.Now());
  const uint32_t tick = clock_.TickCount();
  for (Item& item : found) {
    const int64_t age_s = std::clamp<int64_t>(now - item.added, 0,
                                              timing_.lifetime_ms / 1000 + 1);
    item.born_tick = tick - static_cast<uint32_t>(age_s * 1000);
    next_seq_ = std::max(next_seq_, item.seq + 1);
    const std::string kind = item.kind;
    LaneOf(kind).items.push_back(std::move(item));
  }
  for (auto& [kind, lane] : lanes_) Pump(kind);
}

void Outbox::Pump(const std::string& kind) {
  Lane& lane = LaneOf(kind);
  if (!lane.sender || lane.busy || lane.down) return;
  const auto expired = [&](const Item& item) {
    return AgeMs(item) >= timing_.lifetime_ms;
  };
  for (auto it = std::find_if(lane.items.begin(), lane.items.end(), expired);
       it != lane.items.end();
       it = std::find_if(lane.items.begin(), lane.items.end(), expired)) {
    GiveUp(lane, it,
           " after a day: " +
               (it->last_error.empty() ? "no server took it" : it->last_error));
  }
  const uint32_t now = clock_.TickCount();
  const auto due_in = [now](const Item& item) {
    return item.waiting
               ? std::max<int32_t>(0, static_cast<int32_t>(item.due_tick - now))
               : 0;
  };
  const auto next = std::find_if(lane.items.begin(), lane.items.end(),
                                 [&](const Item& i) { return due_in(i) == 0; });
  if (next == lane.items.end()) {
    // Every item waits for its own retry.
    if (!lane.items.empty()) {
      int32_t soonest = INT32_MAX;
      for (const Item& item : lane.items)
        soonest = std::min(soonest, due_in(item));
      WakeAfter(kind, static_cast<uint32_t>(soonest));
    }
    return;
  }
  lane.busy = true;
  auto called = std::make_shared<bool>(false);
  Done done = [self = std::weak_ptr<Outbox*>(self_), kind, seq = next->seq,
               called](Outcome outcome, const std::string& error) {
    if (*called) return;
    *called = true;
    if (const auto outbox = self.lock())
      (*outbox)->Finish(kind, seq, outcome, error);
  };
  // Copies: the sender may finish, and the lane change, before it returns.
  const Sender sender = lane.sender;
  const std::string payload = next->payload;
  try {
    sender(payload, done);
  } catch (const std::exception& e) {
    done(Outcome::kFailed, e.what());
  } catch (...) {
    done(Outcome::kFailed, "Unknown error");
  }
}

void Outbox::Finish(const std::string& kind, uint64_t seq, Outcome outcome,
                    const std::string& error) {
  Lane& lane = LaneOf(kind);
  lane.busy = false;
  const auto it =
      std::find_if(lane.items.begin(), lane.items.end(),
                   [seq](const Item& item) { return item.seq == seq; });
  if (it == lane.items.end()) {
    Pump(kind);
    return;
  }
  if (outcome != Outcome::kFailed) {
    // The server answers: the kind is not taken as down any longer.
    lane.last_failed = false;
    lane.next_down_ms = timing_.first_retry_ms;
    if (outcome == Outcome::kAccepted)
      Drop(lane, it);
    else
      GiveUp(lane, it, ": the server refused it (" + error + ")");
    Pump(kind);
    return;
  }
  Item& item = *it;
  item.last_error = error;
  if (!item.failed) {
    item.failed = true;
    journal_.LogSys(item.description + " could not be sent (" + error +
                        "); it is tried again for a day",
                    0, kSource);
    // Kept in the file, so a restart does not journal the failure again.
    if (item.on_disk) Write(item);
  }
  if (item.next_retry_ms == 0) item.next_retry_ms = timing_.first_retry_ms;
  item.waiting = true;
  item.due_tick = clock_.TickCount() + NextStep(item.next_retry_ms);
  if (!lane.last_failed) {
    // Perhaps only this item fails: the next one shows whether the server
    // takes anything.
    lane.last_failed = true;
    Pump(kind);
    return;
  }
  lane.down = true;
  WakeAfter(kind, NextStep(lane.next_down_ms));
}

uint32_t Outbox::NextStep(uint32_t& step_ms) const {
  const uint32_t now = step_ms;
  step_ms = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{step_ms} * 2, timing_.max_retry_ms));
  return now;
}

void Outbox::WakeAfter(const std::string& kind, uint32_t delay_ms) {
  Lane& lane = LaneOf(kind);
  // An item's day may end first: it is given up on time.
  for (const Item& item : lane.items)
    delay_ms =
        std::min(delay_ms, timing_.lifetime_ms -
                               std::min(timing_.lifetime_ms, AgeMs(item)));
  if (!lane.retry) {
    lane.retry = clock_.CreateTimer([this, kind] {
      Lane& woken = LaneOf(kind);
      woken.retry->SetEnabled(false);
      woken.down = false;
      Pump(kind);
    });
  }
  lane.retry->SetInterval(std::max<uint32_t>(1, delay_ms));
  lane.retry->SetEnabled(true);
}

void Outbox::GiveUp(Lane& lane, const Items::iterator& item,
                    const std::string& why) {
  journal_.LogSys(item->description + " was given up" + why, 0, kSource);
  Drop(lane, item);
}

void Outbox::Drop(Lane& lane, const Items::iterator& item) {
  if (item->on_disk) {
    ::unlink(PathOf(item->seq).c_str());
    SyncFolder(folder_);
  }
  lane.items.erase(item);
}

}  // namespace lw
