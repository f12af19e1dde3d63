#include "window_model.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "result_log.h"

const list_column_def kListColumns[COL_COUNT] = {
    {"Fixture ID", 40}, {"Interface_1 ID", 30}, {"Interface_2 ID", 30}, {"Image", 100},
    {"MPU Die ID", 120}, {"Status", 110},       {"Elapsed Time", 50},  {"Progress", 150},
};

const char kStationVersion[] = "1.0.24.0";
const char kStationCaption[] = "Flashing program for TAVOR platform (Connect devices to PC to start download)";

std::uint32_t station_tick_count() {
  using namespace std::chrono;
  return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::tm station_local_time() {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return t;
}

station_window::~station_window() {
  for (list_row &r : rows) delete r.item;
  for (tag_list_item *d : detached) delete d;
}

namespace {

tag_list_item *as_item(WPARAM w) { return reinterpret_cast<tag_list_item *>(w); }
const char *as_text(LPARAM l) { return reinterpret_cast<const char *>(l); }

template <std::size_t N>
void copy_name(char (&field)[N], const char *text) {
  std::size_t n = strnlen(text, N - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

void set_item_text(HWND wnd, WPARAM item, int column, LPARAM text) {
  int row = FindListItem(wnd, as_item(item));
  if (row >= 0) set_cell(wnd, row, column, as_text(text));
}

}  // namespace

int FindListItem(HWND wnd, const tag_list_item *item) {
  if (!item) return -1;
  for (std::size_t i = 0; i < wnd->rows.size(); ++i)
    if (wnd->rows[i].item == item) return int(i);
  return -1;
}

int FindItemByPortNo(HWND wnd, int portno) {
  const std::string id = std::to_string(portno);
  for (std::size_t i = 0; i < wnd->rows.size(); ++i)
    if (wnd->rows[i].cells[COL_FIXTURE_ID].substr(0, 49) == id) return int(i);
  return -1;
}

int GetInsertMappingIndex(HWND wnd, int iID) {
  for (std::size_t i = 0; i < wnd->rows.size(); ++i)
    if (std::atoi(wnd->rows[i].cells[COL_FIXTURE_ID].substr(0, 99).c_str()) > iID) return int(i);
  return int(wnd->rows.size());
}

int FindMappedUSBListItem(HWND wnd, const char *devname) {
  for (std::size_t i = 0; i < wnd->rows.size(); ++i) {
    const list_row &r = wnd->rows[i];
    if (r.cells[COL_INTERFACE_1].substr(0, 259) == devname ||
        r.cells[COL_INTERFACE_2].substr(0, 259) == devname)
      return int(i);
  }
  return -1;
}

int insert_row(HWND wnd, int index, const std::string &fixture_id) {
  list_row r;
  r.cells[COL_FIXTURE_ID] = fixture_id;
  wnd->rows.insert(wnd->rows.begin() + index, std::move(r));
  if (wnd->view) wnd->view->row_inserted(index);
  return index;
}

void set_cell(HWND wnd, int row, int column, const std::string &text) {
  std::string &cell = wnd->rows[std::size_t(row)].cells[std::size_t(column)];
  if (cell == text) return;
  cell = text;
  if (wnd->view) wnd->view->cell_changed(row, column);
}

// A record whose job is still running stays allocated (detached) until its WM_USER+2.
void CleanItemStatus(HWND wnd, int item) {
  list_row &r = wnd->rows[std::size_t(item)];
  if (r.item) {
    if (r.item->job_ended) delete r.item;
    else wnd->detached.push_back(r.item);
  }
  r.item = nullptr;
  for (int column : {COL_STATUS, COL_PROGRESS, COL_IMAGE, COL_MPU_DIE_ID, COL_ELAPSED})
    set_cell(wnd, item, column, "");
}

tag_list_item *DeviceConnected(HWND wnd, WPARAM udev, LPARAM interface_name) {
  if (wnd->closing) return nullptr;
  auto *rec = new tag_list_item{};
  rec->udev = reinterpret_cast<usb_dev_handle *>(udev);
  copy_name(rec->interface_1_name, as_text(interface_name));
  rec->tickcount = station_tick_count();
  rec->startTime = station_local_time();

  int row = FindMappedUSBListItem(wnd, rec->interface_1_name);
  if (row < 0) {
    row = insert_row(wnd, int(wnd->rows.size()), "NA");
    wnd->rows[std::size_t(row)].item = rec;
    set_cell(wnd, row, COL_INTERFACE_1, rec->interface_1_name);
  } else {
    CleanItemStatus(wnd, row);
    list_row &r = wnd->rows[std::size_t(row)];
    r.item = rec;
    copy_name(rec->interface_2_name, r.cells[COL_INTERFACE_1].substr(0, 259).c_str());
    if (std::strcmp(rec->interface_2_name, rec->interface_1_name) == 0)
      copy_name(rec->interface_2_name, r.cells[COL_INTERFACE_2].substr(0, 259).c_str());
  }
  set_cell(wnd, row, COL_STATUS, "Device Connected.");
  return rec;
}

void DeviceDisconnected(HWND wnd, WPARAM item, LPARAM) {
  tag_list_item *rec = as_item(item);
  int row = FindListItem(wnd, rec);
  if (row < 0) {
    // Its row went to a newer handset meanwhile: the record was kept only for this message.
    for (auto it = wnd->detached.begin(); it != wnd->detached.end(); ++it)
      if (*it == rec) {
        wnd->detached.erase(it);
        delete rec;
        break;
      }
    return;
  }
  rec->udev = nullptr;
  rec->job_ended = 1;
  if (rec->status_code == 0) CleanItemStatus(wnd, row);
}

void DeviceImageMsg(HWND wnd, WPARAM item, LPARAM text) { set_item_text(wnd, item, COL_IMAGE, text); }
void DeviceDieIDMsg(HWND wnd, WPARAM item, LPARAM text) { set_item_text(wnd, item, COL_MPU_DIE_ID, text); }
void DeviceDownloadMsg(HWND wnd, WPARAM item, LPARAM text) { set_item_text(wnd, item, COL_STATUS, text); }
void DeviceProgress(HWND wnd, WPARAM item, LPARAM text) { set_item_text(wnd, item, COL_PROGRESS, text); }

void DeviceCompleted(HWND wnd, WPARAM item, LPARAM status_code) {
  tag_list_item *rec = as_item(item);
  int row = FindListItem(wnd, rec);
  if (row < 0) return;
  rec->completed = 1;
  rec->status_code = int(status_code);
  if (rec->status_code == 0) {
    set_cell(wnd, row, COL_IMAGE, "Finished");
    set_cell(wnd, row, COL_STATUS, "Completed");
  }
  log_msg(row, wnd);
  if (wnd->view) wnd->view->row_completed(row);
}

LRESULT MainProc(HWND wnd, unsigned msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_DEVICE_CONNECTED: return reinterpret_cast<LRESULT>(DeviceConnected(wnd, wParam, lParam));
    case WM_DEVICE_DISCONNECTED: DeviceDisconnected(wnd, wParam, lParam); return 1;
    case WM_DEVICE_IMAGE_MSG: DeviceImageMsg(wnd, wParam, lParam); return 1;
    case WM_DEVICE_DIE_ID_MSG: DeviceDieIDMsg(wnd, wParam, lParam); return 1;
    case WM_DEVICE_DOWNLOAD_MSG: DeviceDownloadMsg(wnd, wParam, lParam); return 1;
    case WM_DEVICE_PROGRESS: DeviceProgress(wnd, wParam, lParam); return 1;
    case WM_DEVICE_COMPLETED: DeviceCompleted(wnd, wParam, lParam); return 1;
    default: return 0;
  }
}

void OneSecondTimer(HWND wnd) {
  const std::uint32_t now = station_tick_count();
  for (std::size_t i = 0; i < wnd->rows.size(); ++i) {
    const tag_list_item *rec = wnd->rows[i].item;
    if (!rec || rec->completed) continue;
    std::uint32_t seconds = (now - rec->tickcount) / 1000;
    set_cell(wnd, int(i), COL_ELAPSED, std::to_string(int(seconds)) + "s");
  }
}

COLORREF cell_background(HWND wnd, int row, int column) {
  COLORREF bg = (row % 2) ? kOddRowBackground : CLR_DEFAULT;
  const tag_list_item *rec = wnd->rows[std::size_t(row)].item;
  if (column == COL_STATUS && rec && rec->completed)
    bg = rec->status_code ? kFailedBackground : kPassedBackground;
  return bg;
}

std::string window_title() {
  std::string title = std::string("V") + kStationVersion + " - " + std::string(kStationCaption).substr(0, 255);
  return title.substr(0, 255);
}
