#include "platform/inlet/host_ui.h"

#include <cstdio>

namespace platform {
namespace {

// Without a host: messages to standard error, the rest dropped.
class StderrHostUi final : public HostUi {
 public:
  int MessageBox(const CString& text, UINT) override {
    std::fprintf(stderr, "[message] %s\n", text.GetString());
    return 1;
  }
  void ProgressOpen(const CString&) override {}
  void ProgressStep(int, const char*) override {}
  void ProgressClose() override {}
  void FlashStatusText(const char*, const char*, int) override {}
};

StderrHostUi g_defaultUi;
HostUi* g_ui = nullptr;

}  // namespace

void InstallHostUi(HostUi* ui) { g_ui = ui; }
HostUi& CurrentHostUi() { return g_ui ? *g_ui : g_defaultUi; }

}  // namespace platform
