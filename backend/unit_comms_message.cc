#include "backend/unit_comms_message.h"

#include <algorithm>
#include <cstring>

#include "platform/inlet/inlet.h"
#include "platform/mfc/cstring.h"

namespace {

char g_szCommsMessage[512];

}  // namespace

const char* SendUnitCommsMessage(const char* unit, const char* text) {
  const char* prefix = "";
  if (unit) {
    if (std::strcmp(unit, "PUMP") == 0) {
      prefix = "Quarn PUMP Communications.\n\n";
    } else if (std::strcmp(unit, "AUTOSAMPLER") == 0) {
      prefix = "Quarn AUTOSAMPLER Communications.\n\n";
    } else if (std::strcmp(unit, "PDA") == 0) {
      prefix = "Quarn PDA Detector Communications.\n\n";
    } else if (std::strcmp(unit, "UV") == 0) {
      prefix = "Quarn UV Detector Communications.\n\n";
    }
  }
  const CString message = CString(prefix) + text;
  SendMessageBox(message, 0x30);
  std::memset(g_szCommsMessage, 0, sizeof g_szCommsMessage);
  const size_t n = std::min(static_cast<size_t>(message.GetLength()), sizeof g_szCommsMessage - 1);
  std::memcpy(g_szCommsMessage, message.GetString(), n);
  return g_szCommsMessage;
}
