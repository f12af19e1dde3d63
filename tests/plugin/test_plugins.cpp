// Plug-ins for the host's tests, built three ways (see CMakeLists.txt):
//   full       all five exports; the callback returns the first byte read back
//   four       lacks plugin_get_error_str
//   init_null  plugin_init refuses to load
//   agent      the callback reads the area again through the handle with the agent operations
//              (resolved against the station's own symbols, so only norvane_pc can load it)
#include <cstdlib>
#include <cstring>

#include "plugin/post_plugin.h"

extern "C" {

static int context;

void *plugin_init(int *errorno) {
  *errorno = 99;  // the host must replace whatever a plug-in leaves here
#ifdef TEST_PLUGIN_INIT_NULL
  return nullptr;
#else
  return &context;
#endif
}

const char *plugin_get_name(void) { return "test plug-in"; }

#ifdef TEST_PLUGIN_CALLS_AGENT
// Where the end-to-end test has the station read back from.
static const int kReadBackAddr = 0x100000;

// 0 when the agent is there and the flash read again through `udev` matches what the station
// read back; a failing agent call's result; 200 for a mismatch.
int plugin_download_finish_cb(void *plugin_handle, usb_dev_handle *udev, char *preadbuf, int read_size, int,
                              char *) {
  if (plugin_handle != &context) return -1000;
  int err = dkb_ack(udev);
  if (err) return err;
  comm_protocol_flash_info_resp info;
  if ((err = dkb_get_nand_info(udev, &info))) return err;
  char *again = static_cast<char *>(std::malloc(std::size_t(read_size)));
  if (!again) return -1001;
  err = dkb_flash_read(udev, again, kReadBackAddr, kReadBackAddr + read_size, 1, int(info.page_size),
                       int(info.block_size), 0, 1, 0, nullptr, nullptr);
  if (!err && std::memcmp(again, preadbuf, std::size_t(read_size)) != 0) err = 200;
  std::free(again);
  return err;
}
#else
int plugin_download_finish_cb(void *plugin_handle, usb_dev_handle *, char *preadbuf, int read_size, int,
                              char *) {
  if (plugin_handle != &context) return -1000;
  return read_size > 0 ? preadbuf[0] : 0;
}
#endif

#ifndef TEST_PLUGIN_WITHOUT_ERROR_STR
const char *plugin_get_error_str(int) { return "error"; }
#endif

void plugin_finalize(void *) {}

}  // extern "C"
