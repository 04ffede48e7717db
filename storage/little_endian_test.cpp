#include "storage/little_endian.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

namespace kura {
namespace {

TEST(LittleEndianTest, NumbersAreWrittenLeastSignificantByteFirst) {
  std::array<std::uint8_t, 8> bytes{};
  PutI32LE(bytes.data(), -2);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 8>{0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(GetI32LE(bytes.data()), -2);
  EXPECT_EQ(GetU32LE(bytes.data()), 0xFFFFFFFEu);
  PutI16LE(bytes.data(), std::numeric_limits<std::int16_t>::min());
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x80);
  EXPECT_EQ(GetI16LE(bytes.data()), std::numeric_limits<std::int16_t>::min());
  PutI64LE(bytes.data(), std::numeric_limits<std::int64_t>::min() + 1);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[7], 0x80);
  EXPECT_EQ(GetI64LE(bytes.data()), std::numeric_limits<std::int64_t>::min() + 1);
  PutF64LE(bytes.data(), 1.0);  // 0x3FF0000000000000
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 8>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(GetF64LE(bytes.data()), 1.0);
}

TEST(LittleEndianTest, BigEndianHelpersWriteMostSignificantByteFirst) {
  std::array<std::uint8_t, 4> bytes{};
  PutUnsignedBE(bytes.data(), 0x01020304, 4);
  EXPECT_EQ(bytes, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(GetUnsignedBE(bytes.data(), 4), 0x01020304u);
  EXPECT_EQ(GetUnsignedLE(bytes.data(), 4), 0x04030201u);
}

}  // namespace
}  // namespace kura
