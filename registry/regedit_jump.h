// "Show Key": opening a registry view at a key (and value) for the user.
//
// The program this comes from drove the system registry editor's window with key strokes. Here
// the front end shows the key itself: the desktop program opens its own registry view, the
// command-line tool prints the key. ShowKeyInRegedit() keeps the decisions (which root, which
// view, whether the key exists at all) and hands the result to the process's RegistryJump.
//
// Thread safety: SetRegistryJump() once at start (or between uses, from the thread that uses
// it); ShowKeyInRegedit() runs on the calling thread and calls the jump there.
#pragma once

#include <optional>
#include <string>

#include "registry/reg_types.h"

namespace hm::reg {

// Where "Show Key" goes.
struct RegistryJumpTarget {
  HKEY root = 0;
  bool view64 = true;      // the registry view the key was found in
  std::string key_path;    // below the root, in the installation's code page ("" for the root)
  // The value to select: nullopt when the text named none; "" is the default value.
  std::optional<std::string> value_name;
  // The key text with the root's full name: "HKEY_LOCAL_MACHINE\SOFTWARE\X", followed by "\\:"
  // and the value name when one was given.
  std::string text;
};

// Set by the front end. Implementations show the target; they must not call ShowKeyInRegedit.
class RegistryJump {
 public:
  virtual ~RegistryJump() = default;
  virtual void ShowKey(const RegistryJumpTarget& target) = 0;
};

// Installs (or, with nullptr, removes) the jump; it must outlive its use.
void SetRegistryJump(RegistryJump* jump);
RegistryJump* ProcessRegistryJump();

// `text` is a key text: a root name (full or abbreviated, any case), a backslash and a key path,
// optionally followed by "\\:" and a value name. False when it holds no backslash or the key
// exists in neither view; callers then show "Registry key does not exist.". Otherwise the view
// is chosen (the 64-bit one on 64-bit Windows, else the 32-bit one, when the key exists there;
// else whichever view has it), the target goes to the jump (when one is installed) and true is
// returned.
bool ShowKeyInRegedit(const std::string& text);

// The target as one line for people: "HKEY_LOCAL_MACHINE\SOFTWARE\X (64-bit view), value Y"
// ("value (Default)" for the default value; no view on an installation that has only one), in
// the installation's code page.
std::string DescribeJumpTarget(const RegistryJumpTarget& target);

}  // namespace hm::reg
