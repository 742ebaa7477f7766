#include "ui/program_pages.h"

#include "ui/main_window.h"

namespace hm::ui {

void InstallProgramPages(TfmHMMain& main) {
  // One line per page, for example:
  //   main.RegisterPage<TfScan>(hpScan);
  // and the flows once they exist:
  //   main.SetFlows(std::make_unique<TScanRepairFlows>(main));
  (void)main;
}

}  // namespace hm::ui
