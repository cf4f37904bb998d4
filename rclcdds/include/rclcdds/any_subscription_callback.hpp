// Holds a user subscription callback of any of rclcpp's accepted signatures.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "rclcdds/message_info.hpp"

namespace rclcdds
{

/// A callback taking `const T&`, `std::shared_ptr<const T>`, `std::shared_ptr<T>` or
/// `std::unique_ptr<T>`, optionally followed by `const MessageInfo&`. Dispatch hands over the
/// received message without copying it.
template<class MessageT>
class AnySubscriptionCallback
{
public:
  using ConstRefCallback = std::function<void (const MessageT &)>;
  using ConstSharedPtrCallback = std::function<void (std::shared_ptr<const MessageT>)>;
  using SharedPtrCallback = std::function<void (std::shared_ptr<MessageT>)>;
  using UniquePtrCallback = std::function<void (std::unique_ptr<MessageT>)>;
  using ConstRefInfoCallback = std::function<void (const MessageT &, const MessageInfo &)>;
  using ConstSharedPtrInfoCallback =
    std::function<void (std::shared_ptr<const MessageT>, const MessageInfo &)>;
  using SharedPtrInfoCallback = std::function<void (std::shared_ptr<MessageT>, const MessageInfo &)>;
  using UniquePtrInfoCallback = std::function<void (std::unique_ptr<MessageT>, const MessageInfo &)>;

  /// Picks the signature from what `callback` accepts, most specific pointer type first (a
  /// `shared_ptr<const T>` parameter also accepts `shared_ptr<T>`, which accepts `unique_ptr<T>`).
  template<class CallbackT>
  explicit AnySubscriptionCallback(CallbackT && callback)
  {
    using C = std::decay_t<CallbackT>;
    using ConstSp = std::shared_ptr<const MessageT>;
    using Sp = std::shared_ptr<MessageT>;
    using Up = std::unique_ptr<MessageT>;
    using Info = const MessageInfo &;
    if constexpr (std::is_invocable_v<C &, ConstSp>) {
      const_shared_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, Sp>) {
      shared_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, Up>) {
      unique_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, const MessageT &>) {
      const_ref_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, ConstSp, Info>) {
      const_shared_info_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, Sp, Info>) {
      shared_info_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, Up, Info>) {
      unique_info_ = std::forward<CallbackT>(callback);
    } else if constexpr (std::is_invocable_v<C &, const MessageT &, Info>) {
      const_ref_info_ = std::forward<CallbackT>(callback);
    } else {
      static_assert(
        std::is_invocable_v<C &, const MessageT &>,
        "subscription callback must take const T&, std::shared_ptr<const T>, "
        "std::shared_ptr<T> or std::unique_ptr<T> (optionally followed by const MessageInfo&)");
    }
  }

  /// Calls the callback with `msg`, which it consumes.
  void dispatch(std::unique_ptr<MessageT> msg, const MessageInfo & info) const
  {
    if (const_ref_) {
      const_ref_(*msg);
    } else if (const_ref_info_) {
      const_ref_info_(*msg, info);
    } else if (unique_) {
      unique_(std::move(msg));
    } else if (unique_info_) {
      unique_info_(std::move(msg), info);
    } else if (shared_) {
      shared_(std::shared_ptr<MessageT>(std::move(msg)));
    } else if (shared_info_) {
      shared_info_(std::shared_ptr<MessageT>(std::move(msg)), info);
    } else if (const_shared_) {
      const_shared_(std::shared_ptr<const MessageT>(std::move(msg)));
    } else if (const_shared_info_) {
      const_shared_info_(std::shared_ptr<const MessageT>(std::move(msg)), info);
    } else {
      throw std::logic_error("subscription has no callback");
    }
  }

private:
  ConstRefCallback const_ref_;
  ConstSharedPtrCallback const_shared_;
  SharedPtrCallback shared_;
  UniquePtrCallback unique_;
  ConstRefInfoCallback const_ref_info_;
  ConstSharedPtrInfoCallback const_shared_info_;
  SharedPtrInfoCallback shared_info_;
  UniquePtrInfoCallback unique_info_;
};

}  // namespace rclcdds
