// norvane_cli's commands: one handset at a time, through the station's own libraries.
#pragma once

#include <string>

namespace cli {

int list_devices();
int rom_version(const std::string &name);
int download(const std::string &name, const char *tim_file, const std::string &dkb_file);

}  // namespace cli
