// The records the driver library takes down to the units: the analysis
// file with its lines, the run header and the transfer control
// (LC_PushAnlsFile), and the direct command (LC_UnitDirect). These are the
// library's formats: whoever writes them (the plug-in's direct back-ends,
// whose process-wide instances live in network/download_state.h) and
// whoever reads them (the simulated network) use these layouts.
//
// Every record is a fixed block of little-endian bytes
// (platform/vexlink/le_record.h) of the size the driver library expects;
// the static_asserts below keep the tables of the analysis file back to
// back and the whole record at its size.
// Header-only; no state.
#pragma once

#include <cstdint>

#include "platform/vexlink/le_record.h"
#include "platform/vexlink/vexlink.h"

// One line of the analysis file: a setting for one unit, either at the
// start (time -1) or at a time of the run.
struct AnlsLine {
  static constexpr std::size_t kSize = 44;
  using Unit = le::Field<std::uint16_t, 2>;
  using TimeMs = le::Field<std::int32_t, 4>;  // from run start; -1 for an initial line
  using Code = le::Field<std::uint16_t, 8>;
  using P0 = le::Field<std::int32_t, 12>;
  using P1 = le::Field<std::int32_t, 16>;
  using P2 = le::Field<std::int32_t, 20>;
  // Bytes 0-1, 10-11 and 24-43 are 0.

  static constexpr std::int32_t kInitialTime = -1;

  // Line codes.
  static constexpr std::uint16_t kFlow = 0;              // pump: p0 flow, ul/min
  static constexpr std::uint16_t kComposition = 1;       // pump: p0..p2 percent A, B, C
  static constexpr std::uint16_t kUpperPressure = 2;     // pump: p0 bar
  static constexpr std::uint16_t kLowerPressure = 3;     // pump: p0 bar
  static constexpr std::uint16_t kOvenTemperature = 4;   // oven: p0 degrees C
  static constexpr std::uint16_t kUvWavelength = 7;      // UV: p0 tenths of a nanometre
  static constexpr std::uint16_t kUvResponse = 9;        // UV: p0 response setting
};
static_assert(AnlsLine::P2::kEnd <= AnlsLine::kSize);

class AnlsFile : public le::Record<LC_ANLS_FILE_SIZE> {
 public:
  using SystemCode = le::Field<std::uint32_t, 0>;
  using Reserved = le::Field<std::uint32_t, 4>;
  using Signature = le::Field<std::uint32_t, 8>;
  using InitialCount = le::Field<std::int16_t, 12>;
  using TimetableCount = le::Field<std::int16_t, 14>;
  using InitialLines = le::Table<16, AnlsLine::kSize, 32>;
  using TimetableLines = le::Table<1424, AnlsLine::kSize, 64>;
  using UnitList = le::Table<4240, 2, 64>;
  using UnitEntry = le::Field<std::uint16_t, 0>;  // within a UnitList row

  static constexpr std::uint32_t kSignature = 5678;
};

// The analysis file's system code: which pumps form the delivery system.
// Any other value is pump 1 alone, with no composition and no timetable.
enum DeliverySystemCode : std::uint32_t {
  kSystemSingle = 1,         // pump 1, no composition lines
  kSystemQuaternary = 0x10,  // pump 1 mixes the channels
  kSystemBinary = 0x200,     // pumps 1 and 2
  kSystemTernary = 0x300,    // pumps 1 to 3
};
static_assert(AnlsFile::TimetableCount::kEnd == AnlsFile::InitialLines::kOffset);
static_assert(AnlsFile::InitialLines::kEnd == AnlsFile::TimetableLines::kOffset);
static_assert(AnlsFile::TimetableLines::kEnd == AnlsFile::UnitList::kOffset);
static_assert(AnlsFile::UnitList::kEnd == LC_ANLS_FILE_SIZE);
static_assert(sizeof(AnlsFile) == 4368);

// The first record argument of LC_PushAnlsFile. The constant fields are
// sent as the units expect them; their meaning is the units' business.
class RunHeader : public le::Record<LC_RUN_HEADER_SIZE> {
 public:
  using Constant0 = le::Field<std::uint32_t, 0>;    // 1000
  using Constant4 = le::Field<std::uint16_t, 4>;    // 0xFFFF
  using FlushCount = le::Field<std::uint16_t, 6>;
  using InjectVolumeNl = le::Field<std::int32_t, 8>;
  using Constant12 = le::Field<std::int32_t, 12>;   // 180
  using RunTimeS = le::Field<std::int32_t, 16>;
  using FirstVial = le::Field<std::uint16_t, 20>;   // 0xFFFF: no vial
  using LastVial = le::Field<std::uint16_t, 22>;
  using Constant24 = le::Field<std::uint16_t, 24>;  // 1
  using Constant26 = le::Field<std::uint16_t, 26>;  // 2
  using Constant44 = le::Field<std::int32_t, 44>;   // 1001
  using Constant60 = le::Field<std::int32_t, 60>;   // -1

  static constexpr std::uint16_t kNoVial = 0xFFFF;
};
static_assert(RunHeader::Constant60::kEnd == LC_RUN_HEADER_SIZE);

class TransferControl : public le::Record<LC_TRANSFER_CONTROL_SIZE> {
 public:
  template <int I>
  using Word = le::Field<std::uint16_t, 2 * I>;
};
static_assert(TransferControl::Word<2>::kEnd == LC_TRANSFER_CONTROL_SIZE);

// Eight 16-bit words; each sender sets only the words it names.
class DirectCommand : public le::Record<LC_DIRECT_COMMAND_SIZE> {
 public:
  template <int I>
  using Word = le::Field<std::uint16_t, 2 * I>;

  static constexpr std::uint16_t kUnchanged = 0xFFFF;
  // Pump: w0 is a system code (kSystemQuaternary, kSystemBinary or
  // kSystemTernary; any other word leaves the system as it is).
  // Oven: w0 switches it, w1 is the set point in degrees C.
  static constexpr std::uint16_t kOvenOn = 1;
  static constexpr std::uint16_t kOvenOff = 0;
  // UV detector: w3 switches the lamp.
  static constexpr std::uint16_t kLampOn = 3;
  static constexpr std::uint16_t kLampOff = 0;
};
static_assert(DirectCommand::Word<7>::kEnd == LC_DIRECT_COMMAND_SIZE);
