// norvane_pc: the flashing station. main only reads the command line and calls the modules.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "check_config.h"
#include "device_list.h"
#include "headless/headless_view.h"
#include "startup.h"
#include "window_model.h"
#ifdef NORVANE_HAVE_QT
#include "qt/qt_view.h"
#endif

namespace {

const char kUsage[] =
    "Usage: norvane_pc [--headless] | --check-config [FILE] | --list-devices | --help | --version\n"
    "  (no option)            run the station: the window when a display is available, else headless\n"
    "  --headless             run the station on the console: one line per row change\n"
    "  --check-config [FILE]  parse the recipe FILE (default flasher.ini) as start-up does\n"
    "                         and print it as JSON; exit 1 if it does not parse\n"
    "  --list-devices         list the handsets present, with role, identity and interface name\n"
    "  --help                 show this text\n"
    "  --version              show the version\n";

int usage(std::FILE *out, int status) {
  std::fputs(kUsage, out);
  return status;
}

bool have_display() {
  const char *x = std::getenv("DISPLAY"), *w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

int run_station(bool headless) {
#ifdef NORVANE_HAVE_QT
  if (!headless && have_display()) {
    int qt_argc = 1;
    static char *qt_argv[] = {const_cast<char *>("norvane_pc"), nullptr};
    qt_view view(qt_argc, qt_argv, kAboutDescription, kAboutMd5Notice);
    return WinMain(view);
  }
#endif
  if (!headless) std::fprintf(stderr, "norvane_pc: no display: running headless\n");
  headless_view view;
  return WinMain(view);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 1) return run_station(false);
  const char *opt = argv[1];
  if (argc == 2 && std::strcmp(opt, "--headless") == 0) return run_station(true);
  if (std::strcmp(opt, "--check-config") == 0 && argc <= 3) return check_config(argc == 3 ? argv[2] : "flasher.ini");
  if (argc == 2 && std::strcmp(opt, "--list-devices") == 0) return print_device_list(stdout);
  if (argc == 2 && std::strcmp(opt, "--help") == 0) return usage(stdout, 0);
  if (argc == 2 && std::strcmp(opt, "--version") == 0) {
    std::printf("norvane_pc %s\n", kStationVersion);
    return 0;
  }
  return usage(stderr, 2);
}
