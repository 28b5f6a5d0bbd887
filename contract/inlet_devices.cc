#include "contract/inlet_devices.h"

#include "platform/inlet/inlet.h"

// The constructors leave the interface window and the detector fields as
// the host contract does: uninitialised by the class, set by the host.
// Here they start null / 0 so that reading them is never undefined.

CPump::CPump() : m_hUserInterfaceWindow(nullptr), m_nStopOnExit(0) {}
CPump::~CPump() = default;

bool CPump::FormatSolventMonitorUpdate(CInletSystemStatus& status, CString& document, CString name) {
  static const char* const kLines[] = {"A", "B", "C", "D"};
  const float percents[] = {status.GetPercentA(), status.GetPercentB(), status.GetPercentC(),
                            status.GetPercentD()};
  document.Empty();
  document += "<solventMonitorModel>";
  document += "<pump>";
  CString piece;
  piece.Format("<name>%s</name>", name.GetString());
  document += piece;
  piece.Format("<flowRate>%f</flowRate>", static_cast<double>(status.GetFlow()));
  document += piece;
  for (int line = 0; line < 4; ++line) {
    document += "<connectionPoint>";
    piece.Format("<name>%s</name>", kLines[line]);
    document += piece;
    document += "<type>Input</type>";
    piece.Format("<composition>%f</composition>", -static_cast<double>(percents[line]));
    document += piece;
    document += "</connectionPoint>";
  }
  document += "<connectionPoint>";
  document += "<name>Output</name>";
  document += "<type>Output</type>";
  document += "<composition>100</composition>";
  document += "</connectionPoint>";
  document += "</pump>";
  document += "</solventMonitorModel>";
  return true;
}

BEGIN_MESSAGE_MAP(CPump, CWnd)
END_MESSAGE_MAP()

CAutoSampler::CAutoSampler() : m_hUserInterfaceWindow(nullptr) {
  SetVialRange(1, 10000);
  m_strRunMessage = "";
}
CAutoSampler::~CAutoSampler() = default;

void CAutoSampler::WriteInjectionVolume(CGenericExpRecord* record, float volume) {
  if (!record) return;
  record->AppendText("\n");
  record->AppendText("Sample Run Injection Parameter\n\n");
  CString line;
  line.Format("Injection Volume (ul)   -   %.2f\n", static_cast<double>(volume));
  record->AppendText(line);
}

BEGIN_MESSAGE_MAP(CAutoSampler, CWnd)
END_MESSAGE_MAP()

CDetector::CDetector() : m_nDetectorKind(0), m_nDetectorNumber(0), m_hUserInterfaceWindow(nullptr) {}
CDetector::~CDetector() = default;
BEGIN_MESSAGE_MAP(CDetector, CWnd)
END_MESSAGE_MAP()

CUVDetector::CUVDetector() : m_hUserInterfaceWindow(nullptr) {}
CUVDetector::~CUVDetector() = default;
BEGIN_MESSAGE_MAP(CUVDetector, CDetector)
END_MESSAGE_MAP()

CPDADetector::CPDADetector() : m_hUserInterfaceWindow(nullptr) {}
CPDADetector::~CPDADetector() = default;
BEGIN_MESSAGE_MAP(CPDADetector, CDetector)
END_MESSAGE_MAP()

COven::COven() = default;
COven::~COven() = default;
BEGIN_MESSAGE_MAP(COven, CWnd)
END_MESSAGE_MAP()

CGCSystem::CGCSystem() : m_hUserInterfaceWindow(nullptr) {}
CGCSystem::~CGCSystem() = default;
BEGIN_MESSAGE_MAP(CGCSystem, CWnd)
END_MESSAGE_MAP()
