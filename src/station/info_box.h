// The configuration summary in the window's information box: the package with its creation
// time in UTC and local time, the plug-in, and the image files outside the package.
#pragma once

#include "libdkb/flashini_parser.h"
#include "window_model.h"

// Appends the summary's runs to wnd->info. `plugin_name` is null without a plug-in.
void show_file_info(HWND wnd, const flashini_content *content, const char *plugin_name);

// "YYYY-MM-DD hh:mm + H.H Hrs (Local time)" of a creation time (12 digits, UTC), with the local
// time zone's rules for that date and its standard offset.
std::string local_creation_time(const char (&creationtime)[12]);
