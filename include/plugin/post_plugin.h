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
//
// Agent operations. While plugin_download_finish_cb lasts, a plug-in may speak to the handset's
// target agent through `udev` with the operations of libdkb/libdkb.h (included below). A plug-in
// links against nothing of the station: these symbols are resolved, when the station loads the
// library, against norvane_pc itself (so do not link a plug-in with -Wl,--no-undefined). Each
// call is one complete exchange and returns 0 or a negative result code; the agent has its NAND
// initialised and its geometry known (dkb_get_nand_info gives the page, block and spare sizes the
// flash transfers take). A plug-in may call:
//   dkb_ack                                     is the agent still there
//   dkb_get_nand_info                           the flash's identity and geometry
//   dkb_flash_read, dkb_flash_read_to_file      read flash (hardware ECC on: enable_hw_ecc 1)
//   dkb_read_mem, dkb_write_mem                 the handset's RAM, with or without CRC
//   dkb_set_gpio                                drive a GPIO
//   dkb_read_micco_data, dkb_write_micco_data   the power-management chip's registers
//   dkb_read_rtc                                the handset's clock (the station sets it afterwards)
// and, knowing that the bad block table has already been written back (a block that goes bad
// now is not recorded on the flash): dkb_flash_write, dkb_flash_write_from_file, dkb_flash_erase.
// It must not reset the handset or redo the NAND or bad block set-up (dkb_*_reset_device,
// dkb_init_nand, dkb_*bbm*, dkb_set_nand_*, dkb_finialize_nand): the station goes on with the
// same agent after the call.
#pragma once

#include "libdkb/libdkb.h"  // the agent operations above
#include "usb/usb.h"        // usb_dev_handle: the handset's open link, valid while the call lasts

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
