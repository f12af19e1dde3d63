// onefi: makes, shows and checks one-file images. main only reads the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pack.h"

namespace {

const char kUsage[] =
    "Usage:\n"
    "  onefi pack MANIFEST -o OUT   build a one-file image from an INI manifest\n"
    "  onefi info FILE              print the header and every section\n"
    "  onefi verify FILE            check magic, checksum and section bounds (exit 0 if sound)\n";

int usage(std::FILE *out, int status) {
  std::fputs(kUsage, out);
  return status;
}

int do_pack(const std::string &manifest_path, const std::string &out) {
  manifest m;
  std::string error;
  if (!read_manifest(manifest_path, m, error) || !pack_onefi(m, out, error)) {
    std::fprintf(stderr, "onefi pack: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %zu images, %zu erase areas, %zu + %zu GPIOs\n", out.c_str(), m.images.size(),
              m.erases.size(), m.gpio_bd.size(), m.gpio_ad.size());
  return 0;
}

int do_info(const std::string &path) {
  std::string error;
  if (!show_onefi(path, stdout, error)) {
    std::fprintf(stderr, "onefi info: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// The station's own reader decides: what it refuses, verify refuses, with its message.
int do_verify(const std::string &path) {
  auto *c = static_cast<flashini_content *>(std::calloc(1, sizeof(flashini_content)));
  if (!c) return 1;
  int bad = parse_one_1fi(c, path.c_str());
  if (!bad)
    std::printf("%s: sound (%d images, %d erase areas, %d + %d GPIOs)\n", path.c_str(),
                c->partition_info_list->no_of_partition_info, c->erase_info_list->no_of_erase_info,
                c->gpio_bd_info_list->no_of_gpio_info, c->gpio_ad_info_list->no_of_gpio_info);
  flashini_destroy(c);
  return bad ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return usage(stdout, 0);
  if (argc == 5 && std::strcmp(argv[1], "pack") == 0 && std::strcmp(argv[3], "-o") == 0)
    return do_pack(argv[2], argv[4]);
  if (argc == 3 && std::strcmp(argv[1], "info") == 0) return do_info(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "verify") == 0) return do_verify(argv[2]);
  return usage(stderr, 2);
}
