// Opening the shared session and finding units: every failure text with
// the server objects released (or kept, for the network box), the waits in
// virtual time, the construction wait and the repository path.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "platform/clock/clock.h"
#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"
#include "tests/server/server_world.h"

namespace {

using server_testing::ServerWorld;
using server_testing::TestUnit;

struct ConnectFailure {
  const char* name;
  std::function<void(sim::SimulatedServer&)> arrange;
  const char* text;
  std::int64_t atMs;  // clock time when the exception leaves
  bool keepsObjects;
  short unitType = 1;
  const IID* iid = &IID_ITavixPump2;
  const char* unitName = "Pump";
  bool unitHeld = false;  // the unit keeps its own unit object until destroyed
};

void PrintTo(const ConnectFailure& c, std::ostream* os) { *os << c.name; }

class ConnectFailureTest : public ServerWorld, public ::testing::WithParamInterface<ConnectFailure> {};

TEST_P(ConnectFailureTest, ThrowsItsTextAndReleasesTheServer) {
  const ConnectFailure& c = GetParam();
  c.arrange(server);
  {
    TestUnit unit(c.unitType, *c.iid, c.unitName);
    try {
      unit.InitialiseComms();
      FAIL() << "no exception";
    } catch (const CCommunicationsException& e) {
      EXPECT_EQ(e.GetErrorMessage(), CString(c.text));
      EXPECT_EQ(e.GetCode(), 0);
    }
    EXPECT_EQ(platform::Clock::Get().NowMs(), c.atMs);
    EXPECT_EQ(CCommon::GetInstance().IsConnected(), 0);
    EXPECT_EQ(server.LiveObjects() > (c.unitHeld ? 1 : 0), c.keepsObjects);
    EXPECT_EQ(server.AdvisedSinks() > 0, c.keepsObjects);
  }
  EXPECT_EQ(server.LiveObjects(), 0);  // the last unit released everything
}

void Fail(sim::SimulatedServer& s, const char* op, HRESULT hr, int times = -1) { s.FailCall(op, hr, times); }

const ConnectFailure kConnectFailures[] = {
        ConnectFailure{"NoServer", [](auto& s) { Fail(s, "CoCreateInstance", REGDB_E_CLASSNOTREG); },
                       "Failed to open Quarn server!", 0, false},
#if !defined(_WIN32)  // the system's CoCreateInstance turns a factory's S_FALSE into S_OK
        ConnectFailure{"ServerSFalse", [](auto& s) { Fail(s, "CoCreateInstance", S_FALSE); },
                       "Failed to open Quarn server!", 0, false},
#endif
        ConnectFailure{"Session", [](auto& s) { Fail(s, "Server.CreateSession", E_FAIL); },
                       "Unable to open Quarn Session object! Contact support.", 0, false},
        ConnectFailure{"Advise", [](auto& s) { Fail(s, "Session.Advise", CONNECT_E_ADVISELIMIT); },
                       "Error connecting to Quarn server. Contact support.", 0, false},
        ConnectFailure{"Units", [](auto& s) { Fail(s, "Session.GetUnits", E_FAIL); },
                       "Unable to get HPLC units object. Check connections.", 0, false},
        ConnectFailure{"NetBoxUnit", [](auto& s) { s.SetUnitAbsent(0, 0); },
                       "Unable to get NetBox object. Contact support", 0, false},
        ConnectFailure{"NetBoxSilent", [](auto& s) { s.SetNetBoxSilent(true); }, "Netbox not detected",
                       6000, true},
        ConnectFailure{"Sequence", [](auto& s) { Fail(s, "Session.GetSequence", E_OUTOFMEMORY); },
                       "Failed to get Quarn sequence object! Contact support.", 100, false},
        ConnectFailure{"Method", [](auto& s) { Fail(s, "Sequence.AddMethod", E_FAIL); },
                       "Unable to add method object to collection! Contact support.", 100, false},
        ConnectFailure{"UnitAbsent", [](auto& s) { s.SetUnitAbsent(1, 1); }, "Can't create Pump object",
                       100, false},
        ConnectFailure{"WrongInterface", [](auto&) {}, "Can't create UV object", 100, false, 4, &IID_ITavixOven,
                       "UV", true},
        ConnectFailure{"NeverPresent", [](auto& s) { s.SetUnitTiming(5, 1, -1, 0); },
                       "Autosampler unit not detected", 6100, false, 5, &IID_ITavixAutosampler2, "Autosampler", true},
        ConnectFailure{"NeverConnected", [](auto& s) { s.SetUnitTiming(6, 1, 0, -1); },
                       "Oven unit not detected", 6100, false, 6, &IID_ITavixOven, "Oven", true},
        ConnectFailure{"ConnectedUnanswered", [](auto& s) { Fail(s, "OvenUnit.GetConnected", E_FAIL); },
                       "Oven unit not detected", 6100, false, 6, &IID_ITavixOven, "Oven", true},
};
INSTANTIATE_TEST_SUITE_P(Table, ConnectFailureTest, ::testing::ValuesIn(kConnectFailures),
                         [](const auto& row) { return std::string(row.param.name); });

// The transcripts of these tests are in golden/ServerWorld/.
TEST_F(ServerWorld, OpenRetriedTwentyTimesThenConnectsAnywayAndLateUnitsAreAccepted) {
  transcript.ShowTimes();
  Fail("Session.Open", RPC_E_DISCONNECTED, -1);
  server.SetUnitTiming(1, 1, 2300, 2600);  // present at once, connected later
  TestUnit unit;
  EXPECT_EQ(NOTE(unit.InitialiseComms()), 1);
  EXPECT_EQ(std::count(lastCalls.begin(), lastCalls.end(), "Session.Open(\"1\")"), 20);
  EXPECT_EQ(platform::Clock::Get().NowMs(), 2600);  // waited for the pump to connect
  NOTE(unit.CComSetup::InitialiseComms());  // connected: the server is asked nothing
  EXPECT_TRUE(lastCalls.empty());
}

TEST_F(ServerWorld, AFailedConnectionIsRetriedFromTheStart) {
  Fail("Session.GetSequence");
  TestUnit unit;
  EXPECT_EQ(NOTE(unit.InitialiseComms()), 0);  // threw
  EXPECT_EQ(lastCalls.back(), "Session.Unadvise(1)");
  EXPECT_EQ(NOTE(unit.InitialiseComms()), 1);
  EXPECT_EQ(lastCalls.front(), "CoCreateInstance()");
}

TEST_F(ServerWorld, OnlyAUnitAfterAllWereDestroyedWaitsTwoSeconds) {
  auto& clock = platform::Clock::Get();
  auto first = std::make_unique<TestUnit>();
  auto second = std::make_unique<TestUnit>();
  EXPECT_EQ(clock.NowMs(), 0);
  first.reset();
  second.reset();
  TestUnit third;
  EXPECT_EQ(clock.NowMs(), 2000);
}

TEST_F(ServerWorld, RepositoryPathIsSetToTheFixedFolder) {
  const auto [key, name] = platform::SplitValuePath(kTavixRepositoryPath);
  auto& registry = platform::Registry::Get();
  CCommon::GetInstance();
  EXPECT_EQ(registry.Read(HKEY_LOCAL_MACHINE, key, name),
            std::optional<platform::RegistryValue>(std::string("C:\\Temp")));
  registry.Write(HKEY_LOCAL_MACHINE, key, name, std::string("C:\\temp"));
  CCommon::ResetForTesting();
  CCommon::GetInstance();
  EXPECT_EQ(registry.Read(HKEY_LOCAL_MACHINE, key, name),
            std::optional<platform::RegistryValue>(std::string("C:\\Temp")));
}

TEST_F(ServerWorld, LastUnitStopsAnActiveRunBeforeReleasingTheServer) {
  {
    TestUnit unit;
    NOTE(unit.InitialiseComms());
    NOTE(unit.Run());
  }
  EXPECT_EQ(NOTE(server.LiveObjects()), 0);  // after the last unit's going
  EXPECT_EQ(lastCalls, (std::vector<std::string>{"Session.EndRun()", "Session.EndMethod()", "Session.Unadvise(1)",
                                                 "Session.Close()"}));
}

// The server's published identifiers, written out as the server states them.
TEST_F(ServerWorld, IdentifiersAreThePublishedOnes) {
  auto text = [](const GUID& g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return std::string(buffer);
  };
  EXPECT_EQ(text(CLSID_TavixServer), "39F196AA-1F30-4DC2-9EA6-35630AA3125C");
  EXPECT_EQ(text(IID_ITavixServer), "93E9470D-A480-4306-ACA6-214999306489");
  EXPECT_EQ(text(IID_ITavixNetBox), "F4846E5F-6ED0-41F3-AC39-00B49FD779F6");
  EXPECT_EQ(text(IID_ITavixPump2), "882CA9AC-7E42-4874-B8B0-8A9A59C8B360");
  EXPECT_EQ(text(IID_ITavixAutosampler2), "87F53C18-65E9-4559-838E-2873F9ED8D85");
  EXPECT_EQ(text(IID_ITavix_DET_UV2), "508F4AD5-9707-49DF-A374-0C0931F856AB");
  EXPECT_EQ(text(IID_ITavixOven), "10749309-E9B6-4A95-AACA-2D7E90259FC3");
  EXPECT_EQ(text(DIID__ITavixSession2Events), "E911E80A-B5B0-48D7-875B-D3054F1A3D64");
  EXPECT_EQ(text(LIBID_TAVIXSERVERLib), "1DFA1F46-E89C-4AD7-995B-A5AE33FD993D");
}

}  // namespace

#if !defined(_WIN32)  // the system's allocator cannot be made to fail
namespace {

TEST_F(ServerWorld, AMethodNameThatCannotBeAllocatedRaisesTheComSupportError) {
  platform::com::FailBstrAllocationsForTesting(1);
  try {
    CCommon::GetInstance();
    FAIL() << "no error";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_OUTOFMEMORY);
  }
  TestUnit unit;  // the next attempt makes the session as usual
  EXPECT_EQ(unit.InitialiseComms(), 1);
}

}  // namespace
#endif
