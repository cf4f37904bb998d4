#include "signal_handler.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace rclcdds
{
namespace detail
{

namespace
{
// Written by the signal handler (async-signal-safe), read by the helper thread.
int g_pipe[2] = {-1, -1};
struct sigaction * g_old_sigint = nullptr;
struct sigaction * g_old_sigterm = nullptr;

constexpr char kStop = 0;  ///< byte that ends the helper thread

void chain(const struct sigaction * old, int signo, siginfo_t * info, void * context)
{
  if (old == nullptr) {
    return;
  }
  if (old->sa_flags & SA_SIGINFO) {
    if (old->sa_sigaction != nullptr) {
      old->sa_sigaction(signo, info, context);
    }
  } else if (old->sa_handler != SIG_DFL && old->sa_handler != SIG_IGN &&
    old->sa_handler != nullptr)
  {
    old->sa_handler(signo);
  }
}
}  // namespace

SignalHandler & SignalHandler::instance()
{
  static SignalHandler handler;
  return handler;
}

SignalHandler::~SignalHandler()
{
  uninstall();
}

void SignalHandler::on_signal(int signo, siginfo_t * info, void * context)
{
  const int saved_errno = errno;
  const char byte = static_cast<char>(signo);
  if (g_pipe[1] >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
  }
  chain(signo == SIGINT ? g_old_sigint : g_old_sigterm, signo, info, context);
  errno = saved_errno;
}

void SignalHandler::wait_loop()
{
  for (;;) {
    char byte = kStop;
    const ssize_t n = ::read(g_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0 || byte == kStop) {
      return;
    }
    const std::string name = byte == SIGINT ? "SIGINT" : "SIGTERM";
    rclcdds::shutdown(get_global_default_context(), "signal " + name + " received");
  }
}

void SignalHandler::install(SignalHandlerOptions options)
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (installed_ || options == SignalHandlerOptions::None) {
    return;
  }
  if (::pipe2(g_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot create the signal pipe");
  }
  struct sigaction action {};
  action.sa_sigaction = &SignalHandler::on_signal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigint_ = options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigInt;
  sigterm_ = options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigTerm;
  if (sigint_) {
    ::sigaction(SIGINT, &action, &old_sigint_);
    g_old_sigint = &old_sigint_;
  }
  if (sigterm_) {
    ::sigaction(SIGTERM, &action, &old_sigterm_);
    g_old_sigterm = &old_sigterm_;
  }
  thread_ = std::thread([this] {wait_loop();});
  installed_ = true;
}

bool SignalHandler::uninstall()
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (!installed_) {
    return false;
  }
  if (sigint_) {
    ::sigaction(SIGINT, &old_sigint_, nullptr);
  }
  if (sigterm_) {
    ::sigaction(SIGTERM, &old_sigterm_, nullptr);
  }
  g_old_sigint = nullptr;
  g_old_sigterm = nullptr;
  const char stop = kStop;
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &stop, 1);
  if (thread_.joinable()) {
    thread_.join();
  }
  ::close(g_pipe[0]);
  ::close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
  installed_ = false;
  return true;
}

}  // namespace detail
}  // namespace rclcdds
