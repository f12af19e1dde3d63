// handset_bench --socket PATH --dir DIR CONFIG
// handset_bench ctl SOCKET list | plug PORT | unplug PORT | reset PORT | status PORT | fault PORT SPEC
//                          | read PORT START END FILE | read-stored PORT START END FILE
//                          | status-stored PORT | nand-fault PORT SPEC
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_run.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: handset_bench --socket PATH --dir DIR CONFIG\n"
               "       handset_bench ctl SOCKET list | plug PORT | unplug PORT | reset PORT |\n"
               "                            status PORT | fault PORT SPEC |\n"
               "                            read PORT START END FILE | read-stored PORT START END FILE |\n"
               "                            status-stored PORT | nand-fault PORT SPEC\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 4 && std::strcmp(argv[1], "ctl") == 0) {
    std::string command;
    for (int i = 3; i < argc; ++i) command += (i > 3 ? " " : "") + std::string(argv[i]);
    return sim::run_ctl(argv[2], command);
  }
  std::string socket, dir, config;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--socket" && i + 1 < argc) {
      socket = argv[++i];
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (!a.empty() && a[0] != '-' && config.empty()) {
      config = a;
    } else {
      return usage();
    }
  }
  if (socket.empty() || dir.empty() || config.empty()) return usage();
  return sim::run_bench(socket, dir, config);
}
