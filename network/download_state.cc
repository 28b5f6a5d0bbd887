#include "network/download_state.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "platform/vexlink/reply_formats.h"

constinit DownloadRecords g_downloadRecords;
constinit DirectRunSettings g_directRunSettings;

void DownloadRecords::ResetForTesting() {
  m_anlsFile.Clear();
  m_runHeader.Clear();
  m_transferControl.Clear();
  m_directCommand.Clear();
  m_nUnitListIndex = -1;
}

void DirectRunSettings::ResetForTesting() { *this = DirectRunSettings{}; }

// The records' numbers come from single-precision products (2.3 min x 60
// is 138 s only once rounded to a float), so a float expression must be
// evaluated in its own precision, as the host's compilers do: never in the
// x87 unit's extended precision.
static_assert(FLT_EVAL_METHOD == 0, "floating point must be evaluated in SSE (-msse2 -mfpmath=sse on 32-bit x86)");

std::int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

void PrepareTransfer() {
  const DirectRunSettings& settings = g_directRunSettings;
  RunHeader& header = g_downloadRecords.m_runHeader;
  header.Set<RunHeader::Constant0>(1000);
  header.Set<RunHeader::Constant4>(0xFFFF);
  header.Set<RunHeader::Constant12>(180);
  header.Set<RunHeader::Constant24>(1);
  header.Set<RunHeader::Constant26>(2);
  header.Set<RunHeader::Constant44>(1001);
  header.Set<RunHeader::Constant60>(-1);
  header.Set<RunHeader::FlushCount>(static_cast<std::uint16_t>(settings.m_nFlushCount));
  header.Set<RunHeader::InjectVolumeNl>(TruncateToInt32(static_cast<double>(settings.m_fInjectionVolumeUl * 1000.0f)));
  if (settings.m_nStarting) {
    header.Set<RunHeader::RunTimeS>(settings.m_nStopTimeS);
    header.Set<RunHeader::FirstVial>(RunHeader::kNoVial);
    header.Set<RunHeader::LastVial>(RunHeader::kNoVial);
  } else {
    header.Set<RunHeader::RunTimeS>(TruncateToInt32(static_cast<double>(settings.m_fAnalysisTimeS)));
    header.Set<RunHeader::FirstVial>(static_cast<std::uint16_t>(settings.m_nVialNumber));
    header.Set<RunHeader::LastVial>(static_cast<std::uint16_t>(settings.m_nVialNumber));
  }

  TransferControl& control = g_downloadRecords.m_transferControl;
  control.Set<TransferControl::Word<0>>(2);
  control.Set<TransferControl::Word<1>>(0);
  control.Set<TransferControl::Word<2>>(0);
}

void BuildSessionAnlsFile() {
  PrepareTransfer();

  AnlsFile& file = g_downloadRecords.m_anlsFile;
  file.Set<AnlsFile::InitialCount>(0);
  file.Set<AnlsFile::TimetableCount>(0);
  file.Set<AnlsFile::SystemCode>(kSystemSingle);
  file.Set<AnlsFile::Reserved>(0);
  file.Set<AnlsFile::Signature>(AnlsFile::kSignature);
  for (std::size_t i = 0; i < AnlsFile::UnitList::kCount; ++i) file.Row<AnlsFile::UnitList>(i).Set<AnlsFile::UnitEntry>(0);
  file.Row<AnlsFile::UnitList>(0).Set<AnlsFile::UnitEntry>(kUnitPump1);
  file.Row<AnlsFile::UnitList>(1).Set<AnlsFile::UnitEntry>(kUnitAutosampler);

  AppendInitialLine(kUnitPump1, AnlsLine::kFlow, 2000);
  AppendInitialLine(kUnitPump1, AnlsLine::kUpperPressure, 300);
  AppendInitialLine(kUnitPump1, AnlsLine::kLowerPressure, 0);
}

bool AppendInitialLine(std::uint16_t unit, std::uint16_t code, std::int32_t p0) {
  AnlsFile& file = g_downloadRecords.m_anlsFile;
  const std::int16_t count = file.Get<AnlsFile::InitialCount>();
  if (count < 0) return false;
  auto line = file.Row<AnlsFile::InitialLines>(static_cast<std::size_t>(count));
  if (line.IsNull()) return false;
  line.Set<AnlsLine::Unit>(unit);
  line.Set<AnlsLine::TimeMs>(AnlsLine::kInitialTime);
  line.Set<AnlsLine::Code>(code);
  line.Set<AnlsLine::P0>(p0);
  file.Set<AnlsFile::InitialCount>(static_cast<std::int16_t>(count + 1));
  return true;
}

int FreeInitialLines() {
  const int count = g_downloadRecords.m_anlsFile.Get<AnlsFile::InitialCount>();
  return count < 0 ? 0 : std::max(0, static_cast<int>(AnlsFile::InitialLines::kCount) - count);
}

bool AppendUnit(std::uint16_t unit) {
  DownloadRecords& records = g_downloadRecords;
  const int next = records.m_nUnitListIndex < -1 ? 0 : records.m_nUnitListIndex + 1;
  auto entry = records.m_anlsFile.Row<AnlsFile::UnitList>(static_cast<std::size_t>(next));
  if (entry.IsNull()) return false;
  entry.Set<AnlsFile::UnitEntry>(unit);
  records.m_nUnitListIndex = next;
  return true;
}
