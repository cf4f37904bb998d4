// rosbag2 sqlite3 storage: tables `topics` (id, name, type, serialization_format,
// offered_qos_profiles) and `messages` (id, topic_id, timestamp, data) with an index on timestamp.
#include <sqlite3.h>
#include <sys/stat.h>

#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "bag_storage.hpp"

namespace rclcdds_bag
{

namespace
{

std::string sqlite_error(sqlite3 * db, const std::string & what)
{
  return what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

void exec(sqlite3 * db, const char * sql)
{
  char * message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error(std::string("sqlite: ") + sql + ": " + text);
  }
}

class SqliteWriter : public StorageWriter
{
public:
  explicit SqliteWriter(const std::string & path)
  : path_(path)
  {
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0) {
      throw std::runtime_error("'" + path + "' exists already");
    }
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK)
    {
      const std::string error = sqlite_error(db_, "cannot create '" + path + "'");
      sqlite3_close(db_);
      throw std::runtime_error(error);
    }
    exec(db_, "PRAGMA journal_mode=MEMORY;");
    exec(db_, "PRAGMA synchronous=OFF;");
    exec(db_, "PRAGMA page_size=4096;");
    exec(
      db_,
      "CREATE TABLE topics(id INTEGER PRIMARY KEY, name TEXT NOT NULL, type TEXT NOT NULL, "
      "serialization_format TEXT NOT NULL, offered_qos_profiles TEXT NOT NULL);");
    exec(
      db_,
      "CREATE TABLE messages(id INTEGER PRIMARY KEY, topic_id INTEGER NOT NULL, "
      "timestamp INTEGER NOT NULL, data BLOB NOT NULL);");
    exec(db_, "CREATE INDEX timestamp_idx ON messages (timestamp ASC);");
    prepare("INSERT INTO topics (id, name, type, serialization_format, offered_qos_profiles) "
      "VALUES (?, ?, ?, ?, ?);", &insert_topic_);
    prepare("INSERT INTO messages (topic_id, timestamp, data) VALUES (?, ?, ?);", &insert_message_);
  }

  ~SqliteWriter() override
  {
    try {
      close();
    } catch (const std::exception &) {
    }
  }

  size_t add_topic(const TopicInfo & topic) override
  {
    const size_t index = ids_.size();
    const int64_t id = static_cast<int64_t>(index) + 1;
    sqlite3_reset(insert_topic_);
    sqlite3_bind_int64(insert_topic_, 1, id);
    sqlite3_bind_text(insert_topic_, 2, topic.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_topic_, 3, topic.type.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_topic_, 4, topic.serialization_format.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert_topic_, 5, topic.offered_qos_profiles.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(insert_topic_) != SQLITE_DONE) {
      throw std::runtime_error(sqlite_error(db_, "cannot add topic '" + topic.name + "'"));
    }
    ids_.push_back(id);
    return index;
  }

  void write(size_t topic, int64_t time_ns, const uint8_t * data, size_t size) override
  {
    if (topic >= ids_.size()) {
      throw std::invalid_argument("unknown topic index");
    }
    if (!in_transaction_) {
      exec(db_, "BEGIN TRANSACTION;");
      in_transaction_ = true;
    }
    sqlite3_reset(insert_message_);
    sqlite3_bind_int64(insert_message_, 1, ids_[topic]);
    sqlite3_bind_int64(insert_message_, 2, time_ns);
    if (size == 0) {
      sqlite3_bind_zeroblob(insert_message_, 3, 0);  // a null pointer would bind NULL
    } else {
      sqlite3_bind_blob64(insert_message_, 3, data, size, SQLITE_STATIC);
    }
    const int rc = sqlite3_step(insert_message_);
    sqlite3_clear_bindings(insert_message_);
    if (rc != SQLITE_DONE) {
      throw std::runtime_error(sqlite_error(db_, "cannot write to '" + path_ + "'"));
    }
  }

  void flush() override
  {
    if (in_transaction_) {
      exec(db_, "COMMIT;");
      in_transaction_ = false;
    }
  }

  void close() override
  {
    if (db_ == nullptr) {
      return;
    }
    flush();
    sqlite3_finalize(insert_topic_);
    sqlite3_finalize(insert_message_);
    insert_topic_ = insert_message_ = nullptr;
    const int rc = sqlite3_close(db_);
    db_ = nullptr;
    if (rc != SQLITE_OK) {
      throw std::runtime_error("cannot close '" + path_ + "'");
    }
  }

private:
  void prepare(const char * sql, sqlite3_stmt ** statement)
  {
    if (sqlite3_prepare_v2(db_, sql, -1, statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite_error(db_, sql));
    }
  }

  std::string path_;
  sqlite3 * db_{nullptr};
  sqlite3_stmt * insert_topic_{nullptr};
  sqlite3_stmt * insert_message_{nullptr};
  std::vector<int64_t> ids_;  ///< database id of each topic index
  bool in_transaction_{false};
};

std::string column_text(sqlite3_stmt * statement, int column)
{
  const unsigned char * text = sqlite3_column_text(statement, column);
  const int size = sqlite3_column_bytes(statement, column);
  return text != nullptr && size > 0 ? std::string(reinterpret_cast<const char *>(text),
    static_cast<size_t>(size)) : std::string();
}

class SqliteReader : public StorageReader
{
public:
  explicit SqliteReader(const std::string & path)
  : path_(path)
  {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      const std::string error = sqlite_error(db_, "cannot open '" + path + "'");
      sqlite3_close(db_);
      db_ = nullptr;
      throw std::runtime_error(error);
    }
    try {
      read_topics();
    } catch (...) {
      sqlite3_close(db_);
      db_ = nullptr;
      throw;
    }
    if (!start_query("SELECT topic_id, timestamp, data FROM messages ORDER BY timestamp, id;")) {
      // A damaged index: fall back to the table's own order, which is arrival order.
      problems_.push_back(
        path_ + ": cannot read in time order (" + sqlite3_errmsg(db_) + "), reading in stored order");
      if (!start_query("SELECT topic_id, timestamp, data FROM messages ORDER BY id;")) {
        problems_.push_back(path_ + ": no message readable: " + sqlite3_errmsg(db_));
        finish();
      }
    }
  }

  ~SqliteReader() override
  {
    sqlite3_finalize(messages_);
    sqlite3_close(db_);
  }

  const std::vector<TopicInfo> & topics() const override {return topics_;}
  const std::vector<std::string> & problems() const override {return problems_;}

  bool next(BagMessage & message) override
  {
    if (messages_ == nullptr) {
      return false;
    }
    while (true) {
      const int rc = pending_ ? SQLITE_ROW : sqlite3_step(messages_);
      pending_ = false;
      if (rc == SQLITE_DONE) {
        finish();
        return false;
      }
      if (rc != SQLITE_ROW) {
        problems_.push_back(
          path_ + ": stopped after " + std::to_string(read_) + " messages: " +
          sqlite3_errmsg(db_));
        finish();
        return false;
      }
      const int64_t topic_id = sqlite3_column_int64(messages_, 0);
      auto it = topic_index_.find(topic_id);
      if (it == topic_index_.end()) {
        if (unknown_topics_.insert({topic_id, true}).second) {
          problems_.push_back(
            path_ + ": messages of topic id " + std::to_string(topic_id) +
            " that the topics table lacks are skipped");
        }
        continue;
      }
      message.topic = it->second;
      message.time_ns = sqlite3_column_int64(messages_, 1);
      const void * blob = sqlite3_column_blob(messages_, 2);
      const int size = sqlite3_column_bytes(messages_, 2);
      const auto * bytes = static_cast<const uint8_t *>(blob);
      message.data.assign(bytes, bytes + (blob != nullptr && size > 0 ? size : 0));
      ++read_;
      return true;
    }
  }

private:
  void read_topics()
  {
    bool has_qos = false;
    {
      sqlite3_stmt * info = nullptr;
      if (sqlite3_prepare_v2(db_, "PRAGMA table_info(topics);", -1, &info, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sqlite_error(db_, "'" + path_ + "' is not a rosbag2 database"));
      }
      while (sqlite3_step(info) == SQLITE_ROW) {
        has_qos = has_qos || column_text(info, 1) == "offered_qos_profiles";
      }
      sqlite3_finalize(info);
    }
    const std::string sql = std::string("SELECT id, name, type, serialization_format") +
      (has_qos ? ", offered_qos_profiles" : "") + " FROM topics ORDER BY id;";
    sqlite3_stmt * statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite_error(db_, "'" + path_ + "' is not a rosbag2 database"));
    }
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      TopicInfo topic;
      topic.name = column_text(statement, 1);
      topic.type = column_text(statement, 2);
      topic.serialization_format = column_text(statement, 3);
      if (has_qos) {
        topic.offered_qos_profiles = column_text(statement, 4);
      }
      topic_index_[sqlite3_column_int64(statement, 0)] = topics_.size();
      topics_.push_back(topic);
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE) {
      throw std::runtime_error(sqlite_error(db_, "cannot read the topics of '" + path_ + "'"));
    }
  }

  /// Prepares the message query and looks at its first row (an early error is reported false).
  bool start_query(const char * sql)
  {
    sqlite3_finalize(messages_);
    messages_ = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &messages_, nullptr) != SQLITE_OK) {
      sqlite3_finalize(messages_);
      messages_ = nullptr;
      return false;
    }
    const int rc = sqlite3_step(messages_);
    if (rc == SQLITE_ROW) {
      pending_ = true;
      return true;
    }
    if (rc == SQLITE_DONE) {
      finish();
      return true;
    }
    return false;
  }

  void finish()
  {
    sqlite3_finalize(messages_);
    messages_ = nullptr;
  }

  std::string path_;
  sqlite3 * db_{nullptr};
  sqlite3_stmt * messages_{nullptr};
  bool pending_{false};  ///< the statement holds a row not yet returned
  std::vector<TopicInfo> topics_;
  std::unordered_map<int64_t, size_t> topic_index_;
  std::map<int64_t, bool> unknown_topics_;
  std::vector<std::string> problems_;
  uint64_t read_{0};
};

}  // namespace

std::unique_ptr<StorageWriter> open_sqlite_writer(const std::string & path)
{
  return std::make_unique<SqliteWriter>(path);
}

std::unique_ptr<StorageReader> open_sqlite_reader(const std::string & path)
{
  return std::make_unique<SqliteReader>(path);
}

}  // namespace rclcdds_bag
