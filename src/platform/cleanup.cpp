#include "platform/cleanup.hpp"

int32_t ksys_cleanupExecute_(ksys_cleanupEntry* entries, uint32_t* count, int32_t* status) {
  // Newest first: a later temporary may depend on an earlier one, never the other way round.
  while (*count > 0) {
    --*count;
    const ksys_cleanupEntry& entry = entries[*count];
    const int32_t result = entry.function(entry.object);
    if (result < 0 && *status >= 0) *status = result;
  }
  return *status;
}
