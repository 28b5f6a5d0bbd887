// The host calls every inlet operation, and the fronts every back-end
// operation, through its slot in the virtual table: a declaration moved by
// one line makes the caller run another operation, with no compiler to
// notice. Each table row names an operation and the positions it may take,
// numbered from 1 at the class's first inlet operation. Operations that
// share one body may take their group's positions in either order, but no
// two operations may share a slot.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "contract/inlet_devices.h"
#include "front/backend_interfaces.h"

namespace {

struct SlotRow {
  std::string operation;
  long slot;  // absolute slot in the virtual table; -1 for a non-virtual
  std::set<long> positions;
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

std::vector<SlotTable> Tables() {
  return {
      {"CPump",
       {{"InitialiseComms", SlotOf(&CPump::InitialiseComms), {1}},
        {"Initialise", SlotOf(&CPump::Initialise), {2}},
        {"GenericOp", SlotOf(&CPump::GenericOp), {3}},
        {"ReadStatus", SlotOf(&CPump::ReadStatus), {4}},
        {"SwitchPump", SlotOf(&CPump::SwitchPump), {5}},
        {"LoadMethod(name, other)", SlotOf<CPump, int(Str, CString)>(&CPump::LoadMethod), {6}},
        {"LoadMethod(name)", SlotOf<CPump, int(Str)>(&CPump::LoadMethod), {7}},
        {"StartMethod()", SlotOf<CPump, int()>(&CPump::StartMethod), {8}},
        {"StartMethod(name)", SlotOf<CPump, int(Str)>(&CPump::StartMethod), {9}},
        {"StopMethod", SlotOf(&CPump::StopMethod), {10}},
        {"SendRemoteStart", SlotOf(&CPump::SendRemoteStart), {11}},
        {"CloseDownComms", SlotOf(&CPump::CloseDownComms), {12}},
        {"GetMethodLength", SlotOf(&CPump::GetMethodLength), {13}},
        {"WriteExpRecord(4)", SlotOf<CPump, int(Rec, Str, CString, eRunType)>(&CPump::WriteExpRecord), {14}},
        {"WriteExpRecord(2)", SlotOf<CPump, int(Rec, Str)>(&CPump::WriteExpRecord), {15}},
        {"InitialiseRawDataManager", SlotOf(&CPump::InitialiseRawDataManager), {16}},
        {"FormatSolventMonitorUpdate", SlotOf(&CPump::FormatSolventMonitorUpdate), {17}},
        {"PumpOn", SlotOf(&CPump::PumpOn), {18, 20}},
        {"MethodRunning", SlotOf(&CPump::MethodRunning), {19}},
        {"PostRunning", SlotOf(&CPump::PostRunning), {18, 20}},
        {"NotReady", SlotOf(&CPump::NotReady), {21, 22}},
        {"Error", SlotOf(&CPump::Error), {21, 22}},
        {"PumpStopOnExit", SlotOf(&CPump::PumpStopOnExit), {23}}}},
      {"CAutoSampler",
       {{"InitialiseComms", SlotOf(&CAutoSampler::InitialiseComms), {1}},
        {"Initialise", SlotOf(&CAutoSampler::Initialise), {2, 14}},
        {"GenericOp", SlotOf(&CAutoSampler::GenericOp), {3}},
        {"ReadStatus", SlotOf(&CAutoSampler::ReadStatus), {4}},
        {"LoadMethod(name, other)", SlotOf<CAutoSampler, int(Str, CString)>(&CAutoSampler::LoadMethod), {5}},
        {"LoadMethod(name)", SlotOf<CAutoSampler, int(Str)>(&CAutoSampler::LoadMethod), {6}},
        {"StartMethod()", SlotOf<CAutoSampler, int()>(&CAutoSampler::StartMethod), {7}},
        {"StartMethod(name)", SlotOf<CAutoSampler, int(Str)>(&CAutoSampler::StartMethod), {8}},
        {"StartMethod(name, vial, volume)",
         SlotOf<CAutoSampler, int(Str, Str, float)>(&CAutoSampler::StartMethod),
         {9}},
        {"StartMethod(name, params)",
         SlotOf<CAutoSampler, int(Str, const CAutoSampler::StartMethodParams&)>(&CAutoSampler::StartMethod),
         {10}},
        {"StopMethod", SlotOf(&CAutoSampler::StopMethod), {11}},
        {"SwitchWash", SlotOf(&CAutoSampler::SwitchWash), {12}},
        {"ResetInjector", SlotOf(&CAutoSampler::ResetInjector), {13}},
        {"CloseDownComms", SlotOf(&CAutoSampler::CloseDownComms), {2, 14}},
        {"WriteExpRecord(4)",
         SlotOf<CAutoSampler, int(Rec, Str, CString&, eRunType)>(&CAutoSampler::WriteExpRecord),
         {15}},
        {"WriteExpRecord(2)", SlotOf<CAutoSampler, int(Rec, Str)>(&CAutoSampler::WriteExpRecord), {16}},
        {"WriteInjectionVolume", SlotOf(&CAutoSampler::WriteInjectionVolume), {17}},
        {"Inject", SlotOf(&CAutoSampler::Inject), {18, 21}},
        {"InitialiseRawDataManager", SlotOf(&CAutoSampler::InitialiseRawDataManager), {19}},
        {"Injecting", SlotOf(&CAutoSampler::Injecting), {20, 22}},
        {"WaitingToInject", SlotOf(&CAutoSampler::WaitingToInject), {18, 21}},
        {"MethodRunning", SlotOf(&CAutoSampler::MethodRunning), {20, 22}},
        {"PostRunning", SlotOf(&CAutoSampler::PostRunning), {23}},
        {"NotReady", SlotOf(&CAutoSampler::NotReady), {24, 25}},
        {"Error", SlotOf(&CAutoSampler::Error), {24, 25}},
        {"RunMessage", SlotOf(&CAutoSampler::RunMessage), {26}}}},
      {"CDetector",
       {{"InitialiseComms", SlotOf(&CDetector::InitialiseComms), {1}},
        {"Initialise", SlotOf(&CDetector::Initialise), {2}},
        {"GenericOp", SlotOf(&CDetector::GenericOp), {3}},
        {"ReadStatus", SlotOf(&CDetector::ReadStatus), {4}},
        {"SwitchLamp", SlotOf(&CDetector::SwitchLamp), {5}},
        {"LoadMethod(name, other)", SlotOf<CDetector, int(Str, CString)>(&CDetector::LoadMethod), {6}},
        {"LoadMethod(name)", SlotOf<CDetector, int(Str)>(&CDetector::LoadMethod), {7}},
        {"StartMethod()", SlotOf<CDetector, int()>(&CDetector::StartMethod), {8}},
        {"StartMethod(name)", SlotOf<CDetector, int(Str)>(&CDetector::StartMethod), {9}},
        {"StopMethod", SlotOf(&CDetector::StopMethod), {10}},
        {"FinishMethod", SlotOf(&CDetector::FinishMethod), {11}},
        {"Balance", SlotOf(&CDetector::Balance), {12, 21}},
        {"CloseDownComms", SlotOf(&CDetector::CloseDownComms), {13}},
        {"InitialiseRawDataManager", SlotOf(&CDetector::InitialiseRawDataManager), {14}},
        {"EndDataAcquisition", SlotOf(&CDetector::EndDataAcquisition), {15}},
        {"InitialiseNewDataAcquisition", SlotOf(&CDetector::InitialiseNewDataAcquisition), {16}},
        {"PreStartDataAcquisition", SlotOf(&CDetector::PreStartDataAcquisition), {17, 18}},
        {"ReadData", SlotOf(&CDetector::ReadData), {17, 18}},
        {"ResetDataAcquisition", SlotOf(&CDetector::ResetDataAcquisition), {19, 20}},
        {"TerminateDataAcquisition", SlotOf(&CDetector::TerminateDataAcquisition), {19, 20}},
        {"ReadBufferReady", SlotOf(&CDetector::ReadBufferReady), {12, 21}},
        {"WriteExpRecord(4)", SlotOf<CDetector, int(Rec, Str, CString&, eRunType)>(&CDetector::WriteExpRecord), {22}},
        {"WriteExpRecord(2)", SlotOf<CDetector, int(Rec, Str)>(&CDetector::WriteExpRecord), {23}},
        {"LampOn", SlotOf(&CDetector::LampOn), {24, 25, 26}},
        {"MethodRunning", SlotOf(&CDetector::MethodRunning), {24, 25, 26}},
        {"PostRunning", SlotOf(&CDetector::PostRunning), {24, 25, 26}},
        {"NotReady", SlotOf(&CDetector::NotReady), {27, 28}},
        {"Error", SlotOf(&CDetector::Error), {27, 28}}}},
      {"COven",
       {{"InitialiseComms", SlotOf(&COven::InitialiseComms), {1, 2}},
        {"Initialise", SlotOf(&COven::Initialise), {1, 2}},
        {"GenericOp", SlotOf(&COven::GenericOp), {3}},
        {"ReadStatus", SlotOf(&COven::ReadStatus), {4, 5, 6, 8, 15, 16}},
        {"SwitchOven", SlotOf(&COven::SwitchOven), {4, 5, 6, 8, 15, 16}},
        {"LoadMethod", SlotOf(&COven::LoadMethod), {4, 5, 6, 8, 15, 16}},
        {"StartMethod()", SlotOf<COven, int()>(&COven::StartMethod), {7, 9}},
        {"StartMethod(name)", SlotOf<COven, int(Str)>(&COven::StartMethod), {4, 5, 6, 8, 15, 16}},
        {"StopMethod", SlotOf(&COven::StopMethod), {7, 9}},
        {"CloseDownComms", SlotOf(&COven::CloseDownComms), {10}},
        {"WriteExpRecord", SlotOf(&COven::WriteExpRecord), {11}},
        {"OvenOn", SlotOf(&COven::OvenOn), {12, 13, 14}},
        {"MethodRunning", SlotOf(&COven::MethodRunning), {12, 13, 14}},
        {"PostRunning", SlotOf(&COven::PostRunning), {12, 13, 14}},
        {"NotReady", SlotOf(&COven::NotReady), {4, 5, 6, 8, 15, 16}},
        {"Error", SlotOf(&COven::Error), {4, 5, 6, 8, 15, 16}}}},
      {"CGCSystem",
       {{"InitialiseComms", SlotOf(&CGCSystem::InitialiseComms), {1, 2, 10}},
        {"Initialise", SlotOf(&CGCSystem::Initialise), {1, 2, 10}},
        {"GenericOp", SlotOf(&CGCSystem::GenericOp), {3}},
        {"CloseDownComms", SlotOf(&CGCSystem::CloseDownComms), {1, 2, 10}},
        {"WriteExpRecord", SlotOf(&CGCSystem::WriteExpRecord), {12}},
        {"CoolDown (the last of seventeen)", SlotOf(&CGCSystem::CoolDown), {17}}}},
      // The back-end interfaces: positions count from 1 after the destructor.
      {"CBasePump",
       {{"InitialiseComms", SlotOf(&CBasePump::InitialiseComms), {1}},
        {"Initialise", SlotOf(&CBasePump::Initialise), {2}},
        {"DownloadInitialConditions", SlotOf(&CBasePump::DownloadInitialConditions), {3}},
        {"DownloadTimetable", SlotOf(&CBasePump::DownloadTimetable), {4}},
        {"DownloadEvents", SlotOf(&CBasePump::DownloadEvents), {5}},
        {"DownloadInitialEvents", SlotOf(&CBasePump::DownloadInitialEvents), {6}},
        {"Run", SlotOf(&CBasePump::Run), {7}},
        {"MethodRunning", SlotOf(&CBasePump::MethodRunning), {8}},
        {"StopMethod", SlotOf(&CBasePump::StopMethod), {9}},
        {"StartMethod", SlotOf(&CBasePump::StartMethod), {10}},
        {"SwitchPump", SlotOf(&CBasePump::SwitchPump), {11}},
        {"ReadStatus", SlotOf(&CBasePump::ReadStatus), {12}},
        {"CloseDownComms", SlotOf(&CBasePump::CloseDownComms), {13}},
        {"ClearMethod", SlotOf(&CBasePump::ClearMethod), {14}}}},
      {"CBaseSamp",
       {{"DownloadMethod", SlotOf(&CBaseSamp::DownloadMethod), {1}},
        {"ReadStatus", SlotOf(&CBaseSamp::ReadStatus), {2}},
        {"Injecting", SlotOf(&CBaseSamp::Injecting), {3}},
        {"StartMethod", SlotOf(&CBaseSamp::StartMethod), {4}},
        {"InitialiseComms", SlotOf(&CBaseSamp::InitialiseComms), {5}},
        {"StopMethod", SlotOf(&CBaseSamp::StopMethod), {6}}}},
      {"CBaseUV",
       {{"DownloadMethod", SlotOf(&CBaseUV::DownloadMethod), {1}},
        {"SwitchLamp", SlotOf(&CBaseUV::SwitchLamp), {2}},
        {"ReadStatus", SlotOf(&CBaseUV::ReadStatus), {3}},
        {"Initialise", SlotOf(&CBaseUV::Initialise), {4}},
        {"InitialiseComms", SlotOf(&CBaseUV::InitialiseComms), {5}},
        {"StopMethod", SlotOf(&CBaseUV::StopMethod), {6}}}},
  };
}

// Where a class's inlet operations begin: behind the window class's own
// operations, or behind the two destructor entries of a back-end interface.
long FirstSlot(const std::string& name) {
  if (name.starts_with("CBase")) return 2;
  return SlotOf(&CWnd::WindowProc) + 1;
}

class VirtualSlotTest : public testing::TestWithParam<SlotTable> {};

TEST_P(VirtualSlotTest, EveryOperationSitsWhereTheCallerLooksForIt) {
#if !(defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)))
  GTEST_SKIP() << "slots are read the way this compiler's x86 ABI stores them";
#endif
  const SlotTable& table = GetParam();
  std::set<long> taken;
  for (const SlotRow& row : table.rows) {
    ASSERT_GE(row.slot, 0) << row.operation << " is not virtual";
    const long position = row.slot - FirstSlot(table.name) + 1;
    EXPECT_TRUE(row.positions.contains(position)) << table.name << "::" << row.operation << " sits at " << position;
    EXPECT_TRUE(taken.insert(row.slot).second) << table.name << "::" << row.operation << " shares its slot";
  }
}

INSTANTIATE_TEST_SUITE_P(Contract, VirtualSlotTest, testing::ValuesIn(Tables()),
                         [](const testing::TestParamInfo<SlotTable>& param) { return param.param.name; });

}  // namespace
