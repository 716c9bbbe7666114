#include "devices/memory_settings_store.h"

#include <algorithm>

namespace lw {
namespace {

constexpr char kTreeSeparator = '\x01';

// Whether `id` lies below `top` (`top` itself included when `self`).
bool InTree(const std::pair<uint32_t, std::string>& id, uint32_t root,
            const std::string& top, bool self) {
  if (id.first != root) return false;
  if (top.empty()) return self || !id.second.empty();
  if (id.second == top) return self;
  return id.second.size() > top.size() &&
         id.second.compare(0, top.size(), top) == 0 &&
         id.second[top.size()] == kTreeSeparator;
}

}  // namespace

MemorySettingsStore::Id MemorySettingsStore::IdOf(uint32_t root,
                                                  std::string_view key) {
  std::string order = FoldName(NormalizeKeyPath(key));
  std::replace(order.begin(), order.end(), '\\', kTreeSeparator);
  return {root, order};
}

StoreStatus MemorySettingsStore::KeyExists(uint32_t root,
                                           std::string_view key) {
  const Id id = IdOf(root, key);
  return id.second.empty() || keys_.count(id) != 0 ? StoreStatus::kOk
                                                   : StoreStatus::kNotFound;
}

StoreStatus MemorySettingsStore::Create(Keys& keys, uint32_t root,
                                        std::string_view key,
                                        StoredKey** made) {
  const std::string path = NormalizeKeyPath(key);
  StoredKey* last = nullptr;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    StoredKey& k = keys[IdOf(root, std::string_view(path).substr(0, end))];
    // Each component keeps the spelling it was first written with.
    if (k.path.empty()) {
      k.path = last == nullptr ? "" : last->path + "\\";
      k.path += path.substr(start, end - start);
    }
    last = &k;
    start = end + 1;
  }
  if (made != nullptr) *made = last;
  return StoreStatus::kOk;
}

StoreStatus MemorySettingsStore::CreateKey(uint32_t root,
                                           std::string_view key) {
  return Create(keys_, root, key, nullptr);
}

void MemorySettingsStore::DeleteTree(Keys& keys, uint32_t root,
                                     std::string_view key) {
  const std::string top = IdOf(root, key).second;
  std::erase_if(keys, [&](const auto& entry) {
    return InTree(entry.first, root, top, true);
  });
}

StoreStatus MemorySettingsStore::DeleteKey(uint32_t root, std::string_view key,
                                           bool with_subkeys) {
  const Id id = IdOf(root, key);
  if (id.second.empty() && !with_subkeys) return StoreStatus::kDenied;
  if (!id.second.empty() && keys_.count(id) == 0) return StoreStatus::kNotFound;
  if (!with_subkeys) {
    for (const auto& entry : keys_) {
      if (InTree(entry.first, root, id.second, false)) {
        last_error_ = "the key has subkeys";
        return StoreStatus::kDenied;
      }
    }
  }
  DeleteTree(keys_, root, key);
  return StoreStatus::kOk;
}

StoreStatus MemorySettingsStore::GetValue(uint32_t root, std::string_view key,
                                          std::string_view name, uint32_t* type,
                                          std::string* data) {
  auto it = keys_.find(IdOf(root, key));
  if (it == keys_.end()) return StoreStatus::kNotFound;
  const std::string fold = FoldName(name);
  for (const StoredValue& v : it->second.values) {
    if (FoldName(v.name) != fold) continue;
    if (type != nullptr) *type = v.type;
    if (data != nullptr) *data = v.data;
    return StoreStatus::kOk;
  }
  return StoreStatus::kNotFound;
}

StoreStatus MemorySettingsStore::Set(StoredKey& key, std::string_view name,
                                     uint32_t type, std::string_view data) {
  const std::string fold = FoldName(name);
  for (StoredValue& v : key.values) {
    if (FoldName(v.name) == fold) {
      v.type = type;
      v.data = std::string(data);
      return StoreStatus::kOk;
    }
  }
  key.values.push_back(StoredValue{std::string(name), type, std::string(data)});
  return StoreStatus::kOk;
}

StoreStatus MemorySettingsStore::SetValue(uint32_t root, std::string_view key,
                                          std::string_view name, uint32_t type,
                                          std::string_view data) {
  const Id id = IdOf(root, key);
  if (id.second.empty()) return StoreStatus::kDenied;
  auto it = keys_.find(id);
  if (it == keys_.end()) return StoreStatus::kNotFound;
  return Set(it->second, name, type, data);
}

StoreStatus MemorySettingsStore::Unset(Keys& keys, uint32_t root,
                                       std::string_view key,
                                       std::string_view name) {
  auto it = keys.find(IdOf(root, key));
  if (it == keys.end()) return StoreStatus::kNotFound;
  const std::string fold = FoldName(name);
  const size_t erased = std::erase_if(
      it->second.values,
      [&](const StoredValue& v) { return FoldName(v.name) == fold; });
  return erased > 0 ? StoreStatus::kOk : StoreStatus::kNotFound;
}

StoreStatus MemorySettingsStore::DeleteValue(uint32_t root,
                                             std::string_view key,
                                             std::string_view name) {
  return Unset(keys_, root, key, name);
}

StoreStatus MemorySettingsStore::ListSubkeys(uint32_t root,
                                             std::string_view key,
                                             std::vector<std::string>* names) {
  names->clear();
  const Id id = IdOf(root, key);
  if (KeyExists(root, key) != StoreStatus::kOk) return StoreStatus::kNotFound;
  for (const auto& [child, k] : keys_) {
    if (!InTree(child, root, id.second, false)) continue;
    const size_t start = id.second.empty() ? 0 : id.second.size() + 1;
    if (child.second.find(kTreeSeparator, start) != std::string::npos) continue;
    names->push_back(k.path.substr(k.path.rfind('\\') + 1));
  }
  return StoreStatus::kOk;
}

StoreStatus MemorySettingsStore::ListValues(uint32_t root, std::string_view key,
                                            std::vector<StoredValue>* values) {
  values->clear();
  if (KeyExists(root, key) != StoreStatus::kOk) return StoreStatus::kNotFound;
  auto it = keys_.find(IdOf(root, key));
  if (it != keys_.end()) *values = it->second.values;
  return StoreStatus::kOk;
}

StoreStatus MemorySettingsStore::ReadTree(uint32_t root, std::string_view key,
                                          std::vector<StoredKey>* keys) {
  keys->clear();
  if (KeyExists(root, key) != StoreStatus::kOk) return StoreStatus::kNotFound;
  const std::string top = IdOf(root, key).second;
  for (const auto& [id, k] : keys_)
    if (InTree(id, root, top, true)) keys->push_back(k);
  return StoreStatus::kOk;
}

StoreStatus MemorySettingsStore::Apply(std::span<const StoreChange> changes) {
  Keys next = keys_;
  for (const StoreChange& c : changes) {
    StoreStatus st = StoreStatus::kOk;
    switch (c.op) {
      case StoreChange::Op::kCreateKey:
        st = Create(next, c.root, c.key, nullptr);
        break;
      case StoreChange::Op::kDeleteTree:
        DeleteTree(next, c.root, c.key);
        break;
      case StoreChange::Op::kSetValue: {
        if (NormalizeKeyPath(c.key).empty()) {
          last_error_ = "values cannot be stored in a root key";
          return StoreStatus::kDenied;
        }
        StoredKey* k = nullptr;
        Create(next, c.root, c.key, &k);
        st = Set(*k, c.name, c.type, c.data);
        break;
      }
      case StoreChange::Op::kDeleteValue:
        Unset(next, c.root, c.key, c.name);
        break;
    }
    if (st != StoreStatus::kOk) return st;
  }
  keys_ = std::move(next);
  return StoreStatus::kOk;
}

}  // namespace lw
