#include "bag_commands.hpp"

#include <dds/dds.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include <rosgraph_msgs/msg/clock.hpp>

#include "../cli_options.hpp"
#include "../dynamic_message.hpp"
#include "../graph_query.hpp"
#include "bag_storage.hpp"
#include "message_definition.hpp"
#include "rclcdds/names.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds_cli
{

namespace
{

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using rclcdds_bag::BagMessage;
using rclcdds_bag::TopicInfo;

/// Options of one bag command: positionals, flags, valued options and list options.
struct BagArgs
{
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> topics;  ///< after --topics

  double number(const std::string & name, double fallback) const
  {
    auto it = values.find(name);
    if (it == values.end()) {
      return fallback;
    }
    return rclcdds_cli::non_negative_number(name, it->second);
  }
};

bool is_number(const std::string & word)
{
  char * end = nullptr;
  std::strtod(word.c_str(), &end);
  return !word.empty() && end != word.c_str() && *end == '\0';
}

BagArgs parse_bag_args(const std::vector<std::string> & words)
{
  static const std::set<std::string> kFlags = {"--all", "-a", "--loop", "-l", "--no-summary"};
  static const std::map<std::string, std::string> kAliases = {
    {"-o", "--output"}, {"-s", "--storage"}, {"-r", "--rate"}, {"-d", "--duration"},
    {"-a", "--all"}, {"-l", "--loop"}};
  BagArgs args;
  for (size_t i = 0; i < words.size(); ++i) {
    std::string word = words[i];
    if (kFlags.count(word) != 0) {
      auto alias = kAliases.find(word);
      args.flags.insert(alias != kAliases.end() ? alias->second : word);
    } else if (word == "--clock") {
      // Optional frequency (Humble: 40 Hz when none is given).
      if (i + 1 < words.size() && is_number(words[i + 1])) {
        args.values["--clock"] = words[++i];
      } else {
        args.values["--clock"] = "40";
      }
    } else if (word == "--topics") {
      while (i + 1 < words.size() && words[i + 1].rfind("-", 0) != 0) {
        args.topics.push_back(words[++i]);
      }
    } else if (word.size() > 1 && word[0] == '-') {
      auto alias = kAliases.find(word);
      if (alias != kAliases.end()) {
        word = alias->second;
      }
      if (i + 1 >= words.size()) {
        throw std::invalid_argument("option " + word + " needs a value");
      }
      args.values[word] = words[++i];
    } else {
      args.positional.push_back(word);
    }
  }
  return args;
}

/// "pkg/msg/Type" -> "pkg::msg::dds_::Type_"; empty when not of that form.
std::string dds_type_of(const std::string & ros_type)
{
  const size_t first = ros_type.find('/');
  const size_t last = ros_type.rfind('/');
  if (first == std::string::npos || first == 0 || last + 1 >= ros_type.size()) {
    return "";
  }
  const std::string package = ros_type.substr(0, first);
  const std::string name = ros_type.substr(last + 1);
  const std::string middle = first == last ? "msg" : ros_type.substr(first + 1, last - first - 1);
  for (const std::string & part : {package, middle, name}) {
    for (char c : part) {
      if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
        return "";
      }
    }
  }
  return package + "::" + middle + "::dds_::" + name + "_";
}

std::string format_size(uint64_t bytes)
{
  const char * units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value /= 1024.0;
    ++unit;
  }
  char text[64];
  std::snprintf(text, sizeof(text), unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
  return text;
}

std::string format_time(int64_t ns)
{
  const std::time_t seconds = static_cast<std::time_t>(ns / 1000000000);
  const int64_t nanos = ns % 1000000000;
  std::tm tm{};
  localtime_r(&seconds, &tm);
  char date[64];
  std::strftime(date, sizeof(date), "%b %e %Y %H:%M:%S", &tm);
  char text[160];
  std::snprintf(
    text, sizeof(text), "%s.%03lld (%lld.%09lld)", date, static_cast<long long>(nanos / 1000000),
    static_cast<long long>(seconds), static_cast<long long>(nanos));
  return text;
}

uint64_t file_size(const std::string & path)
{
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

int64_t now_ns()
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
    std::chrono::system_clock::now().time_since_epoch()).count();
}

/// One progress line: on a terminal rewritten in place, otherwise one line each.
void progress(const std::string & line)
{
  static const bool tty = ::isatty(STDERR_FILENO) != 0;
  if (tty) {
    std::cerr << "\r" << line << "\033[K" << std::flush;
  } else {
    std::cerr << line << std::endl;
  }
}

void end_progress()
{
  if (::isatty(STDERR_FILENO) != 0) {
    std::cerr << "\n";
  }
}

// ---------------------------------------------------------------------------------------------
// record

/// Messages on their way from the DDS readers to the storage file (written on its own thread so
/// that a slow disk never stalls the takes).
class WriteQueue
{
public:
  explicit WriteQueue(rclcdds_bag::StorageWriter & storage)
  : storage_(storage), thread_([this] {run();}) {}

  ~WriteQueue() {stop();}

  void push(size_t topic, int64_t time_ns, const uint8_t * data, size_t size)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queued_bytes_ + size > kMaxQueuedBytes) {
      ++dropped_;
      return;
    }
    queue_.push_back({topic, time_ns, std::vector<uint8_t>(data, data + size)});
    queued_bytes_ += size;
    wake_.notify_one();
  }

  size_t add_topic(const TopicInfo & topic)
  {
    std::lock_guard<std::mutex> storage_lock(storage_mutex_);
    return storage_.add_topic(topic);
  }

  void stop()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  uint64_t dropped() const {return dropped_;}
  std::string error() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

private:
  static constexpr size_t kMaxQueuedBytes = size_t{1} << 30;

  void run()
  {
    auto last_flush = SteadyClock::now();
    while (true) {
      std::deque<BagMessage> batch;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, 200ms, [this] {return stopping_ || !queue_.empty();});
        batch.swap(queue_);
        queued_bytes_ = 0;
        if (batch.empty() && stopping_) {
          return;
        }
      }
      std::lock_guard<std::mutex> storage_lock(storage_mutex_);
      try {
        for (const auto & message : batch) {
          storage_.write(message.topic, message.time_ns, message.data.data(), message.data.size());
        }
        if (SteadyClock::now() - last_flush > 500ms) {
          storage_.flush();
          last_flush = SteadyClock::now();
        }
      } catch (const std::exception & e) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.empty()) {
          error_ = e.what();
        }
      }
    }
  }

  rclcdds_bag::StorageWriter & storage_;
  mutable std::mutex mutex_;
  std::mutex storage_mutex_;
  std::condition_variable wake_;
  std::deque<BagMessage> queue_;
  size_t queued_bytes_{0};
  std::atomic<uint64_t> dropped_{0};
  bool stopping_{false};
  std::string error_;
  std::thread thread_;  // last: starts after the members it uses
};

struct RecordedTopic
{
  TopicInfo info;
  size_t index{0};
  std::unique_ptr<rclcdds::RawReader> reader;
  uint64_t count{0};
};

std::string base_name(std::string path)
{
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int bag_record(const rclcdds::Context::SharedPtr & context, const BagArgs & args)
{
  auto output = args.values.find("--output");
  std::string dir;
  if (output != args.values.end()) {
    dir = output->second;
  } else {
    char name[64];
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(name, sizeof(name), "rosbag2_%Y_%m_%d-%H_%M_%S", &tm);
    dir = name;
  }
  const bool all = args.flags.count("--all") != 0;
  if (!all && args.positional.empty()) {
    throw std::invalid_argument("bag record needs topics or --all");
  }
  auto storage_option = args.values.find("--storage");
  const std::string storage_id =
    storage_option != args.values.end() ? storage_option->second : "sqlite3";
  if (storage_id != "sqlite3" && storage_id != "mcap") {
    throw std::invalid_argument("--storage must be sqlite3 or mcap");
  }
  rclcdds_bag::McapOptions mcap_options;
  if (auto it = args.values.find("--compression"); it != args.values.end()) {
    if (storage_id != "mcap" || (it->second != "zstd" && it->second != "lz4")) {
      throw std::invalid_argument("--compression zstd|lz4 applies to --storage mcap");
    }
    mcap_options.compression = it->second;
  }
  mcap_options.summary = args.flags.count("--no-summary") == 0;
  const bool forever = args.values.count("--duration") == 0;
  const auto duration = std::chrono::duration<double>(args.number("--duration", 0));
  const auto settle = std::chrono::milliseconds(
    static_cast<int64_t>(args.number("--settle", 1.0) * 1000));
  std::set<std::string> wanted;
  for (const auto & topic : args.positional) {
    wanted.insert(rclcdds::expand_topic_name(topic, "rclcdds_cli", "/"));
  }

  if (::mkdir(dir.c_str(), 0755) != 0) {
    throw std::runtime_error("cannot create bag directory '" + dir + "' (does it exist already?)");
  }
  const std::string file_name =
    base_name(dir) + (storage_id == "mcap" ? "_0.mcap" : "_0.db3");
  const std::string file_path = dir + "/" + file_name;
  auto storage = storage_id == "mcap" ? rclcdds_bag::open_mcap_writer(file_path, mcap_options) :
    rclcdds_bag::open_sqlite_writer(file_path);
  WriteQueue queue(*storage);

  const dds_entity_t waitset = dds_create_waitset(context->participant());
  const dds_entity_t guard = dds_create_guardcondition(context->participant());
  dds_waitset_attach(waitset, guard, 0);
  context->add_interrupt_guard(guard);

  std::map<std::string, RecordedTopic> recorded;
  std::set<std::string> refused;
  auto add_topics = [&](std::chrono::milliseconds wait) {
      std::map<std::string, std::vector<TopicEndpoint>> writers;
      for (const auto & endpoint : discover_topics(*context, wait)) {
        if (endpoint.is_writer && (all || wanted.count(endpoint.topic) != 0)) {
          writers[endpoint.topic].push_back(endpoint);
        }
      }
      for (const auto & [topic, endpoints] : writers) {
        if (recorded.count(topic) != 0 || refused.count(topic) != 0) {
          continue;
        }
        RecordedTopic entry;
        entry.info.name = topic;
        entry.info.type = endpoints.front().type;
        const std::string dds_type = dds_type_of(entry.info.type);
        if (dds_type.empty()) {
          std::cerr << "not recording '" << topic << "': type '" << endpoints.front().type <<
            "' is not a ROS message type" << std::endl;
          refused.insert(topic);
          continue;
        }
        std::vector<rclcdds_bag::OfferedQos> offered;
        bool any_best_effort = false;
        bool all_transient = true;
        for (const auto & endpoint : endpoints) {
          rclcdds_bag::OfferedQos qos;
          qos.reliability = endpoint.reliable ? 1 : 2;
          qos.durability = endpoint.transient_local ? 1 : 2;
          offered.push_back(qos);
          any_best_effort = any_best_effort || !endpoint.reliable;
          all_transient = all_transient && endpoint.transient_local;
        }
        entry.info.offered_qos_profiles = rclcdds_bag::qos_profiles_to_yaml(offered);
        if (storage_id == "mcap") {
          entry.info.definition = rclcdds_bag::message_definition(entry.info.type);
        }
        rclcdds::QoS qos(rclcdds::KeepLast(1000));
        if (any_best_effort) {
          qos.best_effort();
        }
        if (all_transient) {
          qos.transient_local();
        }
        rclcdds::EndpointDescription description;
        description.topic_name = rclcdds::dds_topic_name(topic);
        description.type_name = dds_type;
        description.qos = qos;
        entry.reader = std::make_unique<rclcdds::RawReader>(context, description);
        entry.index = queue.add_topic(entry.info);
        dds_waitset_attach(waitset, entry.reader->read_condition(), 0);
        std::cerr << "Subscribed to topic '" << topic << "' [" << entry.info.type << "]" <<
          std::endl;
        recorded.emplace(topic, std::move(entry));
      }
    };

  add_topics(settle);
  const auto started = SteadyClock::now();
  auto next_discovery = started + 1s;
  auto next_progress = started + 1s;
  uint64_t messages = 0;
  uint64_t bytes = 0;
  int64_t first_ns = 0;
  int64_t last_ns = 0;
  std::cerr << "Recording to '" << dir << "' (" << storage_id << ")..." << std::endl;
  auto take_all = [&]() {
      for (auto & [name, entry] : recorded) {
        RecordedTopic & topic = entry;
        while (topic.reader->take(
            [&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
              const int64_t t = now_ns();
              queue.push(topic.index, t, data, size);
              if (messages == 0) {
                first_ns = t;
              }
              last_ns = t;
              ++messages;
              ++topic.count;
              bytes += size;
            }))
        {
        }
      }
    };
  while (rclcdds::ok(context) && (forever || SteadyClock::now() - started < duration)) {
    dds_attach_t fired[1];
    dds_waitset_wait(waitset, fired, 1, DDS_MSECS(100));
    take_all();
    const auto now = SteadyClock::now();
    if (now >= next_discovery) {
      add_topics(0ms);
      next_discovery = now + 1s;
    }
    if (now >= next_progress) {
      const double elapsed = std::chrono::duration<double>(now - started).count();
      char line[200];
      std::snprintf(
        line, sizeof(line), "recording %.1f s: %llu messages, %.1f msg/s, %.2f MB/s",
        elapsed, static_cast<unsigned long long>(messages), messages / elapsed,
        bytes / elapsed / 1e6);
      progress(line);
      next_progress += 1s;
    }
  }
  take_all();  // what had arrived before the stop belongs to the bag
  end_progress();
  context->remove_interrupt_guard(guard);
  dds_delete(waitset);
  dds_delete(guard);
  queue.stop();
  storage->close();

  rclcdds_bag::BagMetadata metadata;
  metadata.storage_identifier = storage_id;
  metadata.relative_file_paths.push_back(file_name);
  metadata.start_ns = first_ns;
  metadata.duration_ns = last_ns - first_ns;
  metadata.message_count = messages - queue.dropped();
  for (const auto & [name, entry] : recorded) {
    metadata.topics.push_back({entry.info, entry.count});
  }
  rclcdds_bag::FileInfo file;
  file.path = file_name;
  file.start_ns = first_ns;
  file.duration_ns = metadata.duration_ns;
  file.message_count = metadata.message_count;
  metadata.files.push_back(file);
  std::ofstream out(dir + "/metadata.yaml");
  out << rclcdds_bag::metadata_to_yaml(metadata);
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write '" + dir + "/metadata.yaml'");
  }
  std::cerr << "Recorded " << messages << " messages on " << recorded.size() << " topics to '" <<
    dir << "'" << std::endl;
  if (queue.dropped() > 0) {
    std::cerr << "dropped " << queue.dropped() << " messages: the disk did not keep up" << std::endl;
  }
  if (!queue.error().empty()) {
    std::cerr << "storage error: " << queue.error() << std::endl;
    return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// play

/// QoS for replaying a topic, from its recorded publishers like Humble's player: reliable unless
/// one was best effort, transient local only when all were. Keep-last 30 (a second of camera
/// frames) so that a reliable reader that needs a retransmission under load still gets it.
rclcdds::QoS playback_qos(const std::string & offered_qos_profiles)
{
  const auto profiles = rclcdds_bag::qos_profiles_from_yaml(offered_qos_profiles);
  rclcdds::QoS qos(30);
  bool all_transient = !profiles.empty();
  for (const auto & profile : profiles) {
    if (profile.reliability == 2) {
      qos.best_effort();
    }
    all_transient = all_transient && profile.durability == 1;
  }
  if (all_transient) {
    qos.transient_local();
  }
  return qos;
}

struct PlayedTopic
{
  std::unique_ptr<rclcdds::RawWriter> writer;  ///< null: the topic is skipped
  uint64_t count{0};
};

class Player
{
public:
  Player(const rclcdds::Context::SharedPtr & context, const BagArgs & args)
  : context_(context), args_(args)
  {
    rate_ = args.number("--rate", 1.0);
    if (rate_ <= 0) {
      throw std::invalid_argument("--rate must be positive");
    }
    for (const auto & topic : args.topics) {
      only_.insert(rclcdds::expand_topic_name(topic, "rclcdds_cli", "/"));
    }
    if (args.values.count("--clock") != 0) {
      const double hz = args.number("--clock", 40);
      if (hz <= 0) {
        throw std::invalid_argument("--clock needs a positive frequency");
      }
      clock_period_ = std::chrono::nanoseconds(static_cast<int64_t>(1e9 / hz));
      rclcdds::EndpointDescription description = rclcdds::topic_endpoint_description(
        "/clock", rclcdds::get_message_members<rosgraph_msgs::msg::Clock>(),
        rclcdds::QoS(1).best_effort());
      clock_writer_ = std::make_unique<rclcdds::RawWriter>(context, description);
    }
  }

  /// The publisher of a topic, created on first use; its writer stays null when the topic is
  /// filtered out or cannot be played (said once on stderr).
  PlayedTopic & topic(const TopicInfo & info)
  {
    auto it = topics_.find(info.name);
    if (it != topics_.end()) {
      return it->second;
    }
    PlayedTopic & played = topics_[info.name];
    if (!only_.empty() && only_.count(info.name) == 0) {
      return played;
    }
    const std::string dds_type = dds_type_of(info.type);
    if (dds_type.empty()) {
      std::cerr << "skipping '" << info.name << "': '" << info.type <<
        "' is not a ROS message type" << std::endl;
      return played;
    }
    if (info.serialization_format != "cdr") {
      std::cerr << "skipping '" << info.name << "': serialization format '" <<
        info.serialization_format << "' is not cdr" << std::endl;
      return played;
    }
    try {
      load_message_members(info.type);
    } catch (const std::exception & error) {
      std::cerr << "skipping '" << info.name << "': type '" << info.type <<
        "' cannot be loaded (" << error.what() << ")" << std::endl;
      return played;
    }
    rclcdds::EndpointDescription description;
    description.topic_name = rclcdds::dds_topic_name(info.name);
    description.type_name = dds_type;
    description.qos = playback_qos(info.offered_qos_profiles);
    played.writer = std::make_unique<rclcdds::RawWriter>(context_, description);
    return played;
  }

  int play(const std::string & path)
  {
    rclcdds_bag::BagDirectory bag = rclcdds_bag::open_bag_directory(path);
    for (const auto & note : bag.notes) {
      std::cerr << note << std::endl;
    }
    if (!bag.has_metadata_file) {
      // Learn the topics up front so that their publishers match before the first message.
      const size_t known_notes = bag.notes.size();
      rclcdds_bag::scan_bag(bag);
      bag.notes.resize(known_notes);  // the reading below reports the same problems again
    }
    for (const auto & entry : bag.metadata.topics) {
      topic(entry.topic);
    }
    const auto delay = std::chrono::duration<double>(args_.number("--delay", 0.5));
    rclcdds::sleep_for(std::chrono::duration_cast<std::chrono::nanoseconds>(delay), context_);
    const int64_t offset_ns = static_cast<int64_t>(args_.number("--start-offset", 0) * 1e9);
    const bool loop = args_.flags.count("--loop") != 0;
    bool problems = false;
    do {
      int64_t bag_start = bag.has_metadata_file ? bag.metadata.start_ns : -1;
      bool timing_started = false;
      for (const auto & file : bag.files) {
        std::unique_ptr<rclcdds_bag::StorageReader> reader;
        try {
          reader = rclcdds_bag::storage_of_file(file) == "mcap" ?
            rclcdds_bag::open_mcap_reader(file) : rclcdds_bag::open_sqlite_reader(file);
        } catch (const std::exception & error) {
          std::cerr << error.what() << std::endl;
          problems = true;
          continue;
        }
        BagMessage message;
        while (rclcdds::ok(context_) && reader->next(message)) {
          if (bag_start < 0) {
            bag_start = message.time_ns;
          }
          if (message.time_ns < bag_start + offset_ns) {
            continue;
          }
          PlayedTopic & played = topic(reader->topics()[message.topic]);
          if (!played.writer) {
            continue;
          }
          if (!timing_started) {
            timing_started = true;
            bag_zero_ = offset_ns == 0 ? message.time_ns : bag_start + offset_ns;
            wall_zero_ = SteadyClock::now();
            next_clock_ = wall_zero_;
            next_progress_ = wall_zero_ + 1s;
          }
          if (!wait_until_bag_time(message.time_ns)) {
            break;
          }
          rclcdds::SerializedMessage payload;
          payload.assign(message.data.data(), message.data.size());
          played.writer->write(std::move(payload));
          ++played.count;
          ++played_;
          report(message.time_ns);
        }
        if (!reader->problems().empty()) {
          problems = true;
          for (const auto & problem : reader->problems()) {
            std::cerr << problem << std::endl;
          }
        }
      }
    } while (loop && rclcdds::ok(context_) && played_ > 0);
    end_progress();
    // Let reliable delivery finish before the writers go away.
    rclcdds::sleep_for(300ms, context_);
    std::cerr << "Played " << played_ << " messages" << std::endl;
    if (played_ == 0) {
      std::cerr << "nothing was played" << std::endl;
      return 1;
    }
    if (problems) {
      std::cerr << "some messages could not be read (see above)" << std::endl;
    }
    return 0;
  }

private:
  SteadyClock::time_point wall_time_of(int64_t bag_ns) const
  {
    const double offset = static_cast<double>(bag_ns - bag_zero_) / rate_;
    return wall_zero_ + std::chrono::nanoseconds(static_cast<int64_t>(offset));
  }

  int64_t bag_time_of(SteadyClock::time_point wall) const
  {
    return bag_zero_ + static_cast<int64_t>(
      static_cast<double>(std::chrono::nanoseconds(wall - wall_zero_).count()) * rate_);
  }

  /// Sleeps until `bag_ns` is due, publishing /clock on the way; false when interrupted.
  bool wait_until_bag_time(int64_t bag_ns)
  {
    const auto due = wall_time_of(bag_ns);
    while (true) {
      if (!rclcdds::ok(context_)) {
        return false;
      }
      auto wake = due;
      if (clock_writer_ && next_clock_ <= due) {
        wake = next_clock_;
      }
      const auto now = SteadyClock::now();
      if (wake > now) {
        std::this_thread::sleep_until(std::min(wake, now + 50ms));
        continue;
      }
      if (clock_writer_ && next_clock_ <= due) {
        publish_clock(bag_time_of(next_clock_));
        next_clock_ += clock_period_;
        continue;
      }
      return true;
    }
  }

  void publish_clock(int64_t bag_ns)
  {
    rosgraph_msgs::msg::Clock clock;
    clock.clock.sec = static_cast<int32_t>(bag_ns / 1000000000);
    clock.clock.nanosec = static_cast<uint32_t>(bag_ns % 1000000000);
    rclcdds::SerializedMessage payload;
    rclcdds::serialize_message(
      rclcdds::get_message_members<rosgraph_msgs::msg::Clock>(), &clock, payload);
    clock_writer_->write(std::move(payload));
  }

  void report(int64_t bag_ns)
  {
    const auto now = SteadyClock::now();
    if (now < next_progress_) {
      return;
    }
    next_progress_ = now + 1s;
    const double wall = std::chrono::duration<double>(now - wall_zero_).count();
    char line[200];
    std::snprintf(
      line, sizeof(line), "playing: bag time %.1f s, %llu messages, %.1f msg/s",
      static_cast<double>(bag_ns - bag_zero_) / 1e9, static_cast<unsigned long long>(played_),
      wall > 0 ? played_ / wall : 0.0);
    progress(line);
  }

  rclcdds::Context::SharedPtr context_;
  const BagArgs & args_;
  double rate_{1.0};
  std::set<std::string> only_;
  std::map<std::string, PlayedTopic> topics_;
  std::unique_ptr<rclcdds::RawWriter> clock_writer_;
  std::chrono::nanoseconds clock_period_{0};
  int64_t bag_zero_{0};  ///< bag time played at wall_zero_
  SteadyClock::time_point wall_zero_;
  SteadyClock::time_point next_clock_;
  SteadyClock::time_point next_progress_;
  uint64_t played_{0};
};

int bag_play(const rclcdds::Context::SharedPtr & context, const BagArgs & args)
{
  if (args.positional.empty()) {
    throw std::invalid_argument("bag play needs a bag directory");
  }
  Player player(context, args);
  return player.play(args.positional[0]);
}

// ---------------------------------------------------------------------------------------------
// info

int bag_info(const BagArgs & args)
{
  if (args.positional.empty()) {
    throw std::invalid_argument("bag info needs a bag directory");
  }
  rclcdds_bag::BagDirectory bag = rclcdds_bag::open_bag_directory(args.positional[0]);
  if (!bag.has_metadata_file) {
    rclcdds_bag::scan_bag(bag);
  }
  for (const auto & note : bag.notes) {
    std::cerr << note << std::endl;
  }
  const auto & m = bag.metadata;
  uint64_t size = 0;
  std::string files;
  for (size_t i = 0; i < bag.files.size(); ++i) {
    size += file_size(bag.files[i]);
    files += (i == 0 ? "" : "\n                   ") + base_name(bag.files[i]);
  }
  char duration[64];
  std::snprintf(duration, sizeof(duration), "%.3fs", static_cast<double>(m.duration_ns) / 1e9);
  std::cout << "\nFiles:             " << files << "\n";
  std::cout << "Bag size:          " << format_size(size) << "\n";
  std::cout << "Storage id:        " << m.storage_identifier << "\n";
  std::cout << "Duration:          " << duration << "\n";
  std::cout << "Start:             " << format_time(m.start_ns) << "\n";
  std::cout << "End:               " << format_time(m.start_ns + m.duration_ns) << "\n";
  std::cout << "Messages:          " << m.message_count << "\n";
  std::cout << "Topic information: ";
  for (size_t i = 0; i < m.topics.size(); ++i) {
    const auto & t = m.topics[i];
    std::cout << (i == 0 ? "" : "                   ") << "Topic: " << t.topic.name <<
      " | Type: " << t.topic.type << " | Count: " << t.message_count <<
      " | Serialization Format: " << t.topic.serialization_format << "\n";
  }
  if (m.topics.empty()) {
    std::cout << "\n";
  }
  std::cout << std::endl;
  return bag.files.empty() ? 1 : 0;
}

}  // namespace

int bag_command(
  const rclcdds::Context::SharedPtr & context, const std::string & verb,
  const std::vector<std::string> & words)
{
  const BagArgs args = parse_bag_args(words);
  if (verb == "record") {
    return bag_record(context, args);
  }
  if (verb == "play") {
    return bag_play(context, args);
  }
  if (verb == "info") {
    return bag_info(args);
  }
  throw std::invalid_argument("unknown bag command '" + verb + "'");
}

}  // namespace rclcdds_cli
