#include "platform/vexlink/le_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<le::Byte>;

template <class T>
Bytes Stored(T value) {
  Bytes bytes(sizeof(T), 0xEE);
  le::Store<T>(bytes.data(), value);
  return bytes;
}

TEST(LittleEndianTest, StoresAndLoadsLeastSignificantByteFirst) {
  EXPECT_EQ(Stored<std::uint8_t>(0xAB), (Bytes{0xAB}));
  EXPECT_EQ(Stored<std::uint16_t>(0x1234), (Bytes{0x34, 0x12}));
  EXPECT_EQ(Stored<std::int16_t>(-2), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Stored<std::int16_t>(-32768), (Bytes{0x00, 0x80}));
  EXPECT_EQ(Stored<std::uint32_t>(0x12345678u), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Stored<std::int32_t>(-1), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Stored<std::int32_t>(0x7FFFFFFF), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  // And loads it so, sign-extended or not.
  const le::Byte bytes[] = {0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(le::Load<std::int16_t>(bytes), -2);
  EXPECT_EQ(le::Load<std::uint16_t>(bytes), 0xFFFE);
  EXPECT_EQ(le::Load<std::int32_t>(bytes), -2);
  EXPECT_EQ(le::Load<std::uint32_t>(bytes), 0xFFFFFFFEu);
  const le::Byte high[] = {0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(le::Load<std::int32_t>(high), INT32_MIN);
}

// A record of 8 bytes: a u16 at 1 (unaligned), an i32 at 4 and a table of
// two 2-byte rows at 4.
struct Sample {
  using Word = le::Field<std::uint16_t, 1>;
  using Long = le::Field<std::int32_t, 4>;
  using Rows = le::Table<4, 2, 2>;
  using RowWord = le::Field<std::uint16_t, 0>;
  using Name = le::TextField<0, 4>;
};

TEST(LeRecordTest, FieldsLandAtTheirOffsets) {
  le::Record<8> record;
  record.Set<Sample::Word>(0xBEEF);
  record.Set<Sample::Long>(-3);
  EXPECT_EQ(Bytes(record.Data(), record.Data() + 8), (Bytes{0x00, 0xEF, 0xBE, 0x00, 0xFD, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(record.Get<Sample::Word>(), 0xBEEF);
  EXPECT_EQ(record.Get<Sample::Long>(), -3);
}

TEST(LeRecordTest, RowsOutsideTheTableAreNullAndHarmlessAndTextStopsAtNulOrAtTheFieldEnd) {
  le::Record<8> record;
  record.Row<Sample::Rows>(1).Set<Sample::RowWord>(0x0102);
  auto outside = record.Row<Sample::Rows>(2);
  EXPECT_TRUE(outside.IsNull());
  outside.Set<Sample::RowWord>(0xFFFF);  // ignored
  outside.Clear();                       // ignored
  EXPECT_EQ(outside.Get<Sample::RowWord>(), 0);
  EXPECT_EQ(Bytes(record.Data(), record.Data() + 8), (Bytes{0, 0, 0, 0, 0, 0, 0x02, 0x01}));

  const le::View<8> view(record.Data());
  EXPECT_EQ(view.Row<Sample::Rows>(1).Get<Sample::RowWord>(), 0x0102);
  EXPECT_TRUE(view.Row<Sample::Rows>(99).IsNull());
  const le::Byte terminated[8] = {'a', 'b', 0, 'x', 'y', 'z', 'w', 'v'};
  EXPECT_EQ(le::View<8>(terminated).Text<Sample::Name>(), "ab");
  const le::Byte full[8] = {'a', 'b', 'c', 'd', 'e', 'f', 0, 0};
  EXPECT_EQ(le::View<8>(full).Text<Sample::Name>(), "abcd");
}

}  // namespace
