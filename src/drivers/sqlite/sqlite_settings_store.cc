#include "drivers/sqlite/sqlite_settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <utility>

namespace lw {
namespace {

// Keys carry their full path twice: as first written (for listing and
// export) and folded (the unique lookup key). The folded paths of a subtree
// below p are exactly those in [p + "\\", p + "]"), "]" being the character
// after the backslash.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
  id INTEGER PRIMARY KEY,
  root INTEGER NOT NULL,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  path TEXT NOT NULL,
  path_fold TEXT NOT NULL,
  UNIQUE(root, path_fold));
CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(root, parent);
CREATE TABLE IF NOT EXISTS reg_values(
  id INTEGER PRIMARY KEY,
  key_id INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key_id, name_fold));
PRAGMA user_version = 1;
)sql";

// Statement texts, in the order of SqliteSettingsStore::Stmt. A subtree is
// the key itself plus the range [?3, ?4) of its folded path followed by "\"
// up to the same followed by "]"; the empty path (?2) stands for everything
// below the root.
#define LW_SUBTREE \
  "(?2 = '' OR path_fold = ?2 OR (path_fold >= ?3 AND path_fold < ?4))"
constexpr const char* kStatements[] = {
    "BEGIN IMMEDIATE",
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
    "SELECT id, path FROM reg_keys WHERE root = ?1 AND path_fold = ?2",
    "SELECT v.type, v.data FROM reg_keys k LEFT JOIN reg_values v "
    "ON v.key_id = k.id AND v.name_fold = ?3 "
    "WHERE k.root = ?1 AND k.path_fold = ?2",
    "INSERT INTO reg_keys(root, parent, name, path, path_fold) "
    "VALUES(?1, ?2, ?3, ?4, ?5)",
    "INSERT INTO reg_values(key_id, name, name_fold, type, data) "
    "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key_id, name_fold) "
    "DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM reg_values WHERE key_id = ?1 AND name_fold = ?2",
    "SELECT 1 FROM reg_keys WHERE root = ?1 AND parent = ?2 LIMIT 1",
    "SELECT name FROM reg_keys WHERE root = ?1 AND parent = ?2 "
    "ORDER BY path_fold",
    "SELECT name, type, data FROM reg_values WHERE key_id = ?1 ORDER BY id",
    "SELECT k.path, k.path_fold, v.name, v.type, v.data "
    "FROM reg_keys k LEFT JOIN reg_values v ON v.key_id = k.id "
    "WHERE k.root = ?1 AND " LW_SUBTREE " ORDER BY k.id, v.id",
    "DELETE FROM reg_values WHERE key_id IN "
    "(SELECT id FROM reg_keys WHERE root = ?1 AND " LW_SUBTREE ")",
    "DELETE FROM reg_keys WHERE root = ?1 AND " LW_SUBTREE,
    "DELETE FROM reg_values WHERE key_id = ?1",
    "DELETE FROM reg_keys WHERE id = ?1",
};
#undef LW_SUBTREE

// Resets a statement (and drops its bindings) when the scope ends, so a
// statement never holds a read snapshot open between operations.
class Use {
 public:
  explicit Use(sqlite3_stmt* s) : s_(s) {}
  ~Use() {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  void Text(int i, std::string_view v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()),
                      SQLITE_STATIC);
  }
  void Blob(int i, std::string_view v) {
    // A zero-length blob must still be a blob, not NULL.
    sqlite3_bind_blob(s_, i, v.empty() ? "" : v.data(),
                      static_cast<int>(v.size()), SQLITE_STATIC);
  }
  void Int(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  int Step() { return sqlite3_step(s_); }
  std::string ColText(int i) {
    const auto* p = sqlite3_column_blob(s_, i);
    const int n = sqlite3_column_bytes(s_, i);
    return p != nullptr ? std::string(static_cast<const char*>(p), n)
                        : std::string();
  }
  int64_t ColInt(int i) { return sqlite3_column_int64(s_, i); }
  bool ColNull(int i) { return sqlite3_column_type(s_, i) == SQLITE_NULL; }

 private:
  sqlite3_stmt* s_;
};

bool TooLong(std::string_view v) {
  return v.size() > static_cast<size_t>(1) << 30;
}

// The bounds of the folded subtree range below `folded`.
std::pair<std::string, std::string> SubtreeBounds(const std::string& folded) {
  return {folded + "\\", folded + "]"};
}

// The folder part of a file path ("." when it has none).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Root creating a store in another user's folder (lwdctl run by the
// administrator against the service's home) hands the new file to that user,
// so the service can still open it. SQLite gives its -wal and -shm files the
// owner of the database file when it runs as root.
void GiveToFolderOwner(int fd, const std::string& path) {
  if (geteuid() != 0) return;
  struct stat folder {};
  if (::stat(FolderOf(path).c_str(), &folder) != 0 || folder.st_uid == 0)
    return;
  (void)!fchown(fd, folder.st_uid, folder.st_gid);
}

// Sort key putting parents before children and siblings in folded order.
std::string TreeOrder(std::string folded) {
  std::replace(folded.begin(), folded.end(), '\\', '\x01');
  return folded;
}

}  // namespace

SqliteSettingsStore::SqliteSettingsStore(std::string path)
    : SqliteSettingsStore(std::move(path), Options{}) {}

SqliteSettingsStore::SqliteSettingsStore(std::string path, Options options)
    : path_(std::move(path)), options_(options) {
  Open();
}

SqliteSettingsStore::~SqliteSettingsStore() { Close(); }

void SqliteSettingsStore::Close() {
  for (sqlite3_stmt*& s : stmts_) {
    sqlite3_finalize(s);
    s = nullptr;
  }
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool SqliteSettingsStore::IsOpen() { return Ready(); }

bool SqliteSettingsStore::Ready() { return db_ != nullptr || Open(); }

StoreStatus SqliteSettingsStore::Fail(std::string_view what, int rc) {
  last_error_ = std::string(what) + ": ";
  last_error_ += db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  const int primary = rc & 0xff;
  if (primary == SQLITE_READONLY || primary == SQLITE_PERM ||
      primary == SQLITE_AUTH)
    return StoreStatus::kDenied;
  return StoreStatus::kFailed;
}

bool SqliteSettingsStore::Open() {
  Close();
  const bool memory = path_ == ":memory:";
  if (!memory && !options_.read_only) {
    // Create the file ourselves so that it is owner-only from the start.
    const int fd =
        ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      created_ = true;
      GiveToFolderOwner(fd, path_);
      ::close(fd);
    }
  }
  struct stat st {};
  if (!memory && !created_ && ::stat(path_.c_str(), &st) == 0 &&
      S_ISREG(st.st_mode) && st.st_size == 0) {
    // SQLite would take an empty file for a new database and fill it; but a
    // store that this instance did not just make and that is empty has lost
    // its settings, and stays as it is for the owner to restore.
    last_error_ = "cannot read " + path_ + ": the file is empty";
    return false;
  }
  const int flags =
      (options_.read_only ? SQLITE_OPEN_READONLY
                          : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    Fail("cannot open " + path_, rc);
    Close();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, options_.busy_timeout_ms);
  read_only_ = sqlite3_db_readonly(db_, "main") == 1;

  auto exec = [&](const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  };
  // Reading the schema first tells a foreign file from a store.
  sqlite3_stmt* probe = nullptr;
  rc = sqlite3_prepare_v2(db_,
                          "SELECT count(*) FROM sqlite_master WHERE type = "
                          "'table' AND name IN ('reg_keys', 'reg_values')",
                          -1, &probe, nullptr);
  int tables = 0;
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(probe);
    if (rc == SQLITE_ROW) {
      tables = sqlite3_column_int(probe, 0);
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(probe);
  if (rc != SQLITE_OK) {
    Fail("cannot read " + path_, rc);
    Close();
    return false;
  }
  if (!read_only_ && !memory) {
    // WAL lets readers go on while one writer commits. Switching needs a
    // moment alone with the file; when another holds it, the switch is
    // simply tried again at the next opening.
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = FULL");
  }
  if (tables != 2) {
    if (read_only_) {
      last_error_ = path_ + " holds no settings and cannot be written";
      Close();
      return false;
    }
    rc = exec("BEGIN IMMEDIATE");
    if (rc == SQLITE_OK) rc = exec(kSchema);
    if (rc == SQLITE_OK) rc = exec("COMMIT");
    if (rc != SQLITE_OK) {
      Fail("cannot create the settings tables in " + path_, rc);
      exec("ROLLBACK");
      Close();
      return false;
    }
  }
  static_assert(std::size(kStatements) == kStmtCount);
  for (int i = 0; i < kStmtCount; ++i) {
    rc = sqlite3_prepare_v3(db_, kStatements[i], -1, SQLITE_PREPARE_PERSISTENT,
                            &stmts_[i], nullptr);
    if (rc != SQLITE_OK) {
      Fail("cannot prepare the settings statements", rc);
      Close();
      return false;
    }
  }
  return true;
}

StoreStatus SqliteSettingsStore::Step(Stmt s, std::string_view what) {
  Use u(stmts_[s]);
  const int rc = u.Step();
  if (rc == SQLITE_DONE || rc == SQLITE_ROW) return StoreStatus::kOk;
  return Fail(what, rc);
}

template <typename Body>
StoreStatus SqliteSettingsStore::InWriteTransaction(std::string_view what,
                                                    Body body) {
  if (!Ready()) return StoreStatus::kFailed;
  if (read_only_) {
    last_error_ = std::string(what) + ": " + path_ + " is read-only";
    return StoreStatus::kDenied;
  }
  StoreStatus st = Step(kBegin, what);
  if (st != StoreStatus::kOk) return st;
  st = body();
  if (st == StoreStatus::kOk) {
    st = Step(kCommit, what);
    if (st == StoreStatus::kOk) return st;
  }
  // A failed COMMIT may already have ended the transaction; a ROLLBACK
  // that finds nothing to undo is no news, so its answer is not kept.
  const std::string error = last_error_;
  Step(kRollback, what);
  last_error_ = error;
  return st;
}

StoreStatus SqliteSettingsStore::FindKey(uint32_t root, std::string_view folded,
                                         KeyRow* row) {
  if (folded.empty()) {
    *row = KeyRow{};
    return StoreStatus::kOk;
  }
  Use u(stmts_[kFindKey]);
  u.Int(1, root);
  u.Text(2, folded);
  const int rc = u.Step();
  if (rc == SQLITE_ROW) {
    row->id = u.ColInt(0);
    row->path = u.ColText(1);
    return StoreStatus::kOk;
  }
  if (rc == SQLITE_DONE) return StoreStatus::kNotFound;
  return Fail("looking up a key", rc);
}

StoreStatus SqliteSettingsStore::KeyExists(uint32_t root,
                                           std::string_view key) {
  if (!Ready()) return StoreStatus::kFailed;
  KeyRow row;
  return FindKey(root, FoldName(NormalizeKeyPath(key)), &row);
}

StoreStatus SqliteSettingsStore::DoCreateKey(uint32_t root,
                                             std::string_view key,
                                             KeyRow* out) {
  const std::string path = NormalizeKeyPath(key);
  if (TooLong(path)) return StoreStatus::kFailed;
  KeyRow parent;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find('\\', pos);
    if (end == std::string::npos) end = path.size();
    const std::string folded = FoldName(path.substr(0, end));
    KeyRow row;
    StoreStatus st = FindKey(root, folded, &row);
    if (st == StoreStatus::kNotFound) {
      const std::string_view name =
          std::string_view(path).substr(pos, end - pos);
      row.path = parent.id == 0 ? std::string(name)
                                : parent.path + "\\" + std::string(name);
      Use u(stmts_[kInsertKey]);
      u.Int(1, root);
      u.Int(2, parent.id);
      u.Text(3, name);
      u.Text(4, row.path);
      u.Text(5, folded);
      const int rc = u.Step();
      if (rc != SQLITE_DONE) return Fail("creating a key", rc);
      row.id = sqlite3_last_insert_rowid(db_);
    } else if (st != StoreStatus::kOk) {
      return st;
    }
    parent = std::move(row);
    pos = end + 1;
  }
  if (out != nullptr) *out = std::move(parent);
  return StoreStatus::kOk;
}

StoreStatus SqliteSettingsStore::CreateKey(uint32_t root,
                                           std::string_view key) {
  // An existing key needs no write lock.
  const StoreStatus st = KeyExists(root, key);
  if (st != StoreStatus::kNotFound) return st;
  return InWriteTransaction("creating a key",
                            [&] { return DoCreateKey(root, key, nullptr); });
}

StoreStatus SqliteSettingsStore::DoDeleteTree(uint32_t root,
                                              std::string_view key) {
  const std::string folded = FoldName(NormalizeKeyPath(key));
  const auto [lo, hi] = SubtreeBounds(folded);
  for (Stmt s : {kDeleteTreeValues, kDeleteTreeKeys}) {
    Use u(stmts_[s]);
    u.Int(1, root);
    u.Text(2, folded);
    u.Text(3, lo);
    u.Text(4, hi);
    const int rc = u.Step();
    if (rc != SQLITE_DONE) return Fail("deleting a key", rc);
  }
  return StoreStatus::kOk;
}

StoreStatus SqliteSettingsStore::DeleteKey(uint32_t root, std::string_view key,
                                           bool with_subkeys) {
  return InWriteTransaction("deleting a key", [&] {
    const std::string folded = FoldName(NormalizeKeyPath(key));
    if (folded.empty()) {
      // The root itself cannot go; only its subkeys, as a tree.
      return with_subkeys ? DoDeleteTree(root, "") : StoreStatus::kDenied;
    }
    KeyRow row;
    StoreStatus st = FindKey(root, folded, &row);
    if (st != StoreStatus::kOk) return st;
    if (with_subkeys) return DoDeleteTree(root, folded);
    {
      Use u(stmts_[kHasChildren]);
      u.Int(1, root);
      u.Int(2, row.id);
      const int rc = u.Step();
      if (rc == SQLITE_ROW) {
        last_error_ = "the key has subkeys";
        return StoreStatus::kDenied;
      }
      if (rc != SQLITE_DONE) return Fail("deleting a key", rc);
    }
    for (Stmt s : {kDeleteKeyValues, kDeleteKeyRow}) {
      Use u(stmts_[s]);
      u.Int(1, row.id);
      const int rc = u.Step();
      if (rc != SQLITE_DONE) return Fail("deleting a key", rc);
    }
    return StoreStatus::kOk;
  });
}

StoreStatus SqliteSettingsStore::GetValue(uint32_t root, std::string_view key,
                                          std::string_view name, uint32_t* type,
                                          std::string* data) {
  if (!Ready()) return StoreStatus::kFailed;
  const std::string folded = FoldName(NormalizeKeyPath(key));
  if (folded.empty()) return StoreStatus::kNotFound;
  const std::string name_fold = FoldName(name);
  Use u(stmts_[kGetValue]);
  u.Int(1, root);
  u.Text(2, folded);
  u.Text(3, name_fold);
  const int rc = u.Step();
  if (rc == SQLITE_DONE) return StoreStatus::kNotFound;
  if (rc != SQLITE_ROW) return Fail("reading a value", rc);
  if (u.ColNull(0)) return StoreStatus::kNotFound;
  if (type != nullptr) *type = static_cast<uint32_t>(u.ColInt(0));
  if (data != nullptr) *data = u.ColText(1);
  return StoreStatus::kOk;
}

StoreStatus SqliteSettingsStore::DoSetValue(int64_t key_id,
                                            std::string_view name,
                                            uint32_t type,
                                            std::string_view data) {
  if (TooLong(name) || TooLong(data)) {
    last_error_ = "value too large";
    return StoreStatus::kFailed;
  }
  const std::string name_fold = FoldName(name);
  Use u(stmts_[kUpsertValue]);
  u.Int(1, key_id);
  u.Text(2, name);
  u.Text(3, name_fold);
  u.Int(4, type);
  u.Blob(5, data);
  const int rc = u.Step();
  if (rc != SQLITE_DONE) return Fail("writing a value", rc);
  return StoreStatus::kOk;
}

StoreStatus SqliteSettingsStore::SetValue(uint32_t root, std::string_view key,
                                          std::string_view name, uint32_t type,
                                          std::string_view data) {
  return InWriteTransaction("writing a value", [&] {
    const std::string folded = FoldName(NormalizeKeyPath(key));
    if (folded.empty()) return StoreStatus::kDenied;
    KeyRow row;
    const StoreStatus st = FindKey(root, folded, &row);
    if (st != StoreStatus::kOk) return st;
    return DoSetValue(row.id, name, type, data);
  });
}

StoreStatus SqliteSettingsStore::DoDeleteValue(uint32_t root,
                                               std::string_view key,
                                               std::string_view name) {
  const std::string folded = FoldName(NormalizeKeyPath(key));
  if (folded.empty()) return StoreStatus::kNotFound;
  KeyRow row;
  const StoreStatus st = FindKey(root, folded, &row);
  if (st != StoreStatus::kOk) return st;
  const std::string name_fold = FoldName(name);
  Use u(stmts_[kDeleteValueRow]);
  u.Int(1, row.id);
  u.Text(2, name_fold);
  const int rc = u.Step();
  if (rc != SQLITE_DONE) return Fail("deleting a value", rc);
  return sqlite3_changes(db_) > 0 ? StoreStatus::kOk : StoreStatus::kNotFound;
}

StoreStatus SqliteSettingsStore::DeleteValue(uint32_t root,
                                             std::string_view key,
                                             std::string_view name) {
  return InWriteTransaction("deleting a value",
                            [&] { return DoDeleteValue(root, key, name); });
}

StoreStatus SqliteSettingsStore::ListSubkeys(uint32_t root,
                                             std::string_view key,
                                             std::vector<std::string>* names) {
  names->clear();
  if (!Ready()) return StoreStatus::kFailed;
  StoreStatus st = Step(kBeginRead, "listing keys");
  if (st != StoreStatus::kOk) return st;
  KeyRow row;
  st = FindKey(root, FoldName(NormalizeKeyPath(key)), &row);
  if (st == StoreStatus::kOk) {
    Use u(stmts_[kListSubkeys]);
    u.Int(1, root);
    u.Int(2, row.id);
    int rc;
    while ((rc = u.Step()) == SQLITE_ROW) names->push_back(u.ColText(0));
    if (rc != SQLITE_DONE) st = Fail("listing keys", rc);
  }
  Step(kCommit, "listing keys");
  if (st != StoreStatus::kOk) names->clear();
  return st;
}

StoreStatus SqliteSettingsStore::ListValues(uint32_t root, std::string_view key,
                                            std::vector<StoredValue>* values) {
  values->clear();
  if (!Ready()) return StoreStatus::kFailed;
  const std::string folded = FoldName(NormalizeKeyPath(key));
  if (folded.empty()) return StoreStatus::kOk;
  StoreStatus st = Step(kBeginRead, "listing values");
  if (st != StoreStatus::kOk) return st;
  KeyRow row;
  st = FindKey(root, folded, &row);
  if (st == StoreStatus::kOk) {
    Use u(stmts_[kListValues]);
    u.Int(1, row.id);
    int rc;
    while ((rc = u.Step()) == SQLITE_ROW) {
      values->push_back(StoredValue{
          u.ColText(0), static_cast<uint32_t>(u.ColInt(1)), u.ColText(2)});
    }
    if (rc != SQLITE_DONE) st = Fail("listing values", rc);
  }
  Step(kCommit, "listing values");
  if (st != StoreStatus::kOk) values->clear();
  return st;
}

StoreStatus SqliteSettingsStore::ReadTree(uint32_t root, std::string_view key,
                                          std::vector<StoredKey>* keys) {
  keys->clear();
  if (!Ready()) return StoreStatus::kFailed;
  const std::string folded = FoldName(NormalizeKeyPath(key));
  const auto [lo, hi] = SubtreeBounds(folded);
  // One statement reads one snapshot.
  std::map<std::string, StoredKey> by_order;
  Use u(stmts_[kReadTree]);
  u.Int(1, root);
  u.Text(2, folded);
  u.Text(3, lo);
  u.Text(4, hi);
  int rc;
  while ((rc = u.Step()) == SQLITE_ROW) {
    StoredKey& k = by_order[TreeOrder(u.ColText(1))];
    if (k.path.empty()) k.path = u.ColText(0);
    if (!u.ColNull(2)) {
      k.values.push_back(StoredValue{
          u.ColText(2), static_cast<uint32_t>(u.ColInt(3)), u.ColText(4)});
    }
  }
  if (rc != SQLITE_DONE) return Fail("reading keys", rc);
  if (!folded.empty() && by_order.find(TreeOrder(folded)) == by_order.end())
    return StoreStatus::kNotFound;
  keys->reserve(by_order.size());
  for (auto& [order, k] : by_order) keys->push_back(std::move(k));
  return StoreStatus::kOk;
}

StoreStatus SqliteSettingsStore::Apply(std::span<const StoreChange> changes) {
  return InWriteTransaction("applying changes", [&] {
    for (const StoreChange& c : changes) {
      StoreStatus st = StoreStatus::kOk;
      switch (c.op) {
        case StoreChange::Op::kCreateKey:
          st = DoCreateKey(c.root, c.key, nullptr);
          break;
        case StoreChange::Op::kDeleteTree:
          st = DoDeleteTree(c.root, c.key);
          break;
        case StoreChange::Op::kSetValue: {
          if (NormalizeKeyPath(c.key).empty()) {
            last_error_ = "values cannot be stored in a root key";
            return StoreStatus::kDenied;
          }
          KeyRow row;
          st = DoCreateKey(c.root, c.key, &row);
          if (st == StoreStatus::kOk)
            st = DoSetValue(row.id, c.name, c.type, c.data);
          break;
        }
        case StoreChange::Op::kDeleteValue:
          st = DoDeleteValue(c.root, c.key, c.name);
          if (st == StoreStatus::kNotFound) st = StoreStatus::kOk;
          break;
      }
      if (st != StoreStatus::kOk) return st;
    }
    return StoreStatus::kOk;
  });
}

std::string StoreOwnerNote(const std::string& path) {
  if (geteuid() != 0) return "";
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (!exists && ::stat(FolderOf(path).c_str(), &st) != 0) return "";
  if (st.st_uid == 0) return "";
  std::string user = std::to_string(st.st_uid);
  std::string buf(4096, '\0');
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(st.st_uid, &pw, buf.data(), buf.size(), &found) == 0 &&
      found != nullptr)
    user = found->pw_name;
  if (exists)
    return "the settings store " + path + " belongs to user " + user +
           "; it keeps that owner and its mode";
  return "the settings store " + path + " will belong to user " + user +
         ", the owner of its folder";
}

}  // namespace lw
