// The dispatch core in one include: executables, callback groups and the executor base.
#pragma once

#include "rclcdds/callback_group.hpp"
#include "rclcdds/executor.hpp"
#include "rclcdds/subscription_options.hpp"
#include "rclcdds/waitable.hpp"
