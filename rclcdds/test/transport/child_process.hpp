// Test helpers: a program run in the background with its output captured in a file, and
// temporary directories.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char ** environ;

namespace rclcdds_test
{

/// A child process whose stdout and stderr go to a temporary file.
class ChildProcess
{
public:
  explicit ChildProcess(const std::vector<std::string> & argv)
  {
    char path[] = "/tmp/rclcdds_child_XXXXXX";
    const int fd = mkstemp(path);
    output_path_ = path;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_adddup2(&actions, fd, 2);
    std::vector<char *> args;
    for (const auto & arg : argv) {
      args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
  }

  ~ChildProcess()
  {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    unlink(output_path_.c_str());
  }

  bool started() const {return pid_ > 0;}

  /// Process id (-1 when the start failed).
  pid_t pid() const {return pid_;}

  /// Waits up to `timeout` for the exit; returns the exit code, or -1 on timeout (child killed).
  int wait(std::chrono::milliseconds timeout)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return -1;
  }

  /// Sends a signal (e.g. SIGINT).
  void signal(int signo) {kill(pid_, signo);}

  /// Everything the child printed so far.
  std::string output() const
  {
    std::ifstream file(output_path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  /// Lines of output that start with `prefix`.
  std::vector<std::string> lines_starting_with(const std::string & prefix) const
  {
    std::vector<std::string> lines;
    std::stringstream text(output());
    std::string line;
    while (std::getline(text, line)) {
      if (line.rfind(prefix, 0) == 0) {
        lines.push_back(line);
      }
    }
    return lines;
  }

  /// Polls until a line starting with `prefix` appears or `timeout` passes.
  bool wait_for_line(const std::string & prefix, std::chrono::milliseconds timeout) const
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!lines_starting_with(prefix).empty()) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

private:
  pid_t pid_{-1};
  bool exited_{false};
  std::string output_path_;
};

/// A new empty directory under /tmp, removed with its contents when the test program ends.
inline std::string temp_dir()
{
  struct Made
  {
    std::vector<std::string> dirs;
    ~Made()
    {
      for (const auto & dir : dirs) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
      }
    }
  };
  static Made made;
  char path[] = "/tmp/rclcdds_test_XXXXXX";
  if (mkdtemp(path) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  made.dirs.emplace_back(path);
  return path;
}

}  // namespace rclcdds_test
