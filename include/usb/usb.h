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
