#include "network/quarn_uv_detector.h"

#include <cstdint>

#include "network/download_state.h"
#include "network/vexlink_session.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"

namespace {

constexpr int kLinesPerDownload = 2;

template <int I>
void SetCommandWord(std::uint16_t value) {
  g_downloadRecords.m_directCommand.Set<DirectCommand::Word<I>>(value);
}

void SendToDetector() {
  LC_UnitDirect(g_vexlinkSession.m_hNode.Load(), kUnitUV, g_downloadRecords.m_directCommand.Data());
}

}  // namespace

int CQuarnUVDetector::DownloadMethod(QuarnMethod& method) {
  // Both lines must fit before anything is sent; a full unit list takes
  // no more entries but refuses nothing.
  if (FreeInitialLines() < kLinesPerDownload) {
    SendMessageBox("The analysis file has no room left for the UV detector's settings (32 initial lines at "
                   "most).\nLoad the pump method again, then the UV detector method. The UV detector method "
                   "was not loaded.",
                   MB_ICONEXCLAMATION);
    return 0;
  }
  AppendUnit(kUnitUV);
  const UVDetectorCons& cons = method.GetUVDetectorCons();
  // Tenths of a nanometre, in the units' 16-bit arithmetic for the command.
  const std::uint32_t tenths = static_cast<std::uint32_t>(cons.Wavelength()) * 10u;
  SetCommandWord<0>(static_cast<std::uint16_t>(tenths));
  SetCommandWord<1>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(cons.Response())));
  SetCommandWord<2>(DirectCommand::kUnchanged);
  SetCommandWord<3>(DirectCommand::kLampOn);
  SendToDetector();
  AppendInitialLine(kUnitUV, AnlsLine::kUvWavelength, static_cast<std::int32_t>(tenths));
  AppendInitialLine(kUnitUV, AnlsLine::kUvResponse, cons.Response());
  return 1;
}

int CQuarnUVDetector::SwitchLamp(Switch value) {
  SetCommandWord<0>(DirectCommand::kUnchanged);
  SetCommandWord<1>(DirectCommand::kUnchanged);
  SetCommandWord<2>(DirectCommand::kUnchanged);
  SetCommandWord<3>(static_cast<int>(value) == 1 ? DirectCommand::kLampOn : DirectCommand::kLampOff);
  SendToDetector();
  return 1;
}
