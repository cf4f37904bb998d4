// One-slot hand-off between a producer thread and a worker thread: a record, a mutex, a condition
// variable and a state, with a stop request so the worker can be joined at shutdown.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace nimbra
{

/// Record guarded by `mutex`; `cv` wakes the other side whenever `state` changes or a stop is asked.
/// The producer fills the record only while the worker is idle and never queues; the worker holds
/// `mutex` for the whole job, so a producer that arrives meanwhile waits at the lock.
template<typename RecordT>
struct HandOff
{
  RecordT record;                 ///< the job (and, where the worker answers, its result)
  std::mutex mutex;               ///< guards `record` and the state transitions
  std::condition_variable cv;     ///< signalled on every state change and on stop
  std::atomic<bool> stop{false};  ///< set once when the owner shuts the worker down

  /// @brief Asks the worker to end and wakes every waiter; the worker finishes its job in hand.
  void requestStop()
  {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop.store(true);
    }
    cv.notify_all();
  }
};

}  // namespace nimbra
