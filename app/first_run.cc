#include "app/first_run.h"

#include <cstdint>

#include "registry/win_registry.h"

namespace hm::app {
namespace {

using reg::HKEY;

bool MarkerIsSet() {
  HKEY key = 0;
  if (reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, kFirstRunKey, 0, reg::KEY_READ, &key) !=
      kErrorSuccess) {
    return false;
  }
  uint32_t type = 0;
  uint8_t data[4] = {};
  uint32_t size = sizeof(data);
  // A REG_DWORD is stored little-endian whatever the host's byte order.
  const bool set =
      reg::RegQueryValueExA(key, kFirstRunValue, &type, data, &size) == kErrorSuccess &&
      type == reg::REG_DWORD && size == sizeof(data) && data[0] == 1 && data[1] == 0 &&
      data[2] == 0 && data[3] == 0;
  reg::RegCloseKey(key);
  return set;
}

void SetMarker() {
  HKEY key = 0;
  if (reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, kFirstRunKey, 0, reg::KEY_ALL_ACCESS, &key) !=
          kErrorSuccess &&
      reg::RegCreateKeyExA(reg::HKEY_CURRENT_USER, kFirstRunKey, reg::KEY_ALL_ACCESS, &key) !=
          kErrorSuccess) {
    return;
  }
  const uint8_t one[4] = {1, 0, 0, 0};
  if (reg::RegSetValueExA(key, kFirstRunValue, reg::REG_DWORD, one, sizeof(one)) == kErrorSuccess) {
    reg::RegFlushKey(key);
  }
  reg::RegCloseKey(key);
}

}  // namespace

bool CheckAndMarkFirstRun() {
  if (MarkerIsSet()) return false;
  SetMarker();
  return true;
}

}  // namespace hm::app
