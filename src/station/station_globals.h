// The station's globals, written once at start-up before the monitor starts and only read
// afterwards by the window, the monitor and every job.
#pragma once

#include "libdkb/flashini_parser.h"

extern flashini_content *ini_content;   // the parsed flasher.ini
extern const unsigned char *g_dkb_buf;  // the agent image linked into the station
extern int g_dkb_size;
extern void *g_post_plugin_handle;      // the post-flash plug-in, or null
