// `norvane_pc --list-devices`: the handsets present, for filling in the fixture mapping.
#pragma once

#include <cstdio>

// Prints one line per present device: role, VID, PID, interface name, path. Returns 0.
int print_device_list(std::FILE *out);
