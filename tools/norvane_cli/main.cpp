// norvane_cli: the line engineer's service tool.
//   norvane_cli list
//   norvane_cli rom-version NAME
//   norvane_cli download NAME [--tim FILE] --dkb FILE
#include <cstdio>
#include <string>

#include "commands.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: norvane_cli list\n"
               "       norvane_cli rom-version NAME\n"
               "       norvane_cli download NAME [--tim FILE] --dkb FILE\n"
               "NAME is an interface name as norvane_cli list shows it; the transport is picked\n"
               "by NORVANE_USB (libusb, sim:SOCKET, inproc).\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  std::string cmd = argv[1];
  if (cmd == "list" && argc == 2) return cli::list_devices();
  if (cmd == "rom-version" && argc == 3) return cli::rom_version(argv[2]);
  if (cmd == "download" && argc >= 3) {
    std::string tim, dkb;
    for (int i = 3; i < argc; ++i) {
      std::string a = argv[i];
      if (a == "--tim" && i + 1 < argc) {
        tim = argv[++i];
      } else if (a == "--dkb" && i + 1 < argc) {
        dkb = argv[++i];
      } else {
        return usage();
      }
    }
    if (dkb.empty()) {
      std::fprintf(stderr, "norvane_cli: download needs --dkb FILE (the agent image)\n");
      return 2;
    }
    return cli::download(argv[2], tim.empty() ? nullptr : tim.c_str(), dkb);
  }
  return usage();
}
