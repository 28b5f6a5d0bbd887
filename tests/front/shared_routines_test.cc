#include "front/shared_routines.h"

#include <gtest/gtest.h>

#include <string>

#include "backend/unit_comms_message.h"
#include "platform/inlet/inlet.h"
#include "tests/support/test_world.h"

namespace {

class SharedRoutinesTest : public testing_support::TestWorld {};

TEST_F(SharedRoutinesTest, MissingFlagReadsZeroAndWritesZeroBack) {
  EXPECT_EQ(ReadNetBoxCommsFlag(), 0);
  const auto stored = platform::Registry(RegistryFile())
                          .Read(HKEY_LOCAL_MACHINE,
                                "SOFTWARE\\Korvatec\\Inlets\\InletKernel\\QuarnControl\\Configuration",
                                "NetBoxComms");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(std::get<std::uint32_t>(*stored), 0u);
}

TEST_F(SharedRoutinesTest, FlagIsReadAfreshEachTime) {
  WriteNetBoxCommsFlag(7);
  EXPECT_EQ(ReadNetBoxCommsFlag(), 7);
  WriteNetBoxCommsFlag(1);
  EXPECT_EQ(ReadNetBoxCommsFlag(), 1);
}

struct PrefixCase {
  const char* unit;
  const char* prefix;
};

class CommsMessageTest : public SharedRoutinesTest, public ::testing::WithParamInterface<PrefixCase> {};

TEST_P(CommsMessageTest, PrefixesShowsAndReturns) {
  const char* returned = SendUnitCommsMessage(GetParam().unit, "Link down");
  const std::string expected = std::string(GetParam().prefix) + "Link down";
  EXPECT_EQ(std::string(returned), expected);
  EXPECT_EQ(ui.Lines(), (std::vector<std::string>{"MessageBox 0x30: " + expected}));
}

INSTANTIATE_TEST_SUITE_P(Units, CommsMessageTest,
                         ::testing::Values(PrefixCase{"PUMP", "Quarn PUMP Communications.\n\n"},
                                           PrefixCase{"AUTOSAMPLER", "Quarn AUTOSAMPLER Communications.\n\n"},
                                           PrefixCase{"PDA", "Quarn PDA Detector Communications.\n\n"},
                                           PrefixCase{"UV", "Quarn UV Detector Communications.\n\n"},
                                           PrefixCase{"pump", ""}, PrefixCase{"OVEN", ""}, PrefixCase{"", ""}),
                         [](const auto& param_info) {
                           const std::string unit = param_info.param.unit;
                           return unit.empty() ? std::string("Empty") : unit;
                         });

TEST_F(SharedRoutinesTest, LongMessageComesBackCutTo511Bytes) {
  const std::string text(600, 'm');
  const char* returned = SendUnitCommsMessage("pump", text.c_str());
  EXPECT_EQ(std::string(returned), std::string(511, 'm'));
  ASSERT_EQ(ui.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui.MessageBoxes()[0], "MessageBox 0x30: " + text) << "the box shows the whole text";
  const std::string longPrefixed(600, 'p');
  EXPECT_EQ(std::string(SendUnitCommsMessage("PUMP", longPrefixed.c_str())).size(), 511u);
  EXPECT_EQ(std::string(SendUnitCommsMessage("pump", "short")), "short") << "nothing left of the long one";
}

}  // namespace
