// The CSV result log: one file per station run in log/, one line per finished handset, written
// only by the window thread. Each line reaches the disk when it is written.
#pragma once

#include <ctime>
#include <string>

#include "window_model.h"

struct result_log;
extern result_log *logging_fd;  // the open log, or null when logging is off or has been closed

// Creates log/log_YYYYMMDD_hhmmss.csv (local time now) under `base_dir`, never replacing an
// existing file ("_1", "_2", ... before ".csv" on a clash), and writes the header. Sets
// logging_fd; false when the file cannot be created.
bool log_open(const std::string &base_dir = ".");
bool log_open_at(const std::string &base_dir, const std::tm &start);
// Writes the line of row nItem; nothing when logging_fd is null.
void log_msg(int nItem, HWND hDlgItemWnd);
// Closes the log and sets logging_fd to null.
void log_close();
// The path of the open log, or empty.
std::string log_path();

// One field as the log writes it: cut to `limit` characters, then quoted (RFC 4180) only when it
// holds a comma, a double quote or a line break.
std::string csv_field(const std::string &text, std::size_t limit);
