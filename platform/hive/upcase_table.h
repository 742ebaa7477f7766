// The upper-case table of Windows for the registry (see upcase.h). Internal to the hive engine.
#pragma once

namespace hm::hive {

char16_t UpcaseTableLookup(char16_t c);

}  // namespace hm::hive
