#include "startup.h"

#include <thread>

#include "agent/agent_image.h"
#include "download_job.h"
#include "info_box.h"
#include "instance_lock.h"
#include "monitor.h"
#include "post_plugin_handler.h"
#include "registry_store.h"
#include "result_log.h"
#include "sleep_inhibitor.h"
#include "station_globals.h"
#include "usb_mapping.h"
#include "window_thread.h"

flashini_content *ini_content = nullptr;
const unsigned char *g_dkb_buf = nullptr;
int g_dkb_size = 0;
void *g_post_plugin_handle = nullptr;

const char kAboutDescription[] = "Flashes the NAND of TAVOR handsets, many at once, on the production line.";
const char kAboutMd5Notice[] =
    "Uses the RSA Data Security, Inc. MD5 Message-Digest Algorithm (RFC 1321) for one-file image checksums.";

namespace {

std::thread g_monitor;

bool load_configuration(station_view &view) {
  ini_content = flashini_parse_file("flasher.ini");
  if (!ini_content) {
    view.message_box("Error", "Parse ini file error", false);
    return false;
  }
  return true;
}

bool load_plugin(station_view &view) {
  int errorno = 0;
  g_post_plugin_handle = plugin_handler_init(&errorno);
  if (g_post_plugin_handle && ini_content->one_file_image_description[0] == '\0') {
    view.message_box("Error", "No valid one file image version description for external plugin", false);
    return false;
  }
  if (!g_post_plugin_handle && errorno != 0) {
    view.message_box("Error", "Initialize post plugin failed", false);
    return false;
  }
  return true;
}

void open_log(station_view &view) {
  if (ini_content->logging && !log_open(".")) view.message_box("Warning", "Failed to create logging file", true);
}

void load_flasher_image_into_globals() {
  unsigned char *buf = nullptr;
  int size = 0;
  load_flasher_image(&buf, &size);
  g_dkb_buf = buf;
  g_dkb_size = size;
}

}  // namespace

unsigned long MonitorThreadProc(void *) { return run_monitor(DownloadThreadProc); }

void InitDialog(HWND wnd) {
  registry_store *store = registry_open();
  InitUSBMapping(wnd, store);
  registry_close(store);
  g_monitor = std::thread([] { MonitorThreadProc(nullptr); });
  wnd->title = window_title();
  show_file_info(wnd, ini_content, g_post_plugin_handle ? plugin_handler_get_name(g_post_plugin_handle) : nullptr);
}

int WinMain(station_view &view) {
  instance_lock lock(kStationMutexName);
  if (!lock.held()) {
    view.message_box("Error", "Another instance of same application is running\nPlease close it first.", false);
    return 1;
  }
  if (!load_configuration(view) || !load_plugin(view)) return 1;
  open_log(view);
  load_flasher_image_into_globals();
  sleep_inhibitor no_suspend;

  station_window wnd;
  view.run(&wnd, [&] { InitDialog(&wnd); },
           [&] {
             do_exit = 1;
             log_close();
           });
  // The monitor stops at its next pass; jobs still running end with the process.
  if (g_monitor.joinable()) g_monitor.join();
  std::fflush(stdout);
  std::_Exit(0);
}
