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
  if (lane.next_retry_ms == 0) lane.next_retry_ms = timing_.first_retry_ms;
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
  if (!lane.sender || lane.busy || (lane.retry && lane.retry->Enabled()))
    return;
  while (!lane.items.empty() &&
         AgeMs(lane.items.front()) >= timing_.lifetime_ms)
    GiveUp(lane);
  if (lane.items.empty()) return;
  lane.busy = true;
  auto called = std::make_shared<bool>(false);
  Done done = [self = std::weak_ptr<Outbox*>(self_), kind, called](
                  bool accepted, const std::string& error) {
    if (*called) return;
    *called = true;
    if (const auto outbox = self.lock())
      (*outbox)->Finish(kind, accepted, error);
  };
  // Copies: the sender may finish, and the lane change, before it returns.
  const Sender sender = lane.sender;
  const std::string payload = lane.items.front().payload;
  try {
    sender(payload, done);
  } catch (const std::exception& e) {
    done(false, e.what());
  } catch (...) {
    done(false, "Unknown error");
  }
}

void Outbox::Finish(const std::string& kind, bool accepted,
                    const std::string& error) {
  Lane& lane = LaneOf(kind);
  lane.busy = false;
  if (lane.items.empty()) return;
  if (accepted) {
    Drop(lane);
    lane.next_retry_ms = timing_.first_retry_ms;
    Pump(kind);
    return;
  }
  Item& item = lane.items.front();
  lane.last_error = error;
  if (!item.failed) {
    item.failed = true;
    journal_.LogSys(item.description + " could not be sent (" + error +
                        "); it is tried again for a day",
                    0, kSource);
    // Kept in the file, so a restart does not journal the failure again.
    if (item.on_disk) Write(item);
  }
  const uint32_t age = AgeMs(item);
  if (age >= timing_.lifetime_ms) {
    Pump(kind);
    return;
  }
  const uint32_t delay = std::max<uint32_t>(
      1, std::min(lane.next_retry_ms, timing_.lifetime_ms - age));
  lane.next_retry_ms = static_cast<uint32_t>(std::min<uint64_t>(
      uint64_t{lane.next_retry_ms} * 2, timing_.max_retry_ms));
  if (!lane.retry) {
    lane.retry = clock_.CreateTimer([this, kind] {
      LaneOf(kind).retry->SetEnabled(false);
      Pump(kind);
    });
  }
  lane.retry->SetInterval(delay);
  lane.retry->SetEnabled(true);
}

void Outbox::GiveUp(Lane& lane) {
  const Item& item = lane.items.front();
  const std::string why =
      lane.last_error.empty() ? "no server took it" : lane.last_error;
  journal_.LogSys(item.description + " was given up after a day: " + why, 0,
                  kSource);
  Drop(lane);
  lane.next_retry_ms = timing_.first_retry_ms;
}

void Outbox::Drop(Lane& lane) {
  if (lane.items.front().on_disk) {
    ::unlink(PathOf(lane.items.front().seq).c_str());
    SyncFolder(folder_);
  }
  lane.items.pop_front();
  lane.last_error.clear();
}

}  // namespace lw
