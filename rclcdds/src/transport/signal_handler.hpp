// SIGINT/SIGTERM handling: the handler only writes to a pipe; a thread does the shutdown.
#pragma once

#include <csignal>
#include <mutex>
#include <thread>

#include "rclcdds/context.hpp"

namespace rclcdds
{
namespace detail
{

/// Installs signal handlers that shut the global context down from a helper thread.
class SignalHandler
{
public:
  static SignalHandler & instance();

  /// Installs the handlers chosen by `options` (no effect when already installed).
  void install(SignalHandlerOptions options);
  /// Restores the previous handlers and stops the helper thread; false when none were installed.
  bool uninstall();

  ~SignalHandler();

private:
  SignalHandler() = default;
  static void on_signal(int signo, siginfo_t * info, void * context);
  void wait_loop();

  std::mutex mutex_;
  bool installed_{false};
  bool sigint_{false};
  bool sigterm_{false};
  struct sigaction old_sigint_ {};
  struct sigaction old_sigterm_ {};
  std::thread thread_;
};

}  // namespace detail
}  // namespace rclcdds
