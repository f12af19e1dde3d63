// norvane_cli: the line engineer's service tool.
//   norvane_cli list
//   norvane_cli rom-version NAME
//   norvane_cli download NAME [--tim FILE] [--dkb FILE]   (the carried agent image by default)
//   norvane_cli COMMAND NAME [ARGS]                        (agent commands, agent_commands.h)
#include <cstdio>
#include <string>

#include "agent_commands.h"
#include "commands.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: norvane_cli list\n"
               "       norvane_cli rom-version NAME\n"
               "       norvane_cli download NAME [--tim FILE] [--dkb FILE]\n"
               "%s"
               "NAME is an interface name as norvane_cli list shows it; the transport is picked\n"
               "by NORVANE_USB (libusb, sim:SOCKET, inproc).\n",
               cli::agent_usage);
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
    return cli::download(argv[2], tim.empty() ? nullptr : tim.c_str(), dkb);
  }
  int r = cli::agent_command(argc, argv);
  return r >= 0 ? r : usage();
}
