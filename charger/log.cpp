#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void log_format(platform& os, log_stream stream, const char* format, ...)
{
    char small[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        os.write_log(stream, std::string_view(small, static_cast<size_t>(n)));
        return;
    }
    // Rare long texts (long paths, sysfs contents) are formatted again at full length.
    std::string text(static_cast<size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(n));
    os.write_log(stream, text);
}

void log_line(platform& os, const char* text)
{
    std::string line(text);
    line += '\n';
    os.write_log(log_stdout, line);
}
