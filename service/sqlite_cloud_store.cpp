// SPDX-License-Identifier: Apache-2.0
#include <sqlite3.h>

#include <atomic>
#include <mutex>

#include "service/cloud_store.h"

namespace kavi::service {
namespace {

constexpr char kSchema[] =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS batches(id TEXT PRIMARY KEY, received INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS words(w TEXT NOT NULL, p TEXT NOT NULL, c INTEGER NOT NULL,"
    " PRIMARY KEY(w, p));"
    "CREATE TABLE IF NOT EXISTS pairs(pr TEXT NOT NULL, nx TEXT NOT NULL, c INTEGER NOT NULL,"
    " PRIMARY KEY(pr, nx));"
    "CREATE INDEX IF NOT EXISTS words_by_count ON words(c DESC);"
    "CREATE INDEX IF NOT EXISTS pairs_by_count ON pairs(c DESC);";

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Prepare(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement_, nullptr) ==
           SQLITE_OK;
  }
  sqlite3_stmt* get() { return statement_; }
  void BindText(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
  }
  void BindInt(int index, int64_t value) { sqlite3_bind_int64(statement_, index, value); }
  // Runs a statement that returns no rows; resets it for the next use.
  bool Run() {
    const int result = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    return result == SQLITE_DONE;
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

class SqliteCloudStore final : public CloudStore {
 public:
  ~SqliteCloudStore() override {
    // Statements first: the connection closes only once they are finalised.
    insert_batch_.reset();
    add_word_.reset();
    add_pair_.reset();
    top_words_.reset();
    top_pairs_.reset();
    sqlite3_close(db_);
  }

  bool Open(const std::filesystem::path& path, std::string* error) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
      return Failed(error);
    sqlite3_busy_timeout(db_, 5000);
    if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) return Failed(error);
    insert_batch_ = std::make_unique<Statement>();
    add_word_ = std::make_unique<Statement>();
    add_pair_ = std::make_unique<Statement>();
    top_words_ = std::make_unique<Statement>();
    top_pairs_ = std::make_unique<Statement>();
    const bool prepared =
        insert_batch_->Prepare(
            db_, "INSERT OR IGNORE INTO batches(id, received) VALUES(?1, strftime('%s','now'))") &&
        add_word_->Prepare(db_,
                           "INSERT INTO words(w, p, c) VALUES(?1, ?2, ?3)"
                           " ON CONFLICT(w, p) DO UPDATE SET c = c + excluded.c") &&
        add_pair_->Prepare(db_,
                           "INSERT INTO pairs(pr, nx, c) VALUES(?1, ?2, ?3)"
                           " ON CONFLICT(pr, nx) DO UPDATE SET c = c + excluded.c") &&
        top_words_->Prepare(db_, "SELECT w, p, c FROM words ORDER BY c DESC, w, p LIMIT ?1") &&
        top_pairs_->Prepare(db_, "SELECT pr, nx, c FROM pairs ORDER BY c DESC, pr, nx LIMIT ?1");
    return prepared || Failed(error);
  }

  bool AddBatch(const ReportBatch& batch, bool* counted, std::string* error) override {
    std::lock_guard<std::mutex> hold(mutex_);
    *counted = false;
    if (!Exec("BEGIN IMMEDIATE")) return Failed(error);
    insert_batch_->BindText(1, batch.batch_id);
    if (!insert_batch_->Run()) return RolledBack(error);
    if (sqlite3_changes(db_) == 0) {
      Exec("ROLLBACK");
      return true;  // a retried batch: counted the first time
    }
    for (const WordCount& word : batch.items) {
      add_word_->BindText(1, word.word);
      add_word_->BindText(2, word.reading);
      add_word_->BindInt(3, word.count);
      if (!add_word_->Run()) return RolledBack(error);
    }
    for (const PairCount& pair : batch.predicts) {
      add_pair_->BindText(1, pair.earlier);
      add_pair_->BindText(2, pair.following);
      add_pair_->BindInt(3, pair.count);
      if (!add_pair_->Run()) return RolledBack(error);
    }
    if (!Exec("COMMIT")) return RolledBack(error);
    *counted = true;
    generation_.fetch_add(1);
    return true;
  }

  bool TopWords(size_t limit, std::vector<WordCount>* out, std::string* error) override {
    std::lock_guard<std::mutex> hold(mutex_);
    out->clear();
    sqlite3_stmt* s = top_words_->get();
    sqlite3_bind_int64(s, 1, static_cast<int64_t>(limit));
    int result;
    while ((result = sqlite3_step(s)) == SQLITE_ROW)
      out->push_back({Column(s, 0), Column(s, 1), sqlite3_column_int64(s, 2)});
    sqlite3_reset(s);
    return result == SQLITE_DONE || Failed(error);
  }

  bool TopPairs(size_t limit, std::vector<PairCount>* out, std::string* error) override {
    std::lock_guard<std::mutex> hold(mutex_);
    out->clear();
    sqlite3_stmt* s = top_pairs_->get();
    sqlite3_bind_int64(s, 1, static_cast<int64_t>(limit));
    int result;
    while ((result = sqlite3_step(s)) == SQLITE_ROW)
      out->push_back({Column(s, 0), Column(s, 1), sqlite3_column_int64(s, 2)});
    sqlite3_reset(s);
    return result == SQLITE_DONE || Failed(error);
  }

  uint64_t Generation() const override { return generation_.load(); }

 private:
  static std::string Column(sqlite3_stmt* s, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, index));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(s, index)))
                : std::string();
  }
  bool Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  bool Failed(std::string* error) {
    *error = std::string("sqlite: ") + (db_ ? sqlite3_errmsg(db_) : "cannot open");
    return false;
  }
  bool RolledBack(std::string* error) {
    Failed(error);
    Exec("ROLLBACK");
    return false;
  }

  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  std::unique_ptr<Statement> insert_batch_, add_word_, add_pair_, top_words_, top_pairs_;
  std::atomic<uint64_t> generation_{1};
};

}  // namespace

std::unique_ptr<CloudStore> OpenSqliteCloudStore(const std::filesystem::path& path,
                                                 std::string* error) {
  auto store = std::make_unique<SqliteCloudStore>();
  if (!store->Open(path, error)) return nullptr;
  return store;
}

}  // namespace kavi::service
