#include "monitor.h"

#include <chrono>
#include <cstring>

#include "window_thread.h"

std::atomic<int> do_exit{0};

namespace {

struct pass_state {
  download_thread_linklist **list;
  job_function job;
};

void start_job(pass_state &s, const char *name, usb_dev_handle *udev, tag_list_item *item) {
  auto *node = new download_thread_linklist{};
  std::memcpy(node->interfaceName, name, strnlen(name, USB_PATH_SIZE - 1));
  node->udev = udev;
  node->ended = std::make_shared<std::atomic<bool>>(false);
  auto ended = node->ended;
  job_function job = s.job;
  node->hThread = std::thread([job, item, ended] {
    job(item);
    ended->store(true);
  });
  node->next = *s.list;
  *s.list = node;
}

// One device of the pass: the steps of the monitor loop for it.
int test_device(const char *device_path, void *ctx) {
  auto &s = *static_cast<pass_state *>(ctx);
  char path[USB_PATH_SIZE] = {};
  std::memcpy(path, device_path, strnlen(device_path, USB_PATH_SIZE - 1));
  int vid = 0, pid = 0;
  if (GetVIDPIDFromDevicePath(path, &vid, &pid) != 0 || !is_bootrom_identity(vid, pid)) return USB_ENUM_NEXT;
  char name[USB_PATH_SIZE];
  if (ExtractInterfaceName(path, name) != 0 || name[0] == '\0') return USB_ENUM_NEXT;
  if (FindDeviceStillConnectedNAlive(name, *s.list)) return USB_ENUM_NEXT;
  usb_dev_handle *udev = usb_open(path);
  if (!udev) return USB_ENUM_NEXT;
  if (usb_set_configuration(udev, 1) != 0 || usb_claim_interface(udev, 0) != 0) {
    usb_close(udev);
    return USB_ENUM_NEXT;
  }
  auto *item = reinterpret_cast<tag_list_item *>(
      SendMessage(hDlgWnd, WM_DEVICE_CONNECTED, WPARAM(udev), LPARAM(name)));
  if (!item) {  // the window is closing: no record, so no job
    usb_close(udev);
    return USB_ENUM_NEXT;
  }
  start_job(s, name, udev, item);
  return USB_ENUM_NEXT;
}

void reap(download_thread_linklist **list) {
  for (download_thread_linklist **at = list; *at;) {
    download_thread_linklist *node = *at;
    if (node->ended->load()) {
      node->hThread.join();
      *at = node->next;
      delete node;
    } else {
      at = &node->next;
    }
  }
}

}  // namespace

bool is_bootrom_identity(int vid, int pid) {
  return (vid == USB_VID_BOOTROM_A && pid == USB_PID_BOOTROM_A) ||
         (vid == USB_VID_BOOTROM_B && pid == USB_PID_BOOTROM_B);
}

download_thread_linklist *FindDeviceStillConnectedNAlive(const char *interface_name,
                                                         download_thread_linklist *dl_thread_ll) {
  for (; dl_thread_ll; dl_thread_ll = dl_thread_ll->next)
    if (std::strcmp(dl_thread_ll->interfaceName, interface_name) == 0) return dl_thread_ll;
  return nullptr;
}

unsigned long run_monitor(job_function job) {
  download_thread_linklist *list = nullptr;
  pass_state s{&list, job};
  while (!do_exit.load()) {
    usb_enumerate(test_device, &s);
    reap(&list);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // Jobs still running end with the process; their threads are let go, not waited for.
  for (download_thread_linklist *node = list; node;) {
    download_thread_linklist *next = node->next;
    if (node->ended->load()) node->hThread.join();
    else node->hThread.detach();
    delete node;
    node = next;
  }
  return 0;
}
