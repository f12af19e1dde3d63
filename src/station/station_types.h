// The station's shared vocabulary: the per-handset record, the window messages through which
// the monitor and the jobs reach the window, and the handset identities.
#pragma once

#include <cstdint>
#include <ctime>

#include "usb/usb.h"

// Window message numbers (WM_USER = 0x400).
enum station_message : unsigned {
  WM_USER = 0x0400,
  WM_DEVICE_CONNECTED = WM_USER + 1,  // monitor: boot ROM handle, interface name -> new record
  WM_DEVICE_DISCONNECTED = WM_USER + 2,  // job: record; the job is over
  WM_DEVICE_IMAGE_MSG = WM_USER + 3,  // job: record, text -> Image column
  WM_DEVICE_DIE_ID_MSG = WM_USER + 4,  // nobody sends it: MPU Die ID column
  WM_DEVICE_DOWNLOAD_MSG = WM_USER + 5,  // job: record, text -> Status column
  WM_DEVICE_PROGRESS = WM_USER + 6,  // job: record, text -> Progress column
  WM_DEVICE_COMPLETED = WM_USER + 7,  // job: record, status code
};

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// One per announced handset; its address is the handset's identity in every message and progress
// report. Only the window thread writes it; a job reads udev and the two interface names.
struct tag_list_item {
  usb_dev_handle *udev;            // the boot ROM handle; null once the job has ended
  char interface_1_name[USB_PATH_SIZE];
  char interface_2_name[USB_PATH_SIZE];
  int status_code;
  std::uint32_t tickcount;         // millisecond tick count at the announcement
  std::tm startTime;               // local time at the announcement
  int completed;
  int job_ended;                   // WM_USER+2 received: the record may be released
};

// Millisecond tick count (wraps like the 32-bit tick counter the elapsed time is built on).
std::uint32_t station_tick_count();
// Current local time, broken down.
std::tm station_local_time();
