#include "temp/watermark.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/log_test_support.h"
#include "temp/temp_sensor.h"

TEST(WatermarkTest, ParsesLinesWithTrimmedFields) {
  TestLog log;
  std::unique_ptr<Watermark> w =
      ParseWatermark(" -5 :\t30: go cold : go warm :0: sl \r: sh ", 7);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->index, 7);
  EXPECT_EQ(w->low, -5);
  EXPECT_EQ(w->high, 30);
  EXPECT_EQ(w->on_low, "go cold");
  EXPECT_EQ(w->on_high, "go warm");
  EXPECT_EQ(w->delay, 0);
  EXPECT_EQ(w->start_low, "sl");
  EXPECT_EQ(w->start_high, "sh");
  EXPECT_EQ(w->state, kZoneUndef);
  EXPECT_EQ(w->candidate, kZoneUndef);
  // Both thresholds belong to their outer zones.
  EXPECT_EQ(w->ZoneOf(-5), kZoneLow);
  EXPECT_EQ(w->ZoneOf(-4), kZoneMiddle);
  EXPECT_EQ(w->ZoneOf(30), kZoneHigh);
  EXPECT_TRUE(log.Lines().empty());

  w = ParseWatermark("10:20::", 1);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->delay, 2);
  EXPECT_EQ(w->on_low, "");
  EXPECT_FALSE(w->on_low.IsAbsent());
  EXPECT_TRUE(w->start_low.IsAbsent());
  EXPECT_TRUE(w->start_high.IsAbsent());
  w = ParseWatermark("10:20:a:b:3:sl", 2);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->start_low, "sl");
  EXPECT_TRUE(w->start_high.IsAbsent());
  EXPECT_EQ(log.Lines(),
            std::vector<std::string>{"No delay: ``10:20::'', defaulting to 2"});
}

TEST(WatermarkTest, RejectsMalformedLines) {
  TestLog log;
  EXPECT_EQ(ParseWatermark("10:20:a", 1), nullptr);
  EXPECT_EQ(ParseWatermark("ten:20:a:b", 1), nullptr);
  EXPECT_EQ(ParseWatermark("10:20x:a:b", 1), nullptr);
  EXPECT_EQ(ParseWatermark("10::a:b", 1), nullptr);
  EXPECT_EQ(ParseWatermark("10:20:a:b:x", 1), nullptr);
  EXPECT_EQ(ParseWatermark("10:20:a:b::sl:sh", 1), nullptr);
  std::vector<std::string> expected = {
      "Invalid watermark: ``10:20:a'', ignoring",
      "Invalid low temp. for: ``ten:20:a:b'', ignoring",
      "Invalid high temp. for: ``10:20x:a:b'', ignoring",
      "Invalid high temp. for: ``10::a:b'', ignoring",
      "Invalid delay: ``10:20:a:b:x'', ignoring",
      "Invalid delay: ``10:20:a:b::sl:sh'', ignoring",
  };
  EXPECT_EQ(log.Lines(), expected);
}

TEST(RomIdTest, ParsesMostSignificantByteFirst) {
  unsigned char rom[8];
  ASSERT_EQ(ParseRomId("B60000001F2C5828", rom), kRomIdOk);
  const unsigned char expected[8] = {0x28, 0x58, 0x2C, 0x1F,
                                     0x00, 0x00, 0x00, 0xB6};
  EXPECT_EQ(memcmp(rom, expected, 8), 0);
  unsigned char lower[8];
  ASSERT_EQ(ParseRomId("b60000001f2c5828 and more", lower), kRomIdOk);
  EXPECT_EQ(memcmp(lower, expected, 8), 0);

  TempSensor s;
  memcpy(s.rom_id, rom, 8);
  EXPECT_EQ(s.IdNumber(), 0xB60000001F2C5828ULL);

  // Rejected ids leave the bytes alone.
  EXPECT_EQ(ParseRomId("B60000001F2C582", rom), kRomIdTooShort);
  EXPECT_EQ(ParseRomId("", rom), kRomIdTooShort);
  EXPECT_EQ(ParseRomId("B60000001F2C58G8", rom), kRomIdIllegal);
  EXPECT_EQ(ParseRomId(" B60000001F2C5828", rom), kRomIdIllegal);
  EXPECT_EQ(ParseRomId("0x0000001F2C5828", rom), kRomIdIllegal);
  EXPECT_EQ(memcmp(rom, expected, 8), 0);
}
