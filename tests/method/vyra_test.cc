#include "platform/archive/vyra.h"

#include <gtest/gtest.h>

#include "platform/method/quarn_method.h"

namespace {

// Reals keep every bit through the text.
TEST(VyraTest, EventStoresItsThreeFieldsAndReadsThemBack) {
  const CExternalEvent event(1.5f, eventValve2, actionPosition3), tenth(0.1f, eventOutput1, actionOn);
  EXPECT_EQ(event.Store(), "CExternalEvent{Time=1.5;Event=5;Action=3}");
  CExternalEvent loaded;
  ASSERT_TRUE(loaded.Load(event.Store()).IsOK());
  EXPECT_EQ(loaded, event);
  ASSERT_TRUE(loaded.Load(tenth.Store()).IsOK());
  EXPECT_EQ(loaded.Time(), 0.1f);
}

// Regression: a copied event's fields pointed at the original's members, so
// loading into the copy changed the original.
TEST(VyraTest, CopiesBindTheirOwnFields) {
  CExternalEvent original(1.0f, eventOutput1, actionOn);
  CExternalEvent copy(original);
  ASSERT_TRUE(copy.Load("CExternalEvent{Time=7;Event=6;Action=1}").IsOK());
  EXPECT_EQ(original, CExternalEvent(1.0f, eventOutput1, actionOn));
  EXPECT_EQ(copy, CExternalEvent(7.0f, eventValve3, actionPosition1));

  CExternalEvent assigned;
  assigned = original;
  assigned.FindField("Time")->SetReal(3.0);
  EXPECT_FLOAT_EQ(original.Time(), 1.0f);
  EXPECT_FLOAT_EQ(assigned.Time(), 3.0f);
  EXPECT_EQ(assigned.GetFieldCount(), 3) << "assignment keeps the field array as it is";
}

struct BadText {
  const char* name;
  const char* text;
  VyraErrorCode code;
  const char* message;
};

class VyraLoadErrorTest : public ::testing::TestWithParam<BadText> {};

TEST_P(VyraLoadErrorTest, RefusesAndChangesNothing) {
  CExternalEvent event(2.0f, eventOutput2, actionPulse);
  const VyraError error = event.Load(GetParam().text);
  EXPECT_EQ(error.GetCode(), GetParam().code);
  EXPECT_EQ(error.GetText(), GetParam().message);
  EXPECT_EQ(event, CExternalEvent(2.0f, eventOutput2, actionPulse));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, VyraLoadErrorTest,
    ::testing::Values(
        BadText{"NotStored", "Time=1", vyraBadText, "not a stored object: expected Class{Name=value;...}"},
        BadText{"OtherClass", "CEvent{Time=1;Event=0;Action=8}", vyraWrongClass,
                "the text stores another class ('CEvent')"},
        BadText{"UnknownField", "CExternalEvent{Tme=1;Event=0;Action=8}", vyraNoSuchField, "unknown field 'Tme'"},
        BadText{"MissingField", "CExternalEvent{Time=1;Event=0}", vyraMissingField, "field 'Action' is missing"},
        BadText{"FieldTwice", "CExternalEvent{Time=1;Time=2;Event=0;Action=8}", vyraBadText,
                "not a stored object: field 'Time' twice"},
        BadText{"IntegerNotANumber", "CExternalEvent{Time=1;Event=x;Action=8}", vyraBadValue,
                "field 'Event' does not hold a number of its kind"},
        BadText{"IntegerBeyondInt", "CExternalEvent{Time=1;Event=4294967296;Action=8}", vyraBadValue,
                "field 'Event' does not hold a number of its kind"},
        BadText{"RealBeyondFloat", "CExternalEvent{Time=1e300;Event=0;Action=8}", vyraBadValue,
                "field 'Time' does not hold a number of its kind"},
        BadText{"RealNotFinite", "CExternalEvent{Time=nan;Event=0;Action=8}", vyraBadValue,
                "field 'Time' does not hold a number of its kind"},
        BadText{"TrailingSeparator", "CExternalEvent{Time=1;Event=0;Action=8;}", vyraBadText,
                "not a stored object: no '=' in ''"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(VyraFieldTest, SettersRefuseWhatTheMemberCannotHold) {
  CExternalEvent event;
  VyraField& time = *event.FindField("Time");
  VyraField& action = *event.FindField("Action");
  EXPECT_EQ(time.SetReal(1e300), 0);
  EXPECT_EQ(action.SetInteger(1LL << 40), 0);
  EXPECT_EQ(action.SetReal(2.5), 0) << "not whole";
  EXPECT_EQ(action.SetReal(3.0), 1);
  EXPECT_EQ(event.Action(), actionPosition3);
  EXPECT_EQ(event.FindField("Nothing"), nullptr);
}

}  // namespace
