// The host's own folders for the program: where single-instance locks and sockets live, where
// the choice of installation is remembered, and where the demo installation and data folders
// that an installation cannot hold are kept. Stateless functions over the process environment.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/status.h"

namespace hm::app {

struct HostFolders {
  // Private to the host user: $XDG_RUNTIME_DIR, else /tmp/hivemend-<uid> (mode 0700). Empty
  // when neither is usable; the program then runs without the single-instance check.
  std::filesystem::path runtime;
  // $XDG_CONFIG_HOME/hivemend (default ~/.config/hivemend).
  std::filesystem::path config;
  // $XDG_DATA_HOME/hivemend (default ~/.local/share/hivemend).
  std::filesystem::path data;

  static HostFolders FromEnvironment();
};

// A private folder of this user at `path`: created with mode 0700 when missing; an existing one
// must be a real folder (not a link) owned by this user that no one else may enter. Shared
// folders such as /tmp are where another user could plant a link or a socket.
Status EnsurePrivateFolder(const std::filesystem::path& path);

// The installation the program worked on last, remembered in `config`/installation.
struct RememberedInstallation {
  bool demo = false;
  std::filesystem::path root;  // when not the demo
  std::string user;            // empty: the installation's first user
};

std::optional<RememberedInstallation> ReadRememberedInstallation(
    const std::filesystem::path& config);
Status RememberInstallation(const std::filesystem::path& config,
                            const RememberedInstallation& choice);

}  // namespace hm::app
