#include "util/crc16.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

unsigned int crc_of(const char *s) {
  return crc16(reinterpret_cast<const unsigned char *>(s), std::strlen(s));
}

TEST(Crc16, CheckValues) {
  EXPECT_EQ(crc_of("123456789"), 0x4B37u);
  EXPECT_EQ(crc_of("abc"), 0x5749u);
  EXPECT_EQ(crc16(nullptr, 0), 0xFFFFu);
}

TEST(Crc16, TableIsTheStandardOneAsWords) {
  EXPECT_EQ(crc_tbl[0], 0x0000u);
  EXPECT_EQ(crc_tbl[1], 0xC0C1u);
  EXPECT_EQ(crc_tbl[2], 0xC181u);
  EXPECT_EQ(crc_tbl[3], 0x0140u);
  EXPECT_EQ(crc_tbl[255], 0x4040u);
  for (unsigned int v : crc_tbl) EXPECT_EQ(v >> 16, 0u);
}

// The table-driven register must equal the bitwise definition on every byte value.
TEST(Crc16, MatchesBitwiseDefinition) {
  unsigned char data[512];
  for (int i = 0; i < 512; ++i) data[i] = static_cast<unsigned char>(i * 37 + 11);
  unsigned int reg = 0xFFFF;
  for (unsigned char b : data) {
    reg ^= b;
    for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
  }
  EXPECT_EQ(crc16(data, sizeof data), reg);
}

// Eight bytes a step and the byte-wise tail agree with the bitwise definition at every length
// and alignment.
TEST(Crc16, EveryLengthAndAlignment) {
  unsigned char data[80];
  for (int i = 0; i < 80; ++i) data[i] = static_cast<unsigned char>(i * 91 + 5);
  for (int offset = 0; offset < 8; ++offset)
    for (int length = 0; length <= 70; ++length) {
      unsigned int reg = 0xFFFF;
      for (int i = 0; i < length; ++i) {
        reg ^= data[offset + i];
        for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
      }
      EXPECT_EQ(crc16(data + offset, (unsigned long)length), reg) << offset << " " << length;
    }
}

}  // namespace
