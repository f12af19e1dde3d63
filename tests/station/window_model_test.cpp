// Rows, records and their lifetime, the worker messages, colours and the elapsed time.
#include "window_model.h"

#include <gtest/gtest.h>

namespace {

usb_dev_handle *fake_handle(int n) { return reinterpret_cast<usb_dev_handle *>(std::uintptr_t(0x1000 + n)); }

struct Window : ::testing::Test {
  station_window wnd;
  tag_list_item *connect(const char *name, int n = 1) {
    return reinterpret_cast<tag_list_item *>(
        MainProc(&wnd, WM_DEVICE_CONNECTED, WPARAM(fake_handle(n)), LPARAM(name)));
  }
  void send(unsigned msg, tag_list_item *rec, const char *text) {
    MainProc(&wnd, msg, WPARAM(rec), LPARAM(text));
  }
  void fixture(int portno, const char *if1, const char *if2 = "") {
    int row = insert_row(&wnd, GetInsertMappingIndex(&wnd, portno), std::to_string(portno));
    set_cell(&wnd, row, COL_INTERFACE_1, if1);
    set_cell(&wnd, row, COL_INTERFACE_2, if2);
  }
  const std::string &cell(int row, int col) { return wnd.rows[std::size_t(row)].cells[std::size_t(col)]; }
};

TEST_F(Window, UnmappedHandsetGetsAnNARowThatIsReused) {
  tag_list_item *a = connect("1-4");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(wnd.rows.size(), 1u);
  EXPECT_EQ(cell(0, COL_FIXTURE_ID), "NA");
  EXPECT_EQ(cell(0, COL_INTERFACE_1), "1-4");
  EXPECT_EQ(cell(0, COL_STATUS), "Device Connected.");
  EXPECT_EQ(a->udev, fake_handle(1));
  EXPECT_STREQ(a->interface_2_name, "");

  send(WM_DEVICE_COMPLETED, a, nullptr);  // status code 0
  MainProc(&wnd, WM_DEVICE_DISCONNECTED, WPARAM(a), 0);
  EXPECT_EQ(wnd.rows[0].item, nullptr);
  tag_list_item *b = connect("1-4", 2);
  EXPECT_EQ(wnd.rows.size(), 1u);
  EXPECT_EQ(wnd.rows[0].item, b);
}

TEST_F(Window, SecondNameOfAFixtureGivesTheOther) {
  fixture(3, "1-1", "1-2");
  tag_list_item *rec = connect("1-2");
  EXPECT_STREQ(rec->interface_1_name, "1-2");
  EXPECT_STREQ(rec->interface_2_name, "1-1");
  rec = connect("1-1", 2);
  EXPECT_STREQ(rec->interface_2_name, "1-2");
}

TEST_F(Window, JobTextsReachItsRowOnly) {
  fixture(1, "a");
  fixture(2, "b");
  tag_list_item *a = connect("a"), *b = connect("b", 2);
  send(WM_DEVICE_IMAGE_MSG, a, "Download DKB");
  send(WM_DEVICE_DOWNLOAD_MSG, b, "Flash");
  send(WM_DEVICE_PROGRESS, b, "50% (1/2)");
  send(WM_DEVICE_DIE_ID_MSG, a, "DIE");
  EXPECT_EQ(cell(0, COL_IMAGE), "Download DKB");
  EXPECT_EQ(cell(0, COL_MPU_DIE_ID), "DIE");
  EXPECT_EQ(cell(1, COL_STATUS), "Flash");
  EXPECT_EQ(cell(1, COL_PROGRESS), "50% (1/2)");
  EXPECT_EQ(cell(0, COL_STATUS), "Device Connected.");
  tag_list_item stranger{};
  send(WM_DEVICE_IMAGE_MSG, &stranger, "ignored");  // no row holds it
  EXPECT_EQ(cell(0, COL_IMAGE), "Download DKB");
}

TEST_F(Window, ResultsColourTheStatusCell) {
  for (int p = 1; p <= 4; ++p) fixture(p, std::to_string(p).c_str());
  tag_list_item *ok = connect("2"), *bad = connect("3", 2), *running = connect("4", 3);
  send(WM_DEVICE_IMAGE_MSG, bad, "Write kernel");
  MainProc(&wnd, WM_DEVICE_COMPLETED, WPARAM(ok), 0);
  MainProc(&wnd, WM_DEVICE_COMPLETED, WPARAM(bad), -13);
  EXPECT_EQ(cell(1, COL_IMAGE), "Finished");
  EXPECT_EQ(cell(1, COL_STATUS), "Completed");
  EXPECT_EQ(cell(2, COL_IMAGE), "Write kernel");
  EXPECT_EQ(bad->status_code, -13);
  (void)running;
  const struct {
    int row, column;
    COLORREF bg;
  } cases[] = {
      {0, COL_STATUS, CLR_DEFAULT}, {1, COL_IMAGE, kOddRowBackground}, {1, COL_STATUS, kPassedBackground},
      {2, COL_STATUS, kFailedBackground}, {2, COL_IMAGE, CLR_DEFAULT}, {3, COL_STATUS, kOddRowBackground},
  };
  for (const auto &c : cases) EXPECT_EQ(cell_background(&wnd, c.row, c.column), c.bg) << c.row << "," << c.column;
}

TEST_F(Window, FailedRowKeepsItsTextsUntilTheNextHandset) {
  fixture(1, "a");
  tag_list_item *a = connect("a");
  send(WM_DEVICE_IMAGE_MSG, a, "Erase flash");
  MainProc(&wnd, WM_DEVICE_COMPLETED, WPARAM(a), -14);
  send(WM_DEVICE_DOWNLOAD_MSG, a, "Erase failed");
  MainProc(&wnd, WM_DEVICE_DISCONNECTED, WPARAM(a), 0);
  EXPECT_EQ(wnd.rows[0].item, a);
  EXPECT_EQ(a->udev, nullptr);
  EXPECT_EQ(cell(0, COL_STATUS), "Erase failed");
  connect("a", 2);
  EXPECT_EQ(cell(0, COL_IMAGE), "");
  EXPECT_EQ(cell(0, COL_STATUS), "Device Connected.");
}

// A row handed to a new handset while the earlier job still runs: the earlier record stays valid
// until its job says it is over, and its later messages no longer reach the row.
TEST_F(Window, EarlierJobOnAReusedRowIsKeptOff) {
  fixture(1, "a", "b");
  tag_list_item *first = connect("a");
  tag_list_item *second = connect("b", 2);
  EXPECT_EQ(wnd.rows[0].item, second);
  ASSERT_EQ(wnd.detached.size(), 1u);
  send(WM_DEVICE_IMAGE_MSG, first, "stale");
  MainProc(&wnd, WM_DEVICE_COMPLETED, WPARAM(first), 5);
  EXPECT_EQ(cell(0, COL_IMAGE), "");
  EXPECT_EQ(second->completed, 0);
  EXPECT_STREQ(first->interface_1_name, "a");  // still readable by its job
  MainProc(&wnd, WM_DEVICE_DISCONNECTED, WPARAM(first), 0);
  EXPECT_TRUE(wnd.detached.empty());
  EXPECT_EQ(wnd.rows[0].item, second);
}

TEST_F(Window, ClosingWindowGivesNoRecord) {
  wnd.closing = true;
  EXPECT_EQ(connect("a"), nullptr);
  EXPECT_TRUE(wnd.rows.empty());
}

TEST_F(Window, ElapsedTimeCountsUntilTheResult) {
  fixture(1, "a");
  tag_list_item *a = connect("a");
  a->tickcount = station_tick_count() - 65432;
  OneSecondTimer(&wnd);
  EXPECT_EQ(cell(0, COL_ELAPSED), "65s");
  MainProc(&wnd, WM_DEVICE_COMPLETED, WPARAM(a), 0);
  a->tickcount -= 10000;
  OneSecondTimer(&wnd);
  EXPECT_EQ(cell(0, COL_ELAPSED), "65s");
  // The tick counter wraps; the difference is taken in 32-bit unsigned arithmetic.
  tag_list_item *b = connect("a", 2);
  b->tickcount = station_tick_count() + 0xFFFFFFFFu - 2999;
  OneSecondTimer(&wnd);
  EXPECT_EQ(cell(0, COL_ELAPSED), "3s");
}

TEST_F(Window, TitleAndColumns) {
  EXPECT_EQ(window_title(),
            "V1.0.24.0 - Flashing program for TAVOR platform (Connect devices to PC to start download)");
  EXPECT_STREQ(kListColumns[COL_ELAPSED].header, "Elapsed Time");
  EXPECT_EQ(kListColumns[COL_PROGRESS].width, 150);
}

}  // namespace
