#include "platform/inlet/inlet.h"

#include <gtest/gtest.h>

#include "tests/support/test_world.h"

namespace {

class InletTest : public testing_support::TestWorld {};

TEST_F(InletTest, ExceptionCarriesCodeAndTextAndCutsIntoSmallBuffers) {
  try {
    ThrowCCommunicationsException(0, "Unable to open the Quarn driver");
    FAIL() << "did not throw";
  } catch (CCommunicationsException& e) {
    EXPECT_EQ(e.GetCode(), 0);
    EXPECT_EQ(e.GetErrorMessage(), "Unable to open the Quarn driver");
    char small[7];
    EXPECT_TRUE(e.GetErrorMessage(small, sizeof small));
    EXPECT_STREQ(small, "Unable");
    e.SetText("prefixed");
    EXPECT_EQ(e.GetErrorMessage(), "prefixed");
  }
}

TEST_F(InletTest, UserInterfaceCallsReachTheHostSink) {
  SendMessageBox("hello", 0x30);
  {
    Progress progress("DownLoading Initial Conditions");
    progress.SetProgress(17, "DownLoading Initial Events");
    progress.SetProgress(100, nullptr);
  }
  FlashStatusText("Running :- ", "M1", 1);
  FlashStatusText(nullptr, nullptr, 0);
  EXPECT_EQ(ui.Lines(), (std::vector<std::string>{"MessageBox 0x30: hello",
                                                  "Progress open: DownLoading Initial Conditions",
                                                  "Progress 17: DownLoading Initial Events", "Progress 100",
                                                  "Progress close", "Flash on: Running :- |M1", "Flash off"}));
}

TEST_F(InletTest, InstrumentMakesAndVialRangeAreKept) {
  RegSetInstrumentMake("OVEN", "QUARN900");
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "QUARN900");
  RegSetInstrumentMake("OVEN", "");
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "");
  SetVialRange(1, 10000);
  int first = 0;
  int last = 0;
  GetVialRange(first, last);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 10000);
  EXPECT_EQ(CStringF::Format("%0.2f", 40.0), "40.00");
}

}  // namespace
