// The frame: what every folder above the platform layer includes.
#pragma once

#include "frame/cleanup_list.hpp"
#include "frame/fixed_point.hpp"
#include "frame/optimization_hook.hpp"
#include "frame/processor_test.hpp"
#include "frame/status.hpp"
