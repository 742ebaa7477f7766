// The pages of this release, installed into the main window at start.
//
// Main (GUI) thread only.
#pragma once

namespace hm::ui {

class TfmHMMain;

// Registers every page this release has (RegisterPage) and installs the flows (SetFlows).
// Page ids left out show the "later release" page.
void InstallProgramPages(TfmHMMain& main);

}  // namespace hm::ui
