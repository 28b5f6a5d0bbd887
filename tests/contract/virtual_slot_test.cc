// The host calls every inlet operation, and the fronts every back-end
// operation, through its slot in the virtual table: a declaration moved by
// one line makes the caller run another operation, with no compiler to
// notice. Each table row names an operation and the positions it may take,
// numbered from 1 at the class's first inlet operation; a row without
// positions takes the one after the row before. Operations that
// share one body may take their group's positions in either order, but no
// two operations may share a slot.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "backend/backend_interfaces.h"
#include "contract/inlet_devices.h"

namespace {

struct SlotRow {
  std::string operation;
  long slot;  // absolute slot in the virtual table; -1 for a non-virtual
  std::set<long> positions;  // none: the one after the row before's last
};

struct SlotTable {
  std::string name;
  std::vector<SlotRow> rows;
};

// On this ABI a pointer to a virtual member holds 1 + the byte offset of
// its slot in the virtual table.
template <class C, class F>
long SlotOf(F C::*member) {
  struct {
    std::uintptr_t ptr;
    std::ptrdiff_t adj;
  } rep;
  static_assert(sizeof rep == sizeof member);
  std::memcpy(&rep, &member, sizeof rep);
  if ((rep.ptr & 1) == 0) return -1;
  return static_cast<long>((rep.ptr - 1) / sizeof(void*));
}

using Str = const CString&;
using Rec = CGenericExpRecord*;

// An operation that is not overloaded, and the positions it may take; an
// overloaded one, by its type.
#define OP(C, m, ...) SlotRow{#m, SlotOf(&C::m), {__VA_ARGS__}}
#define OV(C, m, type, ...) SlotRow{#m " " #type, SlotOf<C, type>(&C::m), {__VA_ARGS__}}

std::vector<SlotTable> Tables() {
  const std::set<long> ovenShared = {4, 5, 6, 8, 15, 16};
  return {
      {"CPump",
       {OP(CPump, InitialiseComms), OP(CPump, Initialise), OP(CPump, GenericOp), OP(CPump, ReadStatus),
        OP(CPump, SwitchPump), OV(CPump, LoadMethod, int(Str, CString)), OV(CPump, LoadMethod, int(Str)),
        OV(CPump, StartMethod, int()), OV(CPump, StartMethod, int(Str)), OP(CPump, StopMethod),
        OP(CPump, SendRemoteStart), OP(CPump, CloseDownComms), OP(CPump, GetMethodLength),
        OV(CPump, WriteExpRecord, int(Rec, Str, CString, eRunType)), OV(CPump, WriteExpRecord, int(Rec, Str)),
        OP(CPump, InitialiseRawDataManager), OP(CPump, FormatSolventMonitorUpdate), OP(CPump, PumpOn, 18, 20),
        OP(CPump, MethodRunning, 19), OP(CPump, PostRunning, 18, 20), OP(CPump, NotReady, 21, 22),
        OP(CPump, Error, 21, 22), OP(CPump, PumpStopOnExit)}},
      {"CAutoSampler",
       {OP(CAutoSampler, InitialiseComms), OP(CAutoSampler, Initialise, 2, 14), OP(CAutoSampler, GenericOp, 3),
        OP(CAutoSampler, ReadStatus), OV(CAutoSampler, LoadMethod, int(Str, CString)),
        OV(CAutoSampler, LoadMethod, int(Str)), OV(CAutoSampler, StartMethod, int()),
        OV(CAutoSampler, StartMethod, int(Str)), OV(CAutoSampler, StartMethod, int(Str, Str, float)),
        OV(CAutoSampler, StartMethod, int(Str, const CAutoSampler::StartMethodParams&)),
        OP(CAutoSampler, StopMethod), OP(CAutoSampler, SwitchWash), OP(CAutoSampler, ResetInjector),
        OP(CAutoSampler, CloseDownComms, 2, 14), OV(CAutoSampler, WriteExpRecord, int(Rec, Str, CString&, eRunType)),
        OV(CAutoSampler, WriteExpRecord, int(Rec, Str)), OP(CAutoSampler, WriteInjectionVolume),
        OP(CAutoSampler, Inject, 18, 21), OP(CAutoSampler, InitialiseRawDataManager, 19),
        OP(CAutoSampler, Injecting, 20, 22), OP(CAutoSampler, WaitingToInject, 18, 21),
        OP(CAutoSampler, MethodRunning, 20, 22), OP(CAutoSampler, PostRunning), OP(CAutoSampler, NotReady, 24, 25),
        OP(CAutoSampler, Error, 24, 25), OP(CAutoSampler, RunMessage)}},
      {"CDetector",
       {OP(CDetector, InitialiseComms), OP(CDetector, Initialise), OP(CDetector, GenericOp),
        OP(CDetector, ReadStatus), OP(CDetector, SwitchLamp), OV(CDetector, LoadMethod, int(Str, CString)),
        OV(CDetector, LoadMethod, int(Str)), OV(CDetector, StartMethod, int()), OV(CDetector, StartMethod, int(Str)),
        OP(CDetector, StopMethod), OP(CDetector, FinishMethod), OP(CDetector, Balance, 12, 21),
        OP(CDetector, CloseDownComms, 13), OP(CDetector, InitialiseRawDataManager), OP(CDetector, EndDataAcquisition),
        OP(CDetector, InitialiseNewDataAcquisition), OP(CDetector, PreStartDataAcquisition, 17, 18),
        OP(CDetector, ReadData, 17, 18), OP(CDetector, ResetDataAcquisition, 19, 20),
        OP(CDetector, TerminateDataAcquisition, 19, 20), OP(CDetector, ReadBufferReady, 12, 21),
        OV(CDetector, WriteExpRecord, int(Rec, Str, CString&, eRunType)), OV(CDetector, WriteExpRecord, int(Rec, Str)),
        OP(CDetector, LampOn, 24, 25, 26), OP(CDetector, MethodRunning, 24, 25, 26),
        OP(CDetector, PostRunning, 24, 25, 26), OP(CDetector, NotReady, 27, 28), OP(CDetector, Error, 27, 28)}},
      {"COven",
       {OP(COven, InitialiseComms, 1, 2), OP(COven, Initialise, 1, 2), OP(COven, GenericOp),
        OP(COven, ReadStatus, ovenShared), OP(COven, SwitchOven, ovenShared), OP(COven, LoadMethod, ovenShared),
        OV(COven, StartMethod, int(), 7, 9), OV(COven, StartMethod, int(Str), ovenShared),
        OP(COven, StopMethod, 7, 9), OP(COven, CloseDownComms), OP(COven, WriteExpRecord),
        OP(COven, OvenOn, 12, 13, 14), OP(COven, MethodRunning, 12, 13, 14), OP(COven, PostRunning, 12, 13, 14),
        OP(COven, NotReady, ovenShared), OP(COven, Error, ovenShared)}},
      {"CGCSystem",
       {OP(CGCSystem, InitialiseComms, 1, 2, 10), OP(CGCSystem, Initialise, 1, 2, 10), OP(CGCSystem, GenericOp, 3),
        OP(CGCSystem, CloseDownComms, 1, 2, 10), OP(CGCSystem, WriteExpRecord, 12),
        {"CoolDown (the last of seventeen)", SlotOf(&CGCSystem::CoolDown), {17}}}},
      // The back-end interfaces: positions count from 1 after the destructor.
      {"CBasePump",
       {OP(CBasePump, InitialiseComms), OP(CBasePump, Initialise), OP(CBasePump, DownloadInitialConditions),
        OP(CBasePump, DownloadTimetable), OP(CBasePump, DownloadEvents), OP(CBasePump, DownloadInitialEvents),
        OP(CBasePump, Run), OP(CBasePump, MethodRunning), OP(CBasePump, StopMethod), OP(CBasePump, StartMethod),
        OP(CBasePump, SwitchPump), OP(CBasePump, ReadStatus), OP(CBasePump, CloseDownComms),
        OP(CBasePump, ClearMethod)}},
      {"CBaseSamp",
       {OP(CBaseSamp, DownloadMethod), OP(CBaseSamp, ReadStatus), OP(CBaseSamp, Injecting),
        OP(CBaseSamp, StartMethod), OP(CBaseSamp, InitialiseComms), OP(CBaseSamp, StopMethod)}},
      {"CBaseUV",
       {OP(CBaseUV, DownloadMethod), OP(CBaseUV, SwitchLamp), OP(CBaseUV, ReadStatus), OP(CBaseUV, Initialise),
        OP(CBaseUV, InitialiseComms), OP(CBaseUV, StopMethod)}},
  };
}

// Where a class's inlet operations begin: behind the window class's own
// operations, or behind the two destructor entries of a back-end interface.
long FirstSlot(const std::string& name) {
  return name.starts_with("CBase") ? 2 : SlotOf(&CWnd::WindowProc) + 1;
}

class VirtualSlotTest : public testing::TestWithParam<SlotTable> {};

TEST_P(VirtualSlotTest, EveryOperationSitsWhereTheCallerLooksForIt) {
#if !(defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)))
  GTEST_SKIP() << "slots are read the way this compiler's x86 ABI stores them";
#endif
  const SlotTable& table = GetParam();
  std::set<long> taken;
  long next = 1;
  for (const SlotRow& row : table.rows) {
    ASSERT_GE(row.slot, 0) << row.operation << " is not virtual";
    const long position = row.slot - FirstSlot(table.name) + 1;
    const std::set<long> positions = row.positions.empty() ? std::set<long>{next} : row.positions;
    next = *positions.rbegin() + 1;
    EXPECT_TRUE(positions.contains(position)) << table.name << "::" << row.operation << " sits at " << position;
    EXPECT_TRUE(taken.insert(row.slot).second) << table.name << "::" << row.operation << " shares its slot";
  }
}

INSTANTIATE_TEST_SUITE_P(Contract, VirtualSlotTest, testing::ValuesIn(Tables()),
                         [](const testing::TestParamInfo<SlotTable>& param) { return param.param.name; });

}  // namespace
