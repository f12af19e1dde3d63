// The station window without a toolkit: fixture rows of eight text cells with the handset's
// record as item data, the information box as runs of text, the worker-message handlers, the
// one-second timer and the colour rule. Only the window thread calls into it; the views (Qt,
// headless) draw it and are told what changed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "station_types.h"

using COLORREF = std::uint32_t;  // red in the low byte
constexpr COLORREF CLR_DEFAULT = 0xFF000000;
constexpr COLORREF kOddRowBackground = 0xEDEDED;
constexpr COLORREF kPassedBackground = 0x00FF00;
constexpr COLORREF kFailedBackground = 0x0000FF;
constexpr COLORREF kMissingFileColour = 0x0000FF;
constexpr COLORREF kDefaultTextColour = 0x000000;

enum list_column {
  COL_FIXTURE_ID = 0,
  COL_INTERFACE_1 = 1,
  COL_INTERFACE_2 = 2,
  COL_IMAGE = 3,
  COL_MPU_DIE_ID = 4,
  COL_STATUS = 5,
  COL_ELAPSED = 6,
  COL_PROGRESS = 7,
  COL_COUNT = 8,
};

struct list_column_def {
  const char *header;
  int width;  // pixels
};
extern const list_column_def kListColumns[COL_COUNT];

struct list_row {
  std::array<std::string, COL_COUNT> cells;
  tag_list_item *item = nullptr;
};

struct text_run {
  std::string text;
  bool bold = false;
  COLORREF colour = kDefaultTextColour;
};

// What a view is told after the model changed; called on the window thread.
class window_view {
 public:
  virtual ~window_view() = default;
  virtual void row_inserted(int index) = 0;
  virtual void cell_changed(int index, int column) = 0;
  virtual void info_changed() = 0;
  virtual void row_completed(int index) = 0;  // a result has just been recorded on the row
};

struct station_window {
  std::vector<list_row> rows;
  std::vector<text_run> info;
  // Records whose row was handed to a newer handset before their job had ended; released when
  // their job's WM_USER+2 arrives.
  std::vector<tag_list_item *> detached;
  std::string title;
  window_view *view = nullptr;
  bool closing = false;  // the operator has confirmed quitting: no new records
  ~station_window();
};
using HWND = station_window *;

extern const char kStationVersion[];   // "1.0.24.0"
extern const char kStationCaption[];   // the window caption after the version

// Row operations.
int FindListItem(HWND wnd, const tag_list_item *item);
int FindItemByPortNo(HWND wnd, int portno);
int GetInsertMappingIndex(HWND wnd, int iID);
int FindMappedUSBListItem(HWND wnd, const char *devname);
void CleanItemStatus(HWND wnd, int item);
int insert_row(HWND wnd, int index, const std::string &fixture_id);  // returns the index
void set_cell(HWND wnd, int row, int column, const std::string &text);

// Handlers of the worker messages.
tag_list_item *DeviceConnected(HWND wnd, WPARAM udev, LPARAM interface_name);
void DeviceDisconnected(HWND wnd, WPARAM item, LPARAM);
void DeviceImageMsg(HWND wnd, WPARAM item, LPARAM text);
void DeviceDieIDMsg(HWND wnd, WPARAM item, LPARAM text);
void DeviceDownloadMsg(HWND wnd, WPARAM item, LPARAM text);
void DeviceProgress(HWND wnd, WPARAM item, LPARAM text);
void DeviceCompleted(HWND wnd, WPARAM item, LPARAM status_code);

// Dispatches a worker message to its handler; the result of WM_USER+1 is the new record.
LRESULT MainProc(HWND wnd, unsigned msg, WPARAM wParam, LPARAM lParam);

// Elapsed time of every running row.
void OneSecondTimer(HWND wnd);

// Background of a cell: odd rows grey, the Status cell of a completed row green or red.
COLORREF cell_background(HWND wnd, int row, int column);

// The window title: "V" version " - " caption, at most 255 characters.
std::string window_title();
