// The engine folder: what the entry points include.
#pragma once

#include "engine/cubic_weight_table.hpp"
#include "engine/portable_process.hpp"
#include "engine/table_process.hpp"
#include "engine/optimized_process.hpp"
#include "engine/threaded_process.hpp"
