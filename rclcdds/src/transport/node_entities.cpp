#include "rclcdds/node_entities.hpp"

#include <algorithm>

namespace rclcdds
{

namespace
{
void erase_one(std::vector<Gid> & gids, const Gid & gid)
{
  auto it = std::find(gids.begin(), gids.end(), gid);
  if (it != gids.end()) {
    gids.erase(it);
  }
}
}  // namespace

void NodeEntities::add_reader(const Gid & gid)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readers_.push_back(gid);
  }
  notify();
}

void NodeEntities::remove_reader(const Gid & gid)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_one(readers_, gid);
  }
  notify();
}

void NodeEntities::add_writer(const Gid & gid)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    writers_.push_back(gid);
  }
  notify();
}

void NodeEntities::remove_writer(const Gid & gid)
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_one(writers_, gid);
  }
  notify();
}

std::vector<Gid> NodeEntities::reader_gids() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return readers_;
}

std::vector<Gid> NodeEntities::writer_gids() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return writers_;
}

void NodeEntities::set_listener(std::function<void ()> listener)
{
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

void NodeEntities::notify()
{
  std::function<void ()> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listener = listener_;
  }
  if (listener) {
    listener();
  }
}

}  // namespace rclcdds
