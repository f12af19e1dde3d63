#include "download_job.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "libdkb/libdkb.h"
#include "libromcode/libromcode.h"
#include "monitor.h"
#include "post_plugin_handler.h"
#include "station_globals.h"
#include "window_thread.h"

namespace {

constexpr int kAgentWaitMs = 10000;
constexpr int kAgentPollMs = 100;
constexpr int kUnplugProbeMs = 1000;

void show(tag_list_item *item, const char *text) {
  SendMessage(hDlgWnd, WM_DEVICE_IMAGE_MSG, WPARAM(item), LPARAM(text));
}
void status(tag_list_item *item, const char *text) {
  SendMessage(hDlgWnd, WM_DEVICE_DOWNLOAD_MSG, WPARAM(item), LPARAM(text));
}
void progress(tag_list_item *item, const char *text) {
  SendMessage(hDlgWnd, WM_DEVICE_PROGRESS, WPARAM(item), LPARAM(text));
}
void completed(tag_list_item *item, int code) {
  SendMessage(hDlgWnd, WM_DEVICE_COMPLETED, WPARAM(item), LPARAM(code));
}
void job_over(tag_list_item *item) { SendMessage(hDlgWnd, WM_DEVICE_DISCONNECTED, WPARAM(item), 0); }

struct agent_search {
  const char *name_1, *name_2;
  usb_dev_handle *found = nullptr;
  bool refused = false;  // configuration or interface refused: the wait fails at once
};

int test_agent(const char *device_path, void *ctx) {
  auto &s = *static_cast<agent_search *>(ctx);
  char path[USB_PATH_SIZE] = {};
  std::memcpy(path, device_path, strnlen(device_path, USB_PATH_SIZE - 1));
  int vid = 0, pid = 0;
  if (GetVIDPIDFromDevicePath(path, &vid, &pid) != 0 || vid != USB_VID_AGENT || pid != USB_PID_AGENT)
    return USB_ENUM_NEXT;
  char name[USB_PATH_SIZE];
  if (ExtractInterfaceName(path, name) != 0) return USB_ENUM_NEXT;
  if (!agent_name_wanted(name, s.name_1, s.name_2)) return USB_ENUM_NEXT;
  usb_dev_handle *udev = usb_open(path);
  if (!udev) return USB_ENUM_NEXT;
  if (usb_set_configuration(udev, 1) != 0 || usb_claim_interface(udev, 0) != 0) {
    usb_close(udev);
    s.refused = true;
    return 1;
  }
  s.found = udev;
  return 1;
}

int set_gpio_list(usb_dev_handle *udev, const flashini_gpio_info_list *list) {
  for (int i = 0; list && i < list->no_of_gpio_info; ++i) {
    int err = dkb_set_gpio(udev, list->info[i].gpio, list->info[i].value);
    if (err) return err;
  }
  return 0;
}

int fail(const char **err_msg, const char *text, int code) {
  *err_msg = text;
  return code;
}

// The BBM per the configured method; `found_bbm` from the NAND initialisation.
int prepare_bbm(tag_list_item *item, usb_dev_handle *udev, int found_bbm, const char **err_msg) {
  int err = 0;
  switch (ini_content->init_bbm_method) {
    case FLASHINI_USE_EXIST_BBM:
      return found_bbm ? 0 : fail(err_msg, "Cannot find BBM", -1);
    case FLASHINI_INIT_NAKE_BBM:
      show(item, "Init BBM (Nake flash)");
      err = dkb_init_bbm_nake_flash(udev, progress_callback, item);
      break;
    case FLASHINI_USE_EXIST_BBM_IF_NOT_FOUND_INIT_USED_BBM:
      if (found_bbm) return 0;
      [[fallthrough]];
    case FLASHINI_INIT_USED_BBM:
      show(item, "Init BBM (Used flash)");
      err = dkb_init_bbm_used_flash(udev, progress_callback, item);
      break;
    default:
      return fail(err_msg, "config error in bbm", -1);
  }
  return err ? fail(err_msg, "Failed", err) : 0;
}

int write_partitions(tag_list_item *item, usb_dev_handle *udev, const comm_protocol_flash_info_resp &info,
                     const char **err_msg) {
  const flashini_partition_info_list *list = ini_content->partition_info_list;
  for (int i = 0; list && i < list->no_of_partition_info; ++i) {
    const flashini_partition_info &p = list->info[i];
    if (p.skip_flash) continue;
    show(item, p.desc);
    status(item, "");
    progress(item, "");
    int err = dkb_flash_write_from_file(udev, p.filename, p.offset_in_file, p.file_size, int(p.nand_loc_start),
                                        int(p.nand_loc_end), 1, int(info.page_size), int(info.block_size),
                                        p.image_with_oob ? int(info.oob_size) : 0, ini_content->enable_crc, 0,
                                        progress_callback, item);
    if (err) return fail(err_msg, "Write Failed", err);
  }
  return 0;
}

int run_plugin(usb_dev_handle *udev, const comm_protocol_flash_info_resp &info, const char **err_msg) {
  if (!g_post_plugin_handle) return 0;
  int addr = plugin_handler_get_extra_read_addr(g_post_plugin_handle);
  int size = plugin_handler_get_extra_read_size(g_post_plugin_handle);
  if (size == 0) return 0;
  char *buf = size > 0 ? static_cast<char *>(std::malloc(std::size_t(size))) : nullptr;
  if (!buf) return fail(err_msg, "No more memory for post plugin read buffer", 1);
  int err = dkb_flash_read(udev, buf, addr, addr + size, 1, int(info.page_size), int(info.block_size), 0,
                           ini_content->enable_crc, 0, nullptr, nullptr);
  if (err) {
    std::free(buf);
    return fail(err_msg, "Read post plugin buffer failed ", err);
  }
  err = plugin_handler_download_finish_cb(g_post_plugin_handle, udev, buf, size, 1,
                                          ini_content->one_file_image_description);
  std::free(buf);
  return err ? fail(err_msg, "Error execcute post plugin", err) : 0;
}

// The handset's clock from the PC's UTC time (not local time).
int set_clock(usb_dev_handle *udev, const char **err_msg) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  int err = dkb_write_rtc(udev, &utc);
  return err ? fail(err_msg, "Set RTC failed", err) : 0;
}

// The handset stays the job's until it is unplugged or stops answering.
void hold_until_unplugged(usb_dev_handle *udev) {
  while (dkb_ack(udev) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(kUnplugProbeMs));
}

}  // namespace

std::string progress_text(int cur, int range) {
  if (range <= 0) return "100% (0/0)";
  int shown = cur > range ? range : cur;
  long long percent = (long long)shown * 100 / range;
  char buf[100];
  std::snprintf(buf, sizeof buf, "%d%% (%d/%d)", int(percent), shown, range);
  return buf;
}

void progress_callback(void *user_data, const char *msg, int cur, int range) {
  auto *item = static_cast<tag_list_item *>(user_data);
  status(item, msg);
  progress(item, progress_text(cur, range).c_str());
}

// An empty name stands for no name, not for any name: a fixture row that knows only its boot
// ROM's interface (or an unmapped handset) would otherwise take whichever agent shows up first,
// another fixture's included, and flash and report that handset as its own. Only when neither
// name is known is any agent taken.
bool agent_name_wanted(const char *name, const char *expect_1, const char *expect_2) {
  if (!expect_1[0] && !expect_2[0]) return true;
  return (expect_1[0] && std::strcmp(name, expect_1) == 0) || (expect_2[0] && std::strcmp(name, expect_2) == 0);
}

int wait_for_dkb(usb_dev_handle **ret_udev, int timeout, const char *expect_interface_name_1,
                 const char *expect_interface_name_2) {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  agent_search s{expect_interface_name_1, expect_interface_name_2};
  do {
    usb_enumerate(test_agent, &s);
    if (s.found) {
      *ret_udev = s.found;
      return 0;
    }
    if (s.refused) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(kAgentPollMs));
  } while (clock::now() - start < std::chrono::milliseconds(timeout));
  return 1;
}

int start_download_image(HWND, tag_list_item *pitem, usb_dev_handle *udev, const char **err_msg) {
  const flashini_content *c = ini_content;
  int err = set_gpio_list(udev, c->gpio_bd_info_list);
  if (err) return fail(err_msg, "Set GPIO failed", err);

  show(pitem, "Init NAND flash");
  int found_bbm = 0;
  if ((err = dkb_init_nand(udev, &found_bbm))) return fail(err_msg, "Init NAND flash failed", err);
  if (c->bbm_reloc_addr && c->bbm_reloc_end_addr) {
    if ((err = dkb_set_nand_bbm_reloc_area(udev, c->bbm_reloc_addr, c->bbm_reloc_end_addr)))
      return fail(err_msg, "Set BBM parameters failed", err);
    if ((err = dkb_validate_bbm(udev))) return fail(err_msg, "Validate BBM failed", err);
  }
  if (c->num_of_chip_select != -1 && (err = dkb_set_nand_flash_para(udev, c->num_of_chip_select)))
    return fail(err_msg, "Set NAND parameters failed", err);

  show(pitem, "Get NAND flash info");
  comm_protocol_flash_info_resp info{};
  if ((err = dkb_get_nand_info(udev, &info))) return fail(err_msg, "Get nand flash info failed", err);
  if ((err = prepare_bbm(pitem, udev, found_bbm, err_msg))) return err;

  const flashini_erase_info_list *erase = c->erase_info_list;
  for (int i = 0; erase && i < erase->no_of_erase_info; ++i) {
    show(pitem, "Erase flash");
    const flashini_erase_info &e = erase->info[i];
    if ((err = dkb_flash_erase(udev, int(e.nand_loc_start), int(e.nand_loc_end - e.nand_loc_start), 0)))
      return fail(err_msg, "Erase failed", err);
  }
  if ((err = write_partitions(pitem, udev, info, err_msg))) return err;

  show(pitem, "Write back BBM");
  if ((err = dkb_finialize_nand(udev))) return fail(err_msg, "Failed", err);
  if ((err = set_gpio_list(udev, c->gpio_ad_info_list))) return fail(err_msg, "Set GPIO failed", err);
  if ((err = run_plugin(udev, info, err_msg))) return err;
  if (c->sync_pc_time && (err = set_clock(udev, err_msg))) return err;
  show(pitem, "Done");
  return 0;
}

unsigned long DownloadThreadProc(void *lpParam) {
  auto *item = static_cast<tag_list_item *>(lpParam);
  usb_dev_handle *udev = item->udev;
  char name_1[USB_PATH_SIZE], name_2[USB_PATH_SIZE];
  std::memcpy(name_1, item->interface_1_name, sizeof name_1);
  std::memcpy(name_2, item->interface_2_name, sizeof name_2);

  show(item, "Download DKB");
  status(item, "");
  progress(item, "");
  int err = download_dkb(udev, nullptr, 0, g_dkb_buf, uint32_t(g_dkb_size));
  if (err) {
    completed(item, err);
    status(item, "Download DKB failed");
    usb_close(udev);
    job_over(item);
    return 0;
  }
  usb_close(udev);

  show(item, "Wait for DKB");
  if (wait_for_dkb(&udev, kAgentWaitMs, name_1, name_2) != 0) {
    completed(item, 1);
    status(item, "Wait for DKB failed");
    job_over(item);
    return 0;
  }

  const char *err_msg = "";
  err = start_download_image(hDlgWnd, item, udev, &err_msg);
  if (err) {
    completed(item, err);
    status(item, err_msg);
    job_over(item);
    usb_close(udev);
    return 0;
  }
  completed(item, 0);
  progress(item, "100%");
  if (ini_content->loop_test || ini_content->reboot) dkb_software_reset_device(udev);
  else hold_until_unplugged(udev);
  job_over(item);
  usb_close(udev);
  return 0;
}
