// The CSV log: name, header, line format, quoting, no overwrite, lines on disk at once.
#include "result_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "test_files.h"

namespace {

class ResultLog : public scratch_dir_test {
 protected:
  void TearDown() override {
    log_close();
    scratch_dir_test::TearDown();
  }
  static std::string read_all(const std::string &p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

TEST_F(ResultLog, HeaderAndLinesInCrLf) {
  ASSERT_TRUE(log_open(dir_.string()));
  std::string p = log_path();
  EXPECT_TRUE(std::regex_match(std::filesystem::path(p).filename().string(),
                               std::regex(R"(log_\d{8}_\d{6}\.csv)")));
  station_window wnd;
  int row = insert_row(&wnd, 0, "NA");
  auto *rec = new tag_list_item{};
  rec->startTime = station_local_time();
  wnd.rows[0].item = rec;
  set_cell(&wnd, row, COL_IMAGE, "Wait for DKB");
  rec->status_code = 1;
  log_msg(row, &wnd);
  set_cell(&wnd, row, COL_IMAGE, "Write kernel, rootfs \"v2\"");
  rec->status_code = -13;
  log_msg(row, &wnd);
  // Read while still open: every line is on disk as soon as it is written.
  std::string text = read_all(p);
  std::istringstream lines(text);
  std::string header, first, second;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(header, "Fixture ID,MPU Die ID,Start Time,Finish Time,Section,Status code\r");
  std::regex line(R"(NA,,\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,(.*),(-?\d+)\r)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(first, m, line)) << first;
  EXPECT_EQ(m[1], "Wait for DKB");
  EXPECT_EQ(m[2], "1");
  ASSERT_TRUE(std::regex_match(second, m, line)) << second;
  EXPECT_EQ(m[1], "\"Write kernel, rootfs \"\"v2\"\"\"");
  EXPECT_EQ(m[2], "-13");
}

TEST_F(ResultLog, ExistingFilesAreNeverReplaced) {
  std::tm start{};
  start.tm_year = 110, start.tm_mon = 2, start.tm_mday = 4, start.tm_hour = 13, start.tm_min = 6, start.tm_sec = 5;
  std::filesystem::create_directory(path("log"));
  write("log/log_20100304_130605.csv", "an earlier run\r\n");
  const char *expected[] = {"log_20100304_130605_1.csv", "log_20100304_130605_2.csv"};
  for (const char *name : expected) {
    ASSERT_TRUE(log_open_at(dir_.string(), start));
    EXPECT_EQ(std::filesystem::path(log_path()).filename(), name);
    log_close();
  }
  EXPECT_EQ(read_all(path("log/log_20100304_130605.csv")), "an earlier run\r\n");
  EXPECT_EQ(read_all(path("log/log_20100304_130605_1.csv")),
            "Fixture ID,MPU Die ID,Start Time,Finish Time,Section,Status code\r\n");
}

TEST_F(ResultLog, FieldsAreCutThenQuotedWhenNeeded) {
  const struct {
    std::string in;
    std::size_t limit;
    std::string out;
  } cases[] = {
      {"Finished", 255, "Finished"},
      {"a,b", 255, "\"a,b\""},
      {"say \"hi\"", 255, "\"say \"\"hi\"\"\""},
      {"two\nlines", 255, "\"two\nlines\""},
      {std::string(40, 'x'), 29, std::string(29, 'x')},
  };
  for (const auto &c : cases) EXPECT_EQ(csv_field(c.in, c.limit), c.out);
}

TEST_F(ResultLog, NothingWrittenWhenClosed) {
  station_window wnd;
  insert_row(&wnd, 0, "1");
  log_msg(0, &wnd);  // logging_fd is null: no record is even looked at
  EXPECT_FALSE(std::filesystem::exists(path("log")));
}

}  // namespace
