// Process-wide ROS 2 context: one Cyclone DDS participant, init/shutdown state and shutdown hooks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rclcdds/network_config.hpp"

namespace rclcdds
{

/// Which signals rclcdds::init installs handlers for (as rclcpp::SignalHandlerOptions).
enum class SignalHandlerOptions
{
  All,      ///< SIGINT and SIGTERM
  SigInt,   ///< SIGINT only
  SigTerm,  ///< SIGTERM only
  None,     ///< no handlers
};

/// Options of Context::init (as rclcpp::InitOptions).
struct InitOptions
{
  /// Network settings; empty means "read the environment" (RCLCDDS_NETWORK, ROS_DOMAIN_ID).
  std::shared_ptr<NetworkConfig> network;
};

/// Owns the process's DDS participant (USER_DATA "enclave=/;") and its lifecycle.
class Context : public std::enable_shared_from_this<Context>
{
public:
  using SharedPtr = std::shared_ptr<Context>;
  using OnShutdownCallback = std::function<void ()>;
  /// Token returned by add_on_shutdown_callback.
  using OnShutdownCallbackHandle = std::shared_ptr<OnShutdownCallback>;

  Context();
  virtual ~Context();
  Context(const Context &) = delete;
  Context & operator=(const Context &) = delete;

  /// Creates the participant (first call) and makes the context valid; keeps the raw arguments.
  /// @throws std::runtime_error when already valid or when DDS cannot start
  /// @throws std::invalid_argument for a bad ROS_DOMAIN_ID or RCLCDDS_NETWORK
  void init(int argc, const char * const * argv, const InitOptions & options = InitOptions());

  /// True between init() and shutdown().
  bool is_valid() const;

  /// The arguments given to init(), argv[0] included.
  std::vector<std::string> get_init_arguments() const;

  /// Invalidates the context, runs the on-shutdown callbacks once and wakes every waiting
  /// executor. Returns false when it was not valid. The participant stays until destruction.
  bool shutdown(const std::string & reason);

  /// Reason given to shutdown(); empty while valid.
  std::string shutdown_reason() const;

  /// Registers a callback run by shutdown(), in registration order.
  OnShutdownCallbackHandle add_on_shutdown_callback(OnShutdownCallback callback);
  /// @return false when the handle was not registered
  bool remove_on_shutdown_callback(const OnShutdownCallbackHandle & handle);

  /// Sleeps up to `duration`; returns false when woken early by shutdown.
  bool sleep_for(std::chrono::nanoseconds duration);

  /// DDS participant entity (dds_entity_t); 0 before init().
  int32_t participant() const {return participant_;}
  /// DDS domain of the participant.
  uint32_t domain_id() const {return network_.domain_id;}
  /// Network settings in force.
  const NetworkConfig & network() const {return network_;}

  /// Registers a DDS guard condition that shutdown() triggers (executors wait on one).
  void add_interrupt_guard(int32_t guard_condition);
  void remove_interrupt_guard(int32_t guard_condition);

private:
  void create_participant(const NetworkConfig & network);
  /// Creates the domain from `config` (kept in domain_) and a participant in it; returns the
  /// participant, or a negative DDS return code with the step that failed in `failed_step`.
  int32_t create_domain_and_participant(
    uint32_t domain_id, const std::string & config, std::string & failed_step);
  void trigger_interrupt_guards();

  mutable std::mutex mutex_;
  std::condition_variable shutdown_cv_;
  bool valid_{false};
  std::string shutdown_reason_;
  std::vector<std::string> arguments_;
  std::vector<OnShutdownCallbackHandle> on_shutdown_callbacks_;
  std::vector<int32_t> interrupt_guards_;
  NetworkConfig network_;
  int32_t domain_{0};       ///< explicitly created DDS domain entity
  int32_t participant_{0};  ///< DDS participant entity
};

/// The context every entity uses unless given another one.
Context::SharedPtr get_global_default_context();

/// Initialises the global context and installs the signal handlers (SIGINT and SIGTERM shut the
/// context down, which wakes every executor).
void init(
  int argc, const char * const * argv, const InitOptions & options = InitOptions(),
  SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

/// True while the (global) context is valid.
bool ok(const Context::SharedPtr & context = nullptr);

/// Shuts the (global) context down; false when it was not valid.
bool shutdown(
  const Context::SharedPtr & context = nullptr,
  const std::string & reason = "user called rclcdds::shutdown()");

/// Registers a callback run when the (global) context shuts down.
void on_shutdown(std::function<void ()> callback, const Context::SharedPtr & context = nullptr);

/// Sleeps up to `duration`; false when interrupted by shutdown.
bool sleep_for(std::chrono::nanoseconds duration, const Context::SharedPtr & context = nullptr);

/// Restores the signal handlers that were in place before init(); true when some were installed.
bool uninstall_signal_handlers();

}  // namespace rclcdds
