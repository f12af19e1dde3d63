#include "headless_view.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace {

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

}  // namespace

std::string headless_view::row_line(const list_row &r) {
  return "row " + r.cells[COL_FIXTURE_ID] + " " + r.cells[COL_INTERFACE_1] + ": image " +
         quoted(r.cells[COL_IMAGE]) + ", status " + quoted(r.cells[COL_STATUS]) + ", elapsed " +
         quoted(r.cells[COL_ELAPSED]) + ", progress " + quoted(r.cells[COL_PROGRESS]);
}

std::string headless_view::summary_line(const list_row &r) {
  const tag_list_item *rec = r.item;
  int code = rec ? rec->status_code : 0;
  return std::string(code == 0 ? "PASSED" : "FAILED") + " fixture " + r.cells[COL_FIXTURE_ID] + " interface " +
         r.cells[COL_INTERFACE_1] + ": status code " + std::to_string(code) + ", section " +
         quoted(r.cells[COL_IMAGE]) + ", status " + quoted(r.cells[COL_STATUS]) + ", elapsed " +
         quoted(r.cells[COL_ELAPSED]);
}

void headless_view::message_box(const char *caption, const char *text, bool) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
}

void headless_view::row_inserted(int index) {
  std::fprintf(out_, "%s\n", row_line(wnd_->rows[std::size_t(index)]).c_str());
  std::fflush(out_);
}

// The elapsed time alone changes every second on every running row; it is shown with the other
// changes rather than on a line of its own.
void headless_view::cell_changed(int index, int column) {
  if (column == COL_ELAPSED) return;
  const list_row &row = wnd_->rows[std::size_t(index)];
  std::fprintf(out_, "%s\n", row_line(row).c_str());
  // A failed job sends its failure text right after its result: the summary waits for it.
  if (column == COL_STATUS && row.item && summary_pending_.erase(row.item))
    std::fprintf(out_, "%s\n", summary_line(row).c_str());
  std::fflush(out_);
}

void headless_view::info_changed() {
  std::string text;
  for (const text_run &r : wnd_->info) text += r.text;
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

void headless_view::row_completed(int index) {
  const list_row &row = wnd_->rows[std::size_t(index)];
  if (row.item && row.item->status_code != 0) {
    summary_pending_.insert(row.item);
    return;
  }
  std::fprintf(out_, "%s\n", summary_line(row).c_str());
  std::fflush(out_);
}

int headless_view::run(HWND wnd, const std::function<void()> &init_dialog, const std::function<void()> &on_quit) {
  wnd_ = wnd;
  wnd->view = this;
  window_loop loop(wnd);
  hDlgWnd = wnd;
  g_window_dispatcher = &loop;

  // The signals are taken by one thread of their own; every other thread has them blocked.
  sigset_t quit_signals;
  sigemptyset(&quit_signals);
  sigaddset(&quit_signals, SIGINT);
  sigaddset(&quit_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &quit_signals, nullptr);
  std::thread signals([&] {
    int sig = 0;
    sigwait(&quit_signals, &sig);
    loop.stop();
  });

  init_dialog();
  loop.run([wnd] { OneSecondTimer(wnd); });
  wnd->closing = true;
  on_quit();
  // The signal thread is still waiting if the loop stopped for another reason.
  pthread_kill(signals.native_handle(), SIGTERM);
  signals.join();
  return 0;
}
