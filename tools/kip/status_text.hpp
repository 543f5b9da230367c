// Library statuses in words, for the tool's one-line failures.
#pragma once

#include <cstdint>
#include <string>

namespace kiptool {

// "KIP_ERR_SIZE_MISMATCH (window sizes do not fit together)", or the number for a code the tool
// does not know.
std::string statusText(int32_t status);

// Throws a Failure for a negative status: "<doing> failed: <status text>", with the fix that fits
// (less memory for KIP_ERR_OUT_OF_MEMORY; otherwise a report, since the tool checks its arguments
// before calling and a refusal is a defect).
void checkStatus(int32_t status, const std::string& doing);

}  // namespace kiptool
