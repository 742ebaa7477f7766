#include "ui/program_pages.h"

#include "ui/flows.h"
#include "ui/main_window.h"
#include "ui/report_page.h"
#include "ui/restore_page.h"
#include "ui/results_page.h"
#include "ui/scan_page.h"

namespace hm::ui {

void InstallProgramPages(TfmHMMain& main) {
  // One line per page, for example:
  //   main.RegisterPage<TfScan>(hpScan);
  // and the flows once they exist:
  //   main.SetFlows(std::make_unique<TScanRepairFlows>(main));
  main.RegisterPage<TfScan>(hpScan);
  main.RegisterPage<TfResults>(hpResults);
  main.RegisterPage<TfReportR>(hpReport);
  main.RegisterPage<TfRestore>(hpRestore);
  main.SetFlows(std::make_unique<TScanRepairFlows>(main));
}

}  // namespace hm::ui
