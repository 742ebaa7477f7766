// TfrLaterRelease: the page shown for a page id whose page a later release of the program
// brings (PC status, settings, optimize, monitor, history cleaner). It says so and offers
// nothing that would pretend to work.
//
// Main (GUI) thread only.
#pragma once

#include "ui/page_frame.h"

namespace hm::ui {

class TfrLaterRelease : public TfrHMFrame {
  Q_OBJECT

 public:
  TfrLaterRelease(TfmHMMain& main, QWidget* body, int page_id);

  // The feature's name and what the page will offer, by page id ("" for ids that have a page
  // in this release).
  static QString FeatureName(int page_id);
  static QString FeatureText(int page_id);
};

}  // namespace hm::ui
