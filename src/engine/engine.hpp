// The engine folder: what the entry points include.
#pragma once

#include "engine/cubic_weight_table.hpp"
