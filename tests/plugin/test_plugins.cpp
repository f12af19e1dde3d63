// Plug-ins for the host's tests, built three ways (see CMakeLists.txt):
//   full       all five exports; the callback returns the first byte read back
//   four       lacks plugin_get_error_str
//   init_null  plugin_init refuses to load
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

int plugin_download_finish_cb(void *plugin_handle, usb_dev_handle *, char *preadbuf, int read_size, int,
                              char *) {
  if (plugin_handle != &context) return -1000;
  return read_size > 0 ? preadbuf[0] : 0;
}

#ifndef TEST_PLUGIN_WITHOUT_ERROR_STR
const char *plugin_get_error_str(int) { return "error"; }
#endif

void plugin_finalize(void *) {}

}  // extern "C"
