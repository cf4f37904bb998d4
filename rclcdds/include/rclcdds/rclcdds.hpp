// Everything a node needs, in one include (as <rclcpp/rclcpp.hpp>).
#pragma once

#include "rclcdds/client.hpp"
#include "rclcdds/clock.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"
#include "rclcdds/executors/multi_threaded_executor.hpp"
#include "rclcdds/executors/single_threaded_executor.hpp"
#include "rclcdds/logger.hpp"
#include "rclcdds/node.hpp"
#include "rclcdds/parameter.hpp"
#include "rclcdds/qos.hpp"
#include "rclcdds/service.hpp"
#include "rclcdds/spin_until_future_complete.hpp"
#include "rclcdds/time.hpp"
#include "rclcdds/timer.hpp"
#include "rclcdds/wait_for_message.hpp"
