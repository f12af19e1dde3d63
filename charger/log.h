// The program's diagnostics: printf-style texts written whole to standard output or error.
#pragma once

#include "platform.h"

enum log_stream { log_stdout = 1, log_stderr = 2 };

// Formats like printf and writes the text as it is (the format carries its own line ends).
void log_format(platform& os, log_stream stream, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Writes `text` and a newline to standard output.
void log_line(platform& os, const char* text);
