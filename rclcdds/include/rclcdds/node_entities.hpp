// GIDs of a node's DDS readers and writers, kept up to date for node-discovery announcements.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcdds/gid.hpp"

namespace rclcdds
{

/// Registry of one node's reader and writer GIDs; entities add themselves on creation and remove
/// themselves on destruction, and the listener hears about every change.
class NodeEntities
{
public:
  using SharedPtr = std::shared_ptr<NodeEntities>;
  using WeakPtr = std::weak_ptr<NodeEntities>;

  void add_reader(const Gid & gid);
  void remove_reader(const Gid & gid);
  void add_writer(const Gid & gid);
  void remove_writer(const Gid & gid);

  std::vector<Gid> reader_gids() const;
  std::vector<Gid> writer_gids() const;

  /// Called (outside the registry's lock) after every change.
  void set_listener(std::function<void ()> listener);

private:
  void notify();

  mutable std::mutex mutex_;
  std::vector<Gid> readers_;
  std::vector<Gid> writers_;
  std::function<void ()> listener_;
};

}  // namespace rclcdds
