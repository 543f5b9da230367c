// Shut-down hooks: functions run once when the library is unloaded (or the process ends), newest
// first.
#pragma once

#include <cstdint>

using ksys_shutdownFunction = int32_t (*)(void* object);

int32_t ksys_shutdown_register(ksys_shutdownFunction function, void* object);

// Test switches: make the next registrations fail with status (0 to stop), and run and forget
// every registered hook now, as an unload would.
void ksys_shutdown_testFailRegistration(int32_t status);
void ksys_shutdown_testRunAll();
