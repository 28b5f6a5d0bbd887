// CQuarnUVDetector: the UV detector back-end on the direct instrument
// network (CBaseUV, backend/backend_interfaces.h).
//
// A method download sets the wavelength and response at once with a
// direct command and adds them to the analysis file as initial lines, so
// that they are part of the next run; the lamp is switched by direct
// command. Neither looks at whether the session is open: the commands go
// out with whatever node the session holds. The lamp state reaches the
// host through the pump's status.
// Thread safety: host's thread only.
#pragma once

#include "backend/backend_interfaces.h"

class CQuarnUVDetector : public CBaseUV {
 public:
  int DownloadMethod(QuarnMethod& method) override;
  int SwitchLamp(Switch value) override;
  int ReadStatus(CInletSystemStatus&) override { return 1; }
  void Initialise() override {}
  int InitialiseComms() override { return 1; }
};
