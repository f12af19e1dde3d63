// One handset's flashing job, on a thread of its own: agent download through the boot ROM, the
// wait for the agent, then GPIO presets, NAND and BBM set-up, erasing, writing every partition,
// BBM write-back, GPIO post-settings, the plug-in's read-back, the clock; then the result, and
// a reset or the wait until the handset is unplugged.
#pragma once

#include "station_types.h"
#include "window_model.h"

unsigned long DownloadThreadProc(void *lpParam);

// Opens the agent (VID 0x1286, PID 0x8111) under either interface name within `timeout` ms
// (agent_name_wanted). 0 and the handle, or non-zero.
int wait_for_dkb(usb_dev_handle **ret_udev, int timeout, const char *expect_interface_name_1,
                 const char *expect_interface_name_2);

// Whether an agent under interface `name` belongs to the job that expects `expect_1` or
// `expect_2`: a non-empty one of them equal to `name`; any name when both are empty.
bool agent_name_wanted(const char *name, const char *expect_1, const char *expect_2);

// Steps 4 to 17 of the job: 0 when the handset is written and "Done" shown, else the failing
// step's status code with *err_msg set to its failure text.
int start_download_image(HWND hDlgWnd, tag_list_item *pitem, usb_dev_handle *udev, const char **err_msg);

// The agent layer's progress report, shown in the handset's row.
void progress_callback(void *user_data, const char *msg, int cur, int range);

// "%d%% (%d/%d)" of a report; a range of 0 or less shows "100% (0/0)".
std::string progress_text(int cur, int range);
