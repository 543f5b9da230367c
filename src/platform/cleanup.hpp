// Clean-up lists: the record of a scope's temporaries, run on every exit of the scope.
#pragma once

#include <cstdint>

enum : uint32_t {
  KSYS_CLEANUP_MEMORY = 49,  // object: address of the variable holding a block; function frees it
  KSYS_CLEANUP_OBJECT = 50,  // object: the object; function destroys it
};

using ksys_cleanupFunction = int32_t (*)(void* object);

struct ksys_cleanupEntry {
  uint32_t sequence;  // entries the list held when this one was added
  uint32_t kind;
  void* object;
  ksys_cleanupFunction function;
};

// Calls every entry's function once with its object, the newest first, and sets *count to 0.
// A failure of a clean-up function replaces a non-negative *status; an earlier failure stays.
// Returns *status after the run.
int32_t ksys_cleanupExecute_(ksys_cleanupEntry* entries, uint32_t* count, int32_t* status);
