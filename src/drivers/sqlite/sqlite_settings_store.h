// The settings store over one SQLite database file.
//
// The file is created owner-only (0600; SQLite gives its -wal and -shm files
// the same mode) and runs in WAL mode with a busy timeout, so the process
// and the desktop application (or lwdctl) can use it at once: a reader sees
// each value whole, as of its last committed write, and neither side fails
// on the other's lock within the timeout. Writes run in IMMEDIATE
// transactions; a batch (Apply) is one transaction.
//
// A file that is not a database (random bytes, a truncated store, an empty
// file that this instance did not just create) is never touched: every
// operation fails (kFailed) and the file is left as it was. A file that cannot
// be written is opened read-only: reads work, writes answer kDenied.
//
// Run as root, a new store in another user's folder is given to that user
// (the service's home belongs to the service's user).
//
// The path ":memory:" gives a private in-memory store (for tests).
//
// One instance is used by one thread at a time; each component keeps its own.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "devices/settings_store.h"

namespace lw {

class SqliteSettingsStore final : public SettingsStore {
 public:
  struct Options {
    bool read_only = false;       // open without write access
    int busy_timeout_ms = 10000;  // how long to wait for another's lock
  };

  explicit SqliteSettingsStore(std::string path);
  SqliteSettingsStore(std::string path, Options options);
  ~SqliteSettingsStore() override;
  SqliteSettingsStore(const SqliteSettingsStore&) = delete;
  SqliteSettingsStore& operator=(const SqliteSettingsStore&) = delete;

  // True when the file is open as a store. Operations retry the opening, so
  // a store that was busy or missing at first can come good later.
  bool IsOpen();
  bool IsReadOnly() const { return read_only_; }
  const std::string& path() const { return path_; }
  std::string FilePath() const override { return path_; }

  StoreStatus KeyExists(uint32_t root, std::string_view key) override;
  StoreStatus CreateKey(uint32_t root, std::string_view key) override;
  StoreStatus DeleteKey(uint32_t root, std::string_view key,
                        bool with_subkeys) override;
  StoreStatus GetValue(uint32_t root, std::string_view key,
                       std::string_view name, uint32_t* type,
                       std::string* data) override;
  StoreStatus SetValue(uint32_t root, std::string_view key,
                       std::string_view name, uint32_t type,
                       std::string_view data) override;
  StoreStatus DeleteValue(uint32_t root, std::string_view key,
                          std::string_view name) override;
  StoreStatus ListSubkeys(uint32_t root, std::string_view key,
                          std::vector<std::string>* names) override;
  StoreStatus ListValues(uint32_t root, std::string_view key,
                         std::vector<StoredValue>* values) override;
  StoreStatus ReadTree(uint32_t root, std::string_view key,
                       std::vector<StoredKey>* keys) override;
  StoreStatus Apply(std::span<const StoreChange> changes) override;
  std::string LastError() const override { return last_error_; }

 private:
  enum Stmt {
    kBegin,
    kBeginRead,
    kCommit,
    kRollback,
    kFindKey,
    kGetValue,
    kInsertKey,
    kUpsertValue,
    kDeleteValueRow,
    kHasChildren,
    kListSubkeys,
    kListValues,
    kReadTree,
    kDeleteTreeValues,
    kDeleteTreeKeys,
    kDeleteKeyValues,
    kDeleteKeyRow,
    kStmtCount,
  };

  // A key looked up by its folded path.
  struct KeyRow {
    int64_t id = 0;  // 0: the root itself
    std::string path;
  };

  bool Ready();
  bool Open();
  void Close();
  StoreStatus Fail(std::string_view what, int rc);
  StoreStatus Step(Stmt s, std::string_view what);  // runs to completion

  template <typename Body>
  StoreStatus InWriteTransaction(std::string_view what, Body body);

  StoreStatus FindKey(uint32_t root, std::string_view folded, KeyRow* row);
  StoreStatus DoCreateKey(uint32_t root, std::string_view key, KeyRow* row);
  StoreStatus DoDeleteTree(uint32_t root, std::string_view key);
  StoreStatus DoSetValue(int64_t key_id, std::string_view name, uint32_t type,
                         std::string_view data);
  StoreStatus DoDeleteValue(uint32_t root, std::string_view key,
                            std::string_view name);

  std::string path_;
  Options options_;
  sqlite3* db_ = nullptr;
  bool read_only_ = false;
  bool created_ = false;  // this instance made the file
  std::array<sqlite3_stmt*, kStmtCount> stmts_{};
  std::string last_error_;
};

// For root working on another user's store (the service's): which user owns
// the store, or will own it as the owner of its folder. Empty when not run as
// root or when the store is root's own.
std::string StoreOwnerNote(const std::string& path);

}  // namespace lw
