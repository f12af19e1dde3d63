#include "info_box.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void put(HWND wnd, const std::string &text, bool bold, COLORREF colour = kDefaultTextColour) {
  wnd->info.push_back({text, bold, colour});
}

std::string utc_creation_time(const char (&t)[12]) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4s-%.2s-%.2s %.2s:%.2s (UTC)", t, t + 4, t + 6, t + 8, t + 10);
  return buf;
}

// Standard (not daylight) offset east of UTC, in hours, as the zone's bias gives it.
double standard_offset_hours() {
  tzset();
  return -double(timezone) / 3600.0;
}

void one_file_image_lines(HWND wnd, const flashini_content *c, const char *plugin_name) {
  put(wnd, "Filename: ", true);
  std::string name = c->one_file_image;
  if (c->one_file_image_description[0])
    name += std::string(" [") + c->one_file_image_description + "]";
  put(wnd, name + "\n", false);
  put(wnd, "Creation Time: ", true);
  put(wnd, utc_creation_time(c->creationtime), false);
  put(wnd, ",\t", true);
  put(wnd, local_creation_time(c->creationtime), false);
  if (plugin_name) put(wnd, std::string("\nUsing external plugin: ") + plugin_name, false);

  bool first = true;
  const flashini_partition_info_list *l = c->partition_info_list;
  for (int i = 0; l && i < l->no_of_partition_info; ++i) {
    const flashini_partition_info &p = l->info[i];
    if (std::strcmp(p.filename, c->one_file_image) == 0) continue;
    if (first) put(wnd, "\nAdditional files: ", true);
    else put(wnd, ", ", false);
    first = false;
    if (p.skip_flash) put(wnd, std::string(p.filename) + "[missing, skip allowed]", true, kMissingFileColour);
    else put(wnd, p.filename, false);
  }
}

void plain_recipe_line(HWND wnd, const flashini_content *c) {
  put(wnd, "Filename: ", true);
  const flashini_partition_info_list *l = c->partition_info_list;
  for (int i = 0; l && i < l->no_of_partition_info; ++i) {
    const flashini_partition_info &p = l->info[i];
    if (i) put(wnd, ", ", false);
    if (p.skip_flash) put(wnd, std::string(p.filename) + "[missing and skip]", false, kMissingFileColour);
    else put(wnd, p.filename, false);
  }
}

}  // namespace

std::string local_creation_time(const char (&t)[12]) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4s-%.2s-%.2s %.2s:%.2s", t, t + 4, t + 6, t + 8, t + 10);
  short year = 0, month = 0, day = 0, hour = 0, minute = 0;
  std::sscanf(text, "%hd-%hd-%hd %hd:%hd", &year, &month, &day, &hour, &minute);
  std::tm utc{};
  utc.tm_year = year - 1900;
  utc.tm_mon = month - 1;
  utc.tm_mday = day;
  utc.tm_hour = hour;
  utc.tm_min = minute;
  std::time_t when = timegm(&utc);
  std::tm local{};
  localtime_r(&when, &local);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d + %2.1f Hrs (Local time)", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, standard_offset_hours());
  return buf;
}

void show_file_info(HWND wnd, const flashini_content *content, const char *plugin_name) {
  if (content->one_file_image[0]) one_file_image_lines(wnd, content, plugin_name);
  else plain_recipe_line(wnd, content);
  if (wnd->view) wnd->view->info_changed();
}
