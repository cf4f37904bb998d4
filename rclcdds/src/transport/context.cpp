#include "rclcdds/context.hpp"

#include <dds/dds.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "signal_handler.hpp"
#include "transport_log.hpp"

namespace rclcdds
{

namespace
{
constexpr char kParticipantUserData[] = "enclave=/;";
constexpr char kAutoIndex[] = "<ParticipantIndex>auto</ParticipantIndex>";
constexpr char kNoIndex[] = "<ParticipantIndex>none</ParticipantIndex>";
}  // namespace

Context::Context() = default;

Context::~Context()
{
  if (participant_ > 0) {
    dds_delete(participant_);
  }
  if (domain_ > 0) {
    dds_delete(domain_);
  }
}

void Context::create_participant(const NetworkConfig & network)
{
  std::string config = network.cyclone_xml;
  if (network.mode == NetworkMode::CycloneUri) {
    const char * uri = std::getenv("CYCLONEDDS_URI");
    config = uri != nullptr ? uri : "";
  } else if (std::getenv("CYCLONEDDS_URI") != nullptr) {
    detail::transport_logger()->warn(
      "CYCLONEDDS_URI is ignored: DDS stays on the loopback interface unless "
      "RCLCDDS_NETWORK=cyclonedds-uri is set");
  }
  std::string failed_step;
  dds_entity_t participant = create_domain_and_participant(network.domain_id, config, failed_step);
  if (participant < 0 && !failed_step.empty() && config.find(kAutoIndex) != std::string::npos) {
    // Cyclone refuses the domain when every participant index of the loopback configuration
    // is taken (by rclcdds processes or anything else holding those ports). Start without an
    // index, still on loopback only: this participant uses a free port and announces it to
    // the peers, which answer there.
    std::string fallback = config;
    fallback.replace(fallback.find(kAutoIndex), std::strlen(kAutoIndex), kNoIndex);
    participant = create_domain_and_participant(network.domain_id, fallback, failed_step);
    if (participant > 0) {
      detail::transport_logger()->warn(
        "every DDS participant index on 127.0.0.1 is taken: started without one (a free "
        "port); other processes find this one, but a process started the same way may not");
    }
  }
  if (participant < 0) {
    throw std::runtime_error(
            "cannot create DDS " + failed_step + ": " + dds_strretcode(participant));
  }
  participant_ = participant;
}

int32_t Context::create_domain_and_participant(
  uint32_t domain_id, const std::string & config, std::string & failed_step)
{
  failed_step.clear();
  const dds_entity_t domain = dds_create_domain(domain_id, config.c_str());
  if (domain < 0 && domain != DDS_RETCODE_PRECONDITION_NOT_MET) {
    // PRECONDITION_NOT_MET: another context of this process created the domain already.
    failed_step = "domain " + std::to_string(domain_id);
    return domain;
  }
  domain_ = domain > 0 ? domain : 0;

  dds_qos_t * qos = dds_create_qos();
  dds_qset_userdata(qos, kParticipantUserData, sizeof(kParticipantUserData) - 1);
  const dds_entity_t participant = dds_create_participant(domain_id, qos, nullptr);
  dds_delete_qos(qos);
  if (participant < 0) {
    failed_step = "participant";
    if (domain_ > 0) {
      dds_delete(domain_);
      domain_ = 0;
    }
  }
  return participant;
}

void Context::init(int argc, const char * const * argv, const InitOptions & options)
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (valid_) {
    throw std::runtime_error("context is already initialized");
  }
  if (participant_ == 0) {
    network_ = options.network ? *options.network : NetworkConfig::from_environment();
    create_participant(network_);
  }
  arguments_.clear();
  for (int i = 0; i < argc && argv != nullptr; ++i) {
    arguments_.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  shutdown_reason_.clear();
  valid_ = true;
}

bool Context::is_valid() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return valid_;
}

std::vector<std::string> Context::get_init_arguments() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return arguments_;
}

bool Context::shutdown(const std::string & reason)
{
  std::vector<OnShutdownCallbackHandle> callbacks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) {
      return false;
    }
    valid_ = false;
    shutdown_reason_ = reason;
    callbacks = on_shutdown_callbacks_;
  }
  shutdown_cv_.notify_all();
  for (const auto & callback : callbacks) {
    (*callback)();
  }
  trigger_interrupt_guards();
  return true;
}

std::string Context::shutdown_reason() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

Context::OnShutdownCallbackHandle Context::add_on_shutdown_callback(OnShutdownCallback callback)
{
  auto handle = std::make_shared<OnShutdownCallback>(std::move(callback));
  std::lock_guard<std::mutex> lock(mutex_);
  on_shutdown_callbacks_.push_back(handle);
  return handle;
}

bool Context::remove_on_shutdown_callback(const OnShutdownCallbackHandle & handle)
{
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(on_shutdown_callbacks_.begin(), on_shutdown_callbacks_.end(), handle);
  if (it == on_shutdown_callbacks_.end()) {
    return false;
  }
  on_shutdown_callbacks_.erase(it);
  return true;
}

bool Context::sleep_for(std::chrono::nanoseconds duration)
{
  std::unique_lock<std::mutex> lock(mutex_);
  if (!valid_) {
    return false;
  }
  const bool interrupted = shutdown_cv_.wait_for(lock, duration, [this] {return !valid_;});
  return !interrupted;
}

void Context::add_interrupt_guard(int32_t guard_condition)
{
  std::lock_guard<std::mutex> lock(mutex_);
  interrupt_guards_.push_back(guard_condition);
}

void Context::remove_interrupt_guard(int32_t guard_condition)
{
  std::lock_guard<std::mutex> lock(mutex_);
  interrupt_guards_.erase(
    std::remove(interrupt_guards_.begin(), interrupt_guards_.end(), guard_condition),
    interrupt_guards_.end());
}

void Context::trigger_interrupt_guards()
{
  std::lock_guard<std::mutex> lock(mutex_);
  for (int32_t guard : interrupt_guards_) {
    dds_set_guardcondition(guard, true);
  }
}

Context::SharedPtr get_global_default_context()
{
  static const Context::SharedPtr context = std::make_shared<Context>();
  return context;
}

namespace
{
Context::SharedPtr or_global(const Context::SharedPtr & context)
{
  return context ? context : get_global_default_context();
}
}  // namespace

void init(
  int argc, const char * const * argv, const InitOptions & options,
  SignalHandlerOptions signal_handler_options)
{
  get_global_default_context()->init(argc, argv, options);
  detail::SignalHandler::instance().install(signal_handler_options);
}

bool ok(const Context::SharedPtr & context)
{
  return or_global(context)->is_valid();
}

bool shutdown(const Context::SharedPtr & context, const std::string & reason)
{
  return or_global(context)->shutdown(reason);
}

void on_shutdown(std::function<void ()> callback, const Context::SharedPtr & context)
{
  or_global(context)->add_on_shutdown_callback(std::move(callback));
}

bool sleep_for(std::chrono::nanoseconds duration, const Context::SharedPtr & context)
{
  return or_global(context)->sleep_for(duration);
}

bool uninstall_signal_handlers()
{
  return detail::SignalHandler::instance().uninstall();
}

}  // namespace rclcdds
