// Helpers for the scanner's tests. Test code only; main thread only.
#pragma once

#include <initializer_list>

#include "platform/main_thread.h"
#include "scanner/scanner.h"

namespace hm::scan::testing {

inline TErrorCategories Categories(std::initializer_list<TErrorCategory> list) {
  TErrorCategories categories;
  for (TErrorCategory category : list) categories.Include(category);
  return categories;
}

// The four categories of the COM registrations.
inline TErrorCategories ClassCategories() {
  return Categories({ecAppIDs, ecCLSIDs, ecTypeLib, ecInterfaces});
}

// Starts a scan and serves its calls until it has ended.
inline void ScanToEnd(TRegScanner& scanner, MainThreadQueue& queue) {
  bool complete = false;
  scanner.OnScanComplete = [&](TRegScanner*) { complete = true; };
  scanner.Start();
  queue.ServeUntil([&] { return complete; });
}

}  // namespace hm::scan::testing
