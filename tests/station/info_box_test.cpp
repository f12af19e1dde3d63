// The configuration summary's runs for a plain recipe and for a one-file image.
#include "info_box.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

struct tz_guard {
  explicit tz_guard(const char *zone) {
    const char *old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~tz_guard() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  bool had_;
  std::string old_;
};

struct recipe {
  flashini_content c{};
  flashini_partition_info_list *list = nullptr;
  explicit recipe(int n) {
    list = static_cast<flashini_partition_info_list *>(
        std::calloc(1, sizeof(flashini_partition_info_list) + n * sizeof(flashini_partition_info)));
    list->no_of_partition_info = n;
    c.partition_info_list = list;
  }
  ~recipe() { std::free(list); }
  flashini_partition_info &part(int i) { return list->info[i]; }
};

std::string joined(const station_window &w) {
  std::string s;
  for (const text_run &r : w.info) s += r.text;
  return s;
}

TEST(InfoBox, PlainRecipeMarksMissingFilesRed) {
  recipe r(3);
  std::strcpy(r.part(0).filename, "a");
  std::strcpy(r.part(1).filename, "b");
  r.part(1).skip_flash = 1;
  std::strcpy(r.part(2).filename, "c");
  station_window w;
  show_file_info(&w, &r.c, nullptr);
  EXPECT_EQ(joined(w), "Filename: a, b[missing and skip], c");
  ASSERT_EQ(w.info.size(), 6u);
  EXPECT_TRUE(w.info[0].bold);
  EXPECT_EQ(w.info[3].text, "b[missing and skip]");
  EXPECT_EQ(w.info[3].colour, kMissingFileColour);
  EXPECT_FALSE(w.info[3].bold);
  EXPECT_EQ(w.info[5].colour, kDefaultTextColour);
}

TEST(InfoBox, OneFileImageWithLocalTime) {
  tz_guard zone("<+08>-8");  // 8 hours east of UTC, no daylight saving
  recipe r(2);
  std::strcpy(r.c.one_file_image, "pkg");
  std::strcpy(r.c.one_file_image_description, "2.1");
  std::memcpy(r.c.creationtime, "201003040506", 12);
  std::strcpy(r.part(0).filename, "pkg");  // from the package: not an additional file
  std::strcpy(r.part(1).filename, "extra.bin");
  r.part(1).skip_flash = 1;
  station_window w;
  show_file_info(&w, &r.c, "Example read-back log");
  EXPECT_EQ(joined(w),
            "Filename: pkg [2.1]\nCreation Time: 2010-03-04 05:06 (UTC),\t2010-03-04 13:06 + 8.0 Hrs (Local time)"
            "\nUsing external plugin: Example read-back log\nAdditional files: extra.bin[missing, skip allowed]");
  EXPECT_TRUE(w.info[4].bold);  // ",\t"
  EXPECT_EQ(w.info.back().colour, kMissingFileColour);
  EXPECT_TRUE(w.info.back().bold);
}

TEST(InfoBox, ZoneWestOfUtcAndDaylightSaving) {
  tz_guard zone("EST5EDT,M3.2.0,M11.1.0");
  char winter[12], summer[12];
  std::memcpy(winter, "201001151200", 12);
  std::memcpy(summer, "201007151200", 12);
  EXPECT_EQ(local_creation_time(winter), "2010-01-15 07:00 + -5.0 Hrs (Local time)");
  EXPECT_EQ(local_creation_time(summer), "2010-07-15 08:00 + -5.0 Hrs (Local time)");
}

TEST(InfoBox, PackageWithoutExtraFilesHasNoAdditionalLine) {
  recipe r(1);
  std::strcpy(r.c.one_file_image, "pkg");
  std::memcpy(r.c.creationtime, "201003040506", 12);
  std::strcpy(r.part(0).filename, "pkg");
  station_window w;
  show_file_info(&w, &r.c, nullptr);
  EXPECT_EQ(joined(w).find("Additional"), std::string::npos);
  EXPECT_EQ(joined(w).find("plugin"), std::string::npos);
}

}  // namespace
