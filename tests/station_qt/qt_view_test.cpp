// The Qt view on the offscreen platform: a worker drives the window through the synchronous
// send and reads the widgets back on the window thread; modal boxes keep answering workers;
// the ways to quit; a screenshot of the window as a test artefact.
#include "qt_view.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "about_box.h"
#include "colours.h"
#include "handset_picture.h"
#include "progress_delegate.h"

namespace {

// No display in the test run: Qt draws into memory.
const bool kOffscreen = [] { return setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0; }();

int g_argc = 1;
char g_arg0[] = "station_qt_test";
char *g_argv[] = {g_arg0, nullptr};

const char kDescription[] = "Test description of the station.";
const char kMd5Notice[] = "Test notice of the MD5 reference implementation.";

// Runs `f` on the window thread and waits for it; from the worker only.
void on_window(const std::function<void()> &f) { QMetaObject::invokeMethod(qApp, f, Qt::BlockingQueuedConnection); }

// Polls a condition on the window thread, with a generous bound.
bool wait_for(const std::function<bool()> &pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    bool ok = false;
    on_window([&] { ok = pred(); });
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

tag_list_item *announce(std::uintptr_t handle, const char *interface_name) {
  return reinterpret_cast<tag_list_item *>(SendMessage(hDlgWnd, WM_DEVICE_CONNECTED, handle, LPARAM(interface_name)));
}
LRESULT send_text(unsigned msg, tag_list_item *rec, const char *text) {
  return SendMessage(hDlgWnd, msg, WPARAM(rec), LPARAM(text));
}
LRESULT send_code(unsigned msg, tag_list_item *rec, int code) { return SendMessage(hDlgWnd, msg, WPARAM(rec), LPARAM(code)); }

QMessageBox *open_message_box() { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); }

// Closes the window and answers the quit question with `answer`.
void answer_quit_question(station_window_widget *window, QMessageBox::StandardButton answer) {
  QMetaObject::invokeMethod(window, [window] { window->close(); }, Qt::QueuedConnection);
  ASSERT_TRUE(wait_for([] {
    QMessageBox *box = open_message_box();
    return box && box->text() == kQuitQuestion;
  }));
  on_window([answer] { open_message_box()->button(answer)->click(); });
}

// One station run: fixture rows "1" to "3" on interfaces 1-1 to 1-3, the title and an
// information box set as the start-up sets them, and `script` on a worker thread.
struct Station : ::testing::Test {
  qt_view view{g_argc, g_argv, kDescription, kMd5Notice};
  station_window wnd;
  int quits = 0;

  void run(const std::function<void()> &script) {
    ASSERT_TRUE(kOffscreen);
    std::thread worker;
    view.run(
        &wnd,
        [&] {
          for (int i = 1; i <= 3; ++i) {
            int row = insert_row(&wnd, i - 1, std::to_string(i));
            set_cell(&wnd, row, COL_INTERFACE_1, "1-" + std::to_string(i));
          }
          wnd.title = window_title();
          wnd.info = {{"Filename: ", true, kDefaultTextColour},
                      {"pkg.bin\n", false, kDefaultTextColour},
                      {"Additional files: ", true, kDefaultTextColour},
                      {"b.img[missing, skip allowed]", true, kMissingFileColour}};
          wnd.view->info_changed();
          worker = std::thread(script);
        },
        [&] { ++quits; });
    worker.join();
  }
  station_window_widget *window() const { return view.window(); }
  QTableWidget *table() const { return view.window()->table(); }
};

QRgb pixel_at(const QImage &shot, QWidget *window, QTableWidget *table, int row, int column, double x_fraction) {
  QRect cell = table->visualRect(table->model()->index(row, column));
  QPoint at = table->viewport()->mapTo(window, cell.topLeft()) +
              QPoint(int(cell.width() * x_fraction), 2);  // along the top, above the text
  return shot.pixel(at) & 0xFFFFFF;
}

TEST_F(Station, WorkerMessagesFillRowsColoursProgressTitleAndInformation) {
  struct cell_expect {
    int row, column;
    std::string text;
    COLORREF background;
  };
  std::vector<cell_expect> expected;
  std::vector<cell_expect> seen;
  std::string title, headers_seen;
  std::vector<int> widths;
  bool full_row = false;
  QSize picture;
  struct run_seen {
    std::string text;
    bool bold;
    QRgb colour;
  };
  std::vector<run_seen> runs;
  QRgb status_passed = 0, status_failed = 0, status_running = 0, bar_passed = 0, after_bar_passed = 0,
       bar_running = 0;
  bool saved = false;
  QImage reread;
  const QString shot_path = QStringLiteral(NORVANE_BINARY_DIR "/artefacts/station_qt.png");
  std::string cleared_status;
  COLORREF cleared_background = 0;

  run([&] {
    tag_list_item *a = announce(0x1234, "1-2");  // row 1: passes
    tag_list_item *b = announce(0x5678, "1-3");  // row 2: fails
    tag_list_item *c = announce(0x9ABC, "1-1");  // row 0: still running
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(a->udev, reinterpret_cast<usb_dev_handle *>(std::uintptr_t(0x1234)));
    EXPECT_EQ(send_text(WM_DEVICE_IMAGE_MSG, a, "Download DKB"), 1);
    EXPECT_EQ(send_text(WM_DEVICE_DOWNLOAD_MSG, a, "Write to flash"), 1);
    EXPECT_EQ(send_text(WM_DEVICE_PROGRESS, a, "40% (2/5)"), 1);
    EXPECT_EQ(send_code(WM_DEVICE_COMPLETED, a, 0), 1);
    send_text(WM_DEVICE_IMAGE_MSG, b, "Write to flash");
    send_code(WM_DEVICE_COMPLETED, b, -5);
    send_text(WM_DEVICE_DOWNLOAD_MSG, b, "Flash failed");
    send_text(WM_DEVICE_PROGRESS, c, "75% (3/4)");
    // A send from the window thread itself is handled at once instead of waiting on itself.
    LRESULT own = 0;
    on_window([&] { own = send_text(WM_DEVICE_IMAGE_MSG, c, "system.img"); });
    EXPECT_EQ(own, 1);
    // The one-second timer reaches the running row only.
    ASSERT_TRUE(wait_for([this] { return !table()->item(0, COL_ELAPSED)->text().isEmpty(); }));

    expected = {
        {0, COL_FIXTURE_ID, "1", CLR_DEFAULT},        {0, COL_INTERFACE_1, "1-1", CLR_DEFAULT},
        {0, COL_IMAGE, "system.img", CLR_DEFAULT},    {0, COL_STATUS, "Device Connected.", CLR_DEFAULT},
        {0, COL_PROGRESS, "75% (3/4)", CLR_DEFAULT},  {1, COL_FIXTURE_ID, "2", kOddRowBackground},
        {1, COL_IMAGE, "Finished", kOddRowBackground}, {1, COL_STATUS, "Completed", kPassedBackground},
        {1, COL_ELAPSED, "", kOddRowBackground},      {1, COL_PROGRESS, "40% (2/5)", kOddRowBackground},
        {2, COL_IMAGE, "Write to flash", CLR_DEFAULT}, {2, COL_STATUS, "Flash failed", kFailedBackground},
        {2, COL_MPU_DIE_ID, "", CLR_DEFAULT},
    };
    on_window([&] {
      QTableWidget *t = table();
      for (const cell_expect &e : expected) {
        QTableWidgetItem *item = t->item(e.row, e.column);
        QBrush bg = item->background();
        COLORREF seen_bg = bg.style() == Qt::NoBrush
                               ? CLR_DEFAULT
                               : COLORREF(bg.color().red() | bg.color().green() << 8 | bg.color().blue() << 16);
        seen.push_back({e.row, e.column, item->text().toStdString(), seen_bg});
      }
      title = window()->windowTitle().toStdString();
      for (int col = 0; col < t->columnCount(); ++col) {
        headers_seen += t->horizontalHeaderItem(col)->text().toStdString() + "|";
        widths.push_back(t->columnWidth(col));
      }
      full_row = t->selectionBehavior() == QAbstractItemView::SelectRows;
      picture = window()->picture()->pixmap().size();
      for (QTextBlock block = window()->info_box()->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
          runs.push_back({it.fragment().text().toStdString(), it.fragment().charFormat().fontWeight() == QFont::Bold,
                          it.fragment().charFormat().foreground().color().rgb() & 0xFFFFFF});

      // The screenshot, with nothing selected so that every cell shows its own colour.
      t->clearSelection();
      t->setCurrentCell(-1, -1);
      QImage shot = window()->grab().toImage();
      QDir().mkpath(QFileInfo(shot_path).absolutePath());
      saved = shot.save(shot_path, "PNG");
      reread = QImage(shot_path);
      status_passed = pixel_at(shot, window(), t, 1, COL_STATUS, 0.95);
      status_failed = pixel_at(shot, window(), t, 2, COL_STATUS, 0.95);
      status_running = pixel_at(shot, window(), t, 0, COL_STATUS, 0.95);
      bar_passed = pixel_at(shot, window(), t, 1, COL_PROGRESS, 0.2);
      after_bar_passed = pixel_at(shot, window(), t, 1, COL_PROGRESS, 0.8);
      bar_running = pixel_at(shot, window(), t, 0, COL_PROGRESS, 0.6);
    });

    // The job of the passed handset ends: its row goes idle and loses its green.
    send_code(WM_DEVICE_DISCONNECTED, a, 0);
    on_window([&] {
      cleared_status = table()->item(1, COL_STATUS)->text().toStdString();
      QBrush bg = table()->item(1, COL_STATUS)->background();
      cleared_background = COLORREF(bg.color().red() | bg.color().green() << 8 | bg.color().blue() << 16);
    });
    answer_quit_question(window(), QMessageBox::Yes);
  });

  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(expected[i].row) + " column " + std::to_string(expected[i].column));
    EXPECT_EQ(seen[i].text, expected[i].text);
    EXPECT_EQ(seen[i].background, expected[i].background);
  }
  EXPECT_EQ(title, window_title());
  EXPECT_EQ(headers_seen, "Fixture ID|Interface_1 ID|Interface_2 ID|Image|MPU Die ID|Status|Elapsed Time|Progress|");
  for (int col = 0; col < COL_COUNT - 1; ++col) EXPECT_EQ(widths[std::size_t(col)], kListColumns[col].width);
  EXPECT_TRUE(full_row);
  EXPECT_EQ(picture, QSize(kPictureWidth, kPictureHeight));

  std::vector<run_seen> want = {{"Filename: ", true, 0x000000},
                                {"pkg.bin", false, 0x000000},
                                {"Additional files: ", true, 0x000000},
                                {"b.img[missing, skip allowed]", true, 0xFF0000}};
  ASSERT_EQ(runs.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(runs[i].text, want[i].text);
    EXPECT_EQ(runs[i].bold, want[i].bold) << want[i].text;
    EXPECT_EQ(runs[i].colour, want[i].colour) << want[i].text;
  }

  EXPECT_TRUE(saved);
  EXPECT_FALSE(reread.isNull());
  EXPECT_GT(reread.width(), 0);
  EXPECT_EQ(status_passed, 0x00FF00u);
  EXPECT_EQ(status_failed, 0xFF0000u);
  EXPECT_NE(status_running, 0x00FF00u);
  EXPECT_NE(status_running, 0xFF0000u);
  EXPECT_EQ(bar_passed, kProgressBarColour & 0xFFFFFF);
  EXPECT_EQ(after_bar_passed, 0xEDEDEDu);
  EXPECT_EQ(bar_running, kProgressBarColour & 0xFFFFFF);

  EXPECT_EQ(cleared_status, "");
  EXPECT_EQ(cleared_background, kOddRowBackground);
  EXPECT_EQ(quits, 1);
}

// Each modal box the window thread can open; while it is open a worker's send is answered.
TEST_F(Station, ModalBoxesKeepAnsweringWorkers) {
  struct modal_case {
    const char *name;
    std::function<void(station_window_widget *, qt_view *)> open;  // on the window thread; blocks
    std::function<bool(QWidget *)> is_it;
    std::function<void(QWidget *)> dismiss;
  };
  auto message_box_is = [](const char *caption, const char *text, QMessageBox::Icon icon) {
    return [=](QWidget *w) {
      auto *box = qobject_cast<QMessageBox *>(w);
      return box && box->windowTitle() == caption && box->text() == text && box->icon() == icon;
    };
  };
  auto about_is = [](QWidget *w) {
    auto *box = dynamic_cast<about_box *>(w);
    if (!box || box->windowTitle() != "About Flasher") return false;
    QStringList texts;
    for (QLabel *l : box->findChildren<QLabel *>()) texts << l->text();
    return texts.contains(kDescription) && texts.contains(kMd5Notice) && texts.join(' ').contains(kStationVersion) &&
           !box->findChildren<QPushButton *>().isEmpty() && box->findChildren<QPushButton *>()[0]->text().remove('&') == "OK";
  };
  auto click = [](const char *label) {
    return [=](QWidget *w) {
      for (QPushButton *b : w->findChildren<QPushButton *>())
        if (b->text().remove('&') == label) return b->click();
    };
  };
  const std::vector<modal_case> cases = {
      {"quit question, answered No", [](station_window_widget *w, qt_view *) { w->close(); },
       message_box_is("Quit", kQuitQuestion, QMessageBox::Warning), click("No")},
      {"About from F1",
       [](station_window_widget *w, qt_view *) {
         QApplication::setActiveWindow(w);
         QTest::keyClick(w, Qt::Key_F1);
       },
       about_is, click("OK")},
      {"About from the context menu",
       [](station_window_widget *w, qt_view *) {
         EXPECT_EQ(w->contextMenuPolicy(), Qt::ActionsContextMenu);
         for (QAction *a : w->actions())
           if (a->text() == "About") a->trigger();
       },
       about_is, click("OK")},
      {"message box", [](station_window_widget *, qt_view *v) { v->message_box("Warning", "Failed to create logging file", true); },
       message_box_is("Warning", "Failed to create logging file", QMessageBox::Warning), click("OK")},
  };

  run([&] {
    tag_list_item *rec = announce(0x1234, "1-1");
    ASSERT_NE(rec, nullptr);
    for (const modal_case &c : cases) {
      SCOPED_TRACE(c.name);
      QMetaObject::invokeMethod(window(), [&] { c.open(window(), &view); }, Qt::QueuedConnection);
      ASSERT_TRUE(wait_for([&] { return QApplication::activeModalWidget() && c.is_it(QApplication::activeModalWidget()); }));
      const std::string text = std::string("while: ") + c.name;
      EXPECT_EQ(send_text(WM_DEVICE_DOWNLOAD_MSG, rec, text.c_str()), 1);
      bool still_open = false, window_shown = false;
      std::string status;
      on_window([&] {
        still_open = QApplication::activeModalWidget() && c.is_it(QApplication::activeModalWidget());
        status = table()->item(0, COL_STATUS)->text().toStdString();
        c.dismiss(QApplication::activeModalWidget());
      });
      EXPECT_TRUE(still_open);
      EXPECT_EQ(status, text);
      ASSERT_TRUE(wait_for([] { return QApplication::activeModalWidget() == nullptr; }));
      on_window([&] { window_shown = window()->isVisible(); });
      EXPECT_TRUE(window_shown);
    }
    answer_quit_question(window(), QMessageBox::Yes);
  });
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(wnd.closing);
}

// The ways the operator quits; afterwards a worker's send is answered with 0 and no record.
TEST_F(Station, QuitEndsTheWindowAndLaterSendsGetNoRecord) {
  struct quit_case {
    const char *name;
    std::function<void(Station *)> quit;
  };
  const std::vector<quit_case> cases = {
      {"Yes to the question", [](Station *s) { answer_quit_question(s->window(), QMessageBox::Yes); }},
      {"SIGTERM", [](Station *) { kill(getpid(), SIGTERM); }},
      {"SIGINT", [](Station *) { kill(getpid(), SIGINT); }},
      {"SIGTERM while the question is open",
       [](Station *s) {
         station_window_widget *w = s->window();
         QMetaObject::invokeMethod(w, [w] { w->close(); }, Qt::QueuedConnection);
         ASSERT_TRUE(wait_for([] { return open_message_box() != nullptr; }));
         kill(getpid(), SIGTERM);
       }},
  };
  for (const quit_case &c : cases) {
    SCOPED_TRACE(c.name);
    station_window fresh;
    quits = 0;
    std::atomic<bool> returned{false};
    tag_list_item *late = reinterpret_cast<tag_list_item *>(1);
    std::thread after;
    view.run(
        &fresh,
        [&] {
          after = std::thread([&] {
            ASSERT_NE(announce(0x1234, "1-9"), nullptr);
            c.quit(this);
            while (!returned) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            late = announce(0x5678, "1-8");
          });
        },
        [&] { ++quits; });
    returned = true;
    after.join();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(fresh.closing);
    EXPECT_EQ(late, nullptr);
    EXPECT_EQ(fresh.rows.size(), 1u);
  }
}

TEST(StationQt, StartUpMessageBoxShowsCaptionTextAndIcon) {
  struct box_case {
    const char *caption, *text;
    bool warning;
    QMessageBox::Icon icon;
  };
  const box_case cases[] = {
      {"Error", "Parse ini file error", false, QMessageBox::Critical},
      {"Warning", "Failed to create logging file", true, QMessageBox::Warning},
  };
  qt_view view{g_argc, g_argv, kDescription, kMd5Notice};
  for (const box_case &c : cases) {
    SCOPED_TRACE(c.text);
    bool matched = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (QMessageBox *box = open_message_box()) {
        matched = box->windowTitle() == c.caption && box->text() == c.text && box->icon() == c.icon &&
                  box->button(QMessageBox::Ok) != nullptr;
        box->button(QMessageBox::Ok)->click();
      }
    });
    poll.start(10);
    view.message_box(c.caption, c.text, c.warning);
    EXPECT_TRUE(matched);
  }
}

TEST(StationQt, ProgressPercentFromTheLeadingNumber) {
  const struct {
    const char *text;
    int percent;
  } cases[] = {
      {"", -1}, {"40% (2/5)", 40}, {"0% (0/9)", 0}, {"100% (512/512)", 100}, {"250%", 100},
      {"99999999999999999999%", 100}, {"%", -1}, {"40", -1}, {" 40%", -1}, {"Flash", -1},
  };
  for (const auto &c : cases) EXPECT_EQ(progress_percent(c.text), c.percent) << '"' << c.text << '"';
}

TEST(StationQt, ColourRefsHaveRedInTheLowByte) {
  const struct {
    COLORREF ref;
    QColor colour;
  } cases[] = {
      {0x0000FF, QColor(255, 0, 0)},
      {0x00FF00, QColor(0, 255, 0)},
      {0xEDEDED, QColor(0xED, 0xED, 0xED)},
      {0x123456, QColor(0x56, 0x34, 0x12)},
      {CLR_DEFAULT, QColor()},
  };
  for (const auto &c : cases) EXPECT_EQ(qcolor_of(c.ref), c.colour) << std::hex << c.ref;
  EXPECT_EQ(background_brush(CLR_DEFAULT).style(), Qt::NoBrush);
}

}  // namespace
