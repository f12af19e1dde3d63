// The post-flash plug-in interface of norvane_pc.
//
// A plug-in is a shared library named by `dll_name` in section [Plugin] of ./post_plugin.ini
// (read at the station's start-up, together with `extra_read_addr` and `extra_read_size`). It must
// export the five functions below with C linkage. After a handset has been flashed, its BBM
// written back and its after-download GPIOs set, and only when `extra_read_size` is not 0, the
// station reads `extra_read_size` bytes of flash from `extra_read_addr` and calls
// plugin_download_finish_cb on that handset's own thread: calls for several handsets may run at
// the same time with the same plug-in context, so a plug-in must be safe to call concurrently.
// A result of 0 lets the handset pass; any other value fails it with that value as its status code.
#pragma once

#include "usb/usb.h"  // usb_dev_handle: the handset's open link, valid while the call lasts

#ifdef __cplusplus
extern "C" {
#endif

// Called once at load. Returns the plug-in's context, or null to refuse loading. The station
// overwrites whatever the plug-in stores in *errorno.
typedef void *(*LPPLUGIN_INIT)(int *errorno);

// Called once when the station window opens; the name must stay valid while the library is loaded.
typedef const char *(*LPPLUGIN_GET_NAME)(void);

// Called once per successfully flashed handset. `udev` is open on the handset's agent; the
// plug-in may speak the agent protocol through it while the call lasts (the station keeps
// ownership). `preadbuf` holds `read_size` bytes of flash read back from `extra_read_addr` and is
// freed when the call returns. `program_okay` is always 1. `one_file_image_version` is the
// package's description (at most 60 characters, never empty).
typedef int (*LPPLUGIN_DOWNLOAD_FINISH_CB)(void *plugin_handle, usb_dev_handle *udev, char *preadbuf,
                                           int read_size, int program_okay,
                                           char *one_file_image_version);

// Must exist; the station never calls it.
typedef const char *(*LPPLUGIN_GET_ERROR_STR)(int error);

// Called only when the host unloads the plug-in explicitly (the station keeps it to the end).
typedef void (*LPPLUGIN_FINALIZE)(void *plugin_handle);

// The exports stay visible even when a plug-in builds with hidden visibility by default.
#define POST_PLUGIN_EXPORT __attribute__((visibility("default")))

POST_PLUGIN_EXPORT void *plugin_init(int *errorno);
POST_PLUGIN_EXPORT const char *plugin_get_name(void);
POST_PLUGIN_EXPORT int plugin_download_finish_cb(void *plugin_handle, usb_dev_handle *udev,
                                                 char *preadbuf, int read_size, int program_okay,
                                                 char *one_file_image_version);
POST_PLUGIN_EXPORT const char *plugin_get_error_str(int error);
POST_PLUGIN_EXPORT void plugin_finalize(void *plugin_handle);

#ifdef __cplusplus
}
#endif
