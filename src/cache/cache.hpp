// The cache folder: what the engine and the entry points include.
#pragma once

#include "cache/sample_cache.hpp"
#include "cache/sample_table.hpp"
