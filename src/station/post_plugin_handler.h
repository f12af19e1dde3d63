// Host of the optional post-flash plug-in: reads ./post_plugin.ini, loads the library, looks up
// its five exports and forwards the station's calls to them.
#pragma once

#include "plugin/post_plugin.h"

enum {
  ERROR_POST_PLUGIN_NO_DLL_NAME = 1,           // post_plugin.ini exists but names no library
  ERROR_POST_PLUGIN_LOAD_DLL_FAILED = 2,       // the library could not be loaded
  ERROR_POST_PLUGIN_LOAD_DLL_FUNC_FAILED = 3,  // an export is missing
  ERROR_POST_PLUGIN_INIT_DLL_FAILED = 4,       // plugin_init returned null
};

// The plug-in, or null: *errorno 0 when there is simply no post_plugin.ini, else one of the
// codes above. A failure leaves no library loaded and nothing allocated.
void *plugin_handler_init(int *errorno);
const char *plugin_handler_get_name(void *handle);
int plugin_handler_get_extra_read_addr(void *handle);
int plugin_handler_get_extra_read_size(void *handle);
// Calls the plug-in with its context and returns its result unchanged.
int plugin_handler_download_finish_cb(void *handle, usb_dev_handle *udev, char *preadbuf, int read_size,
                                      int program_okay, char *one_file_image_version);
// plugin_finalize (when the context is not null), unload, free.
void plugin_handler_finailize(void *handle);
