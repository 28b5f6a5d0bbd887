// The host-UI sink: where the inlet library's message boxes, progress
// displays and flashing status texts go.
//
// Contract: one sink per process, installed by whoever plays the host (the
// host program renders to the terminal; tests record). The sink is
// borrowed: it must outlive its installation. Without an installed sink,
// messages go to standard error and everything else is dropped.
// Thread safety: the product calls the sink on the host's thread only;
// installing a sink while the product runs is not supported.
#pragma once

#include "platform/mfc/cstring.h"
#include "platform/mfc/windef.h"

namespace platform {

class HostUi {
 public:
  virtual ~HostUi() = default;

  // A message box with `style` (0x30: warning icon); returns the button
  // pressed (IDOK = 1).
  virtual int MessageBox(const CString& text, UINT style) = 0;

  // A progress display opens with `text`, steps to `percent` (with a new
  // text, or null to keep the current one), and closes.
  virtual void ProgressOpen(const CString& text) = 0;
  virtual void ProgressStep(int percent, const char* text) = 0;
  virtual void ProgressClose() = 0;

  // Flashing status text: on = prefix + text flashes; off (all null, 0)
  // ends it.
  virtual void FlashStatusText(const char* prefix, const char* text, int on) = 0;
};

// Installs `ui` (borrowed; null restores the default).
void InstallHostUi(HostUi* ui);
HostUi& CurrentHostUi();

}  // namespace platform
