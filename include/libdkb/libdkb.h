// The station's side of the agent protocol: one complete exchange per call over an open
// usb_dev_handle, 0 or a negative result code (the table below), no state between calls.
// Command word, record and data always go out as transfers of their own.
#pragma once

#include <time.h>

#include "usb/usb.h"

#ifdef __cplusplus
extern "C" {
#endif

// Result codes: 0 success, else one of these.
#define DKB_ERR_MSG_READ -1          // reading a message word failed (transport error or time-out)
#define DKB_ERR_MSG_SHORT -2         // a message word or parameter short; reading the CRC word failed
#define DKB_ERR_FINAL_LENGTH -3      // sending a final chunk's length, or get_crc_command, failed
#define DKB_ERR_TEXT_TOO_LONG -4     // a text message announced 256 bytes or more
#define DKB_ERR_UNKNOWN_MSG -11      // a message word outside the table
#define DKB_ERR_COMMAND -12          // command word, record, answer or acknowledge failed
#define DKB_ERR_SEND -13             // command word, record, parameter or data failed to go out
#define DKB_ERR_DEVICE -14           // the agent reported an error (code handed back separately)
#define DKB_ERR_CRC -15              // CRC mismatch on a RAM transfer
#define DKB_ERR_OPEN_FILE -16
#define DKB_ERR_ALLOC -17
#define DKB_ERR_WRITE_FILE -18
#define DKB_ERR_FILE_MAPPING -20
#define DKB_ERR_MAP_VIEW -21
#define DKB_ERR_FILE_RANGE -22       // no data after the offset, or a given length past the file's end
#define DKB_ERR_OOB_MISALIGNED -23   // spare-area data not a whole number of pages
#define DKB_ERR_DATA_TOO_LONG -24    // data longer than its flash range: refused before anything is sent
#define DKB_ERR_EMPTY_READ -26       // a read range is empty

// Agent error codes the station gives a meaning to.
#define DKB_DEVICE_NO_BBM 2          // from init_nand_flash_command: no table on the flash
#define DKB_DEVICE_BAD_MAPPING 7     // from validate_nand_bbm_command

#define DKB_STAGING_ADDRESS 0x5C010000u

typedef struct comm_protocol_flash_info_resp {
  unsigned int manu_id;
  unsigned int device_id;
  unsigned int no_of_blocks;
  unsigned int page_size;   // data bytes per page
  unsigned int block_size;  // data bytes per erase block
  unsigned int oob_size;    // spare bytes per page
  unsigned int bus_width;
} comm_protocol_flash_info_resp;

// Progress: (callback_data, activity text, current, total). May be null.
typedef void (*dkb_progress_callback)(void *callback_data, const char *text, int current, int total);

// Agent protocol.
int dkb_ack(usb_dev_handle *udev);
int dkb_set_gpio(usb_dev_handle *udev, int gpio, int value);
int dkb_write_micco_data(usb_dev_handle *udev, unsigned char addr, unsigned char value);
int dkb_read_micco_data(usb_dev_handle *udev, unsigned char addr, unsigned char *value);
int dkb_write_rtc(usb_dev_handle *udev, struct tm *rtc_time);
int dkb_read_rtc(usb_dev_handle *udev, struct tm *ret_rtc_time);  // tm_yday, tm_isdst untouched
int dkb_hardware_reset_device(usb_dev_handle *udev);
int dkb_software_reset_device(usb_dev_handle *udev);
int dkb_get_nand_info(usb_dev_handle *udev, comm_protocol_flash_info_resp *resp);
int dkb_set_nand_flash_para(usb_dev_handle *udev, int num_of_chip_select);
int dkb_set_nand_bbm_reloc_area(usb_dev_handle *udev, int flash_loc, int flash_loc_end);
// 0 also when the flash holds no table: *found_bbm tells.
int dkb_init_nand(usb_dev_handle *udev, int *found_bbm);
int dkb_validate_bbm(usb_dev_handle *udev);
int dkb_finialize_nand(usb_dev_handle *udev);
int dkb_init_bbm_nake_flash(usb_dev_handle *udev, dkb_progress_callback callback, void *callback_data);
int dkb_init_bbm_used_flash(usb_dev_handle *udev, dkb_progress_callback callback, void *callback_data);
// Reads a message stream to its end; *device_err_code is written only when the result is -14.
int handle_flash_msg(usb_dev_handle *udev, int *device_err_code, dkb_progress_callback callback,
                     void *callback_data);

// RAM and flash transfers.
int dkb_write_mem(usb_dev_handle *udev, unsigned int ramloc, char *pbuf, int size, int enable_crc,
                  dkb_progress_callback callback, void *callback_data);
int dkb_read_mem(usb_dev_handle *udev, unsigned int ramloc, char *pbuf, int size, int enable_crc,
                 dkb_progress_callback callback, void *callback_data);
// Programs pbuf from flash_loc on, then erases the whole blocks of [flash_loc, flash_loc_end)
// the data did not reach. Data longer than the range is refused with -24.
int dkb_flash_write(usb_dev_handle *udev, char *pbuf, int size, int flash_loc, int flash_loc_end,
                    int enable_hw_ecc, int page_size, int block_size, int oob_size, int enable_crc,
                    int otp, dkb_progress_callback callback, void *callback_data);
// The same from a file, mapped read-only and shared with other readers. An offset beyond the
// end of the file, or a given length that runs past it, is refused with -22.
int dkb_flash_write_from_file(usb_dev_handle *udev, const char *image_file_name, int image_file_offset,
                              int image_file_length, int flash_loc, int flash_loc_end, int enable_hw_ecc,
                              int page_size, int block_size, int oob_size, int enable_crc, int otp,
                              dkb_progress_callback callback, void *callback_data);
int dkb_flash_read(usb_dev_handle *udev, char *pbuf, int flash_loc, int flash_loc_end, int enable_hw_ecc,
                   int page_size, int block_size, int oob_size, int enable_crc, int otp,
                   dkb_progress_callback callback, void *callback_data);
int dkb_flash_read_to_file(usb_dev_handle *udev, const char *image_file_name, int flash_loc,
                           int flash_loc_end, int enable_hw_ecc, int page_size, int block_size,
                           int oob_size, int enable_crc, int otp, dkb_progress_callback callback,
                           void *callback_data);
int dkb_flash_erase(usb_dev_handle *udev, int flashloc, int size, int ignore_bbm);

#ifdef __cplusplus
}
#endif
