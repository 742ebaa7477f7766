// The WOW64 registry redirector of Windows 7 and later, on key paths split into components.
//
// In the 32-bit view, HKLM\SOFTWARE\X is HKLM\SOFTWARE\WOW6432Node\X, except for the shared keys
// that Microsoft documents ("Registry Keys Affected by WOW64"), which both views reach in one
// place. Below the classes keys (HKLM\SOFTWARE\Classes and the user's classes hive) only CLSID,
// DirectShow, Interface, Media Type and MediaFoundation are redirected, to Wow6432Node\X.
// Paths that already name the WOW6432Node key are never redirected again.
//
// Independent of the view, SOFTWARE\WOW6432Node\Classes is the symbolic link Windows keeps to
// SOFTWARE\Classes\Wow6432Node.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace hm::reg {

// A key path split at its backslashes. The views point into the caller's path or into static
// names.
using Components = std::vector<std::u16string_view>;

inline constexpr std::u16string_view kClassesKey = u"Classes";
inline constexpr std::u16string_view kWow6432Node = u"WOW6432Node";
inline constexpr std::u16string_view kClassesWow6432Node = u"Wow6432Node";

// Rewrites a path below HKLM\SOFTWARE: the WOW6432Node\Classes link always, the 32-bit view when
// `view32` is set.
void RedirectSoftwarePath(Components* path, bool view32);

// Rewrites a path below a classes key whose components start at `start`, for the 32-bit view.
void RedirectClassesPath(Components* path, size_t start, bool view32);

// True when the path below HKLM\SOFTWARE is one of the shared keys or below one.
bool IsSharedSoftwarePath(const Components& path);

}  // namespace hm::reg
