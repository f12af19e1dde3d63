// USB transport: one handset's USB device opened on its two bulk pipes, IN endpoint 0x81 for
// answers and OUT endpoint 0x02 for commands and data. Devices are listed with paths of the form
//   \\?\usb#vid_XXXX&pid_XXXX#NAME#{325DDF96-938C-11D3-9E34-0080C82727F4}
// where NAME identifies the physical connection. The backend is picked by NORVANE_USB
// (libusb, the default; sim:PATH, a handset bench on a Unix socket; inproc, for tests).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Opaque: the open link to one handset, made by usb_open and freed by usb_close.
typedef struct usb_dev_handle usb_dev_handle;

#define USB_PATH_SIZE 260   // device paths and interface names, with their terminator

// The device interface class every listed path ends with.
#define USB_GUID_TEXT "{325DDF96-938C-11D3-9E34-0080C82727F4}"

// Handset identities on the bus.
#define USB_VID_BOOTROM_A 0x8086   // boot ROM in download mode
#define USB_PID_BOOTROM_A 0xD001
#define USB_VID_BOOTROM_B 0x1286   // boot ROM in download mode
#define USB_PID_BOOTROM_B 0x8104
#define USB_VID_AGENT 0x1286       // the downloaded target agent
#define USB_PID_AGENT 0x8111

// Reads VID and PID from a path "\\?\usb#vid_%x&pid_%x..."; the literals match exactly and
// case-sensitively, the hex digits may be of either case. 0 when both were read, else -1.
int GetVIDPIDFromDevicePath(char *szPath, int *ret_vid, int *ret_pid);

// Copies the text between the second and the third '#' into interface_name (USB_PATH_SIZE
// bytes). -1 for fewer than three '#', and for a name that would not fit: a name is never cut,
// since a cut name could match another fixture position.
int ExtractInterfaceName(const char *dev_path, char *interface_name);

// One enumeration pass: `test` is called with each present device's path (a USB_PATH_SIZE
// buffer the test may read until it returns), in a stable order (by interface name, then path). The test
// returns USB_ENUM_NEXT to go on, anything else ends the pass and becomes its result; a pass
// that reaches the end returns USB_ENUM_NEXT. A listing that fails finds nothing. Devices whose
// path would be longer than 259 characters are passed over. Thread-safe.
#define USB_ENUM_NEXT 0
typedef int (*usb_enum_test)(const char *path, void *ctx);
int usb_enumerate(usb_enum_test test, void *ctx);

// Picks the backend as NORVANE_USB would ("libusb", "sim:PATH", "inproc"), for programs that
// must use a given one whatever the environment says (the bench serves its in-process bus).
// Must be called before any other usb_ call. 0, or -1 for an unknown name.
int usb_use_backend(const char *spec);

usb_dev_handle *usb_open(const char *filename);
int usb_close(usb_dev_handle *dev);

// Moves all `size` bytes in requests of at most 65,536 bytes; `timeout` (ms) bounds each
// request. Write: size or -1. Read: size, or -5 (failure or time-out), or -116 (device gone).
// `ep` is ignored: reads come from 0x81, writes go to 0x02.
int usb_bulk_write(usb_dev_handle *dev, int ep, const char *bytes, int size, int timeout);
int usb_bulk_read(usb_dev_handle *dev, int ep, char *bytes, int size, int timeout);

// Fixed results; the configuration is done inside usb_open.
int usb_set_configuration(usb_dev_handle *dev, int configuration);  // 0
int usb_claim_interface(usb_dev_handle *dev, int interface);        // 0
int usb_release_interface(usb_dev_handle *dev, int interface);      // 0
int usb_set_altinterface(usb_dev_handle *dev, int alternate);       // -1
int usb_resetep(usb_dev_handle *dev, unsigned int ep);              // -1
int usb_clear_halt(usb_dev_handle *dev, unsigned int ep);           // -1
int usb_reset(usb_dev_handle *dev);                                 // -1
int usb_interrupt_write(usb_dev_handle *dev, int ep, const char *bytes, int size, int timeout);  // -1
int usb_interrupt_read(usb_dev_handle *dev, int ep, char *bytes, int size, int timeout);         // -1
int usb_control_msg(usb_dev_handle *dev, int requesttype, int request, int value, int index,
                    char *bytes, int size, int timeout);                                     // -1

#ifdef __cplusplus
}
#endif
