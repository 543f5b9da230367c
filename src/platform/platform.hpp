// The platform layer: kip's own small image, pel, standard-type, math and system libraries.
// Folders above include this header only.
#pragma once

#include <kip/kip.h>

#include "platform/attention.hpp"
#include "platform/cleanup.hpp"
#include "platform/cpuinfo.hpp"
#include "platform/critical_section.hpp"
#include "platform/image.hpp"
#include "platform/jobs.hpp"
#include "platform/math.hpp"
#include "platform/memory.hpp"
#include "platform/shutdown.hpp"
