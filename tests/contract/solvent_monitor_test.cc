#include <gtest/gtest.h>

#include <string>

#include "contract/inlet_devices.h"
#include "tests/contract/minimal_devices.h"

namespace {

std::string Document(CInletSystemStatus& status, const char* name) {
  testing_support::MinimalPump pump;
  CString document("left over from an earlier call");
  EXPECT_TRUE(pump.FormatSolventMonitorUpdate(status, document, name));
  return document.str();
}

std::string Line(const char* name, const char* composition) {
  return std::string("<connectionPoint><name>") + name + "</name><type>Input</type><composition>" + composition +
         "</composition></connectionPoint>";
}

const std::string kOutput =
    "<connectionPoint><name>Output</name><type>Output</type><composition>100</composition></connectionPoint>";

TEST(SolventMonitorTest, DefaultRecord) {
  CInletSystemStatus status;
  EXPECT_EQ(Document(status, "Pump"),
            "<solventMonitorModel><pump><name>Pump</name><flowRate>0.000000</flowRate>" +
                Line("A", "-100.000000") + Line("B", "-0.000000") + Line("C", "-0.000000") +
                Line("D", "-0.000000") + kOutput + "</pump></solventMonitorModel>");
}

TEST(SolventMonitorTest, BinaryMixtureAtOneAndAHalfMlPerMinute) {
  CInletSystemStatus status;
  status.GetFlow() = 1.5f;
  status.GetPercentA() = 60.0f;
  status.GetPercentB() = 40.0f;
  const CInletSystemStatus before(status);
  EXPECT_EQ(Document(status, "QuarnPump"),
            "<solventMonitorModel><pump><name>QuarnPump</name><flowRate>1.500000</flowRate>" +
                Line("A", "-60.000000") + Line("B", "-40.000000") + Line("C", "-0.000000") +
                Line("D", "-0.000000") + kOutput + "</pump></solventMonitorModel>");
  EXPECT_EQ(status == before, 1) << "the record is not modified";
}

TEST(SolventMonitorTest, NameIsCopiedUnescapedAndOutputStaysAt100) {
  CInletSystemStatus status;
  status.GetPercentA() = -5.0f;
  status.GetPercentD() = 250.0f;
  const std::string doc = Document(status, "A&B <pump>");
  EXPECT_NE(doc.find("<name>A&B <pump></name>"), std::string::npos);
  EXPECT_NE(doc.find(Line("A", "5.000000")), std::string::npos);
  EXPECT_NE(doc.find(Line("D", "-250.000000")), std::string::npos);
  EXPECT_NE(doc.find(kOutput), std::string::npos);
}

TEST(SolventMonitorTest, SecondCallReplacesTheDocument) {
  testing_support::MinimalPump pump;
  CInletSystemStatus status;
  CString document;
  pump.FormatSolventMonitorUpdate(status, document, "P");
  const CString first = document;
  pump.FormatSolventMonitorUpdate(status, document, "P");
  EXPECT_EQ(document, first);
}

}  // namespace
