// norvane_pc: the flashing station. main only reads the command line and calls the modules.
#include <cstdio>
#include <cstring>

#include "check_config.h"

namespace {

const char kUsage[] =
    "Usage: norvane_pc [--check-config [FILE]] [--help]\n"
    "  --check-config [FILE]  parse the recipe FILE (default flasher.ini) as start-up does\n"
    "                         and print it as JSON; exit 1 if it does not parse\n"
    "  --help                 show this text\n";

int usage(std::FILE *out, int status) {
  std::fputs(kUsage, out);
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--check-config") == 0 && argc <= 3)
    return check_config(argc == 3 ? argv[2] : "flasher.ini");
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return usage(stdout, 0);
  return usage(stderr, 2);
}
