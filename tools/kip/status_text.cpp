#include "status_text.hpp"

#include "failure.hpp"

#include <kip/kip.h>

#include <cstdio>

namespace kiptool {

std::string statusText(int32_t status) {
  if (std::string(kip_statusName(status)) != "KIP_ERR_UNKNOWN") {
    return std::string(kip_statusName(status)) + " (" + kip_statusMessage(status) + ")";
  }
  char hex[32];
  std::snprintf(hex, sizeof hex, "status 0x%08X", static_cast<unsigned>(status));
  return hex;
}

void checkStatus(int32_t status, const std::string& doing) {
  if (status >= 0) return;
  if (status == KIP_ERR_OUT_OF_MEMORY) {
    fail(doing + " ran out of memory", "Use a smaller image or size, or free some memory");
  }
  fail(doing + " failed: " + statusText(status), "This is a defect in kip; please report it with the command");
}

}  // namespace kiptool
