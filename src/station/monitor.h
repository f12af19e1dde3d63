// Device discovery: every 100 ms the monitor looks at the present devices; each boot ROM that
// has no running job is opened, announced to the window (which binds it to a fixture row) and
// handed to a new flashing job.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "station_types.h"

// Set once by the window thread when the operator has confirmed quitting.
extern std::atomic<int> do_exit;

// The monitor's own list of running jobs; only the monitor thread touches it.
struct download_thread_linklist {
  char interfaceName[USB_PATH_SIZE];
  usb_dev_handle *udev;                 // handed to the job; not used by the monitor afterwards
  std::thread hThread;
  std::shared_ptr<std::atomic<bool>> ended;  // the job's thread has returned
  download_thread_linklist *next;
};

// The job a monitor starts for a handset; the station's is DownloadThreadProc.
using job_function = unsigned long (*)(void *lpParam);

// Runs until do_exit is set. `job` is what each announced handset gets (the station's
// MonitorThreadProc runs it with DownloadThreadProc).
unsigned long run_monitor(job_function job);

download_thread_linklist *FindDeviceStillConnectedNAlive(const char *interface_name,
                                                         download_thread_linklist *dl_thread_ll);

// True for the two boot ROM identities.
bool is_bootrom_identity(int vid, int pid);
