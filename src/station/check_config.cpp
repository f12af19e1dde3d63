#include "check_config.h"

#include <cstring>
#include <string>

namespace {

// JSON string: valid UTF-8 passes through, every other byte is written as \u00XX so the output
// stays valid JSON whatever bytes a recipe holds.
void put_json_string(std::string &out, const char *text, std::size_t length) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < length;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
      ++i;
    } else if (c == '\n') { out += "\\n"; ++i; }
    else if (c == '\r') { out += "\\r"; ++i; }
    else if (c == '\t') { out += "\\t"; ++i; }
    else {
      std::size_t seq = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
      bool valid = seq > 0 && i + seq <= length;
      for (std::size_t k = 1; valid && k < seq; ++k)
        valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (valid && c >= 0xF0 && c < 0xF5) valid = seq == 4;
      if (valid) {
        out.append(text + i, seq);
        i += seq;
      } else {
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 15];
        ++i;
      }
    }
  }
  out += '"';
}

template <std::size_t N>
void put_field(std::string &out, const char (&field)[N]) {
  put_json_string(out, field, strnlen(field, N));
}

void put_key(std::string &out, const char *key) {
  put_json_string(out, key, std::strlen(key));
  out += ':';
}

void put_int(std::string &out, const char *key, long long value, bool comma = true) {
  put_key(out, key);
  out += std::to_string(value);
  if (comma) out += ',';
}

// All twelve bytes zero means no 1FI: shown as empty.
void put_creationtime(std::string &out, const char (&t)[12]) {
  put_key(out, "creationtime");
  bool all_zero = true;
  for (char ch : t) all_zero = all_zero && ch == 0;
  put_json_string(out, t, all_zero ? 0 : sizeof t);
  out += ',';
}

void put_gpio_list(std::string &out, const char *key, const flashini_gpio_info_list *l) {
  put_key(out, key);
  out += '[';
  for (int i = 0; l && i < l->no_of_gpio_info; ++i) {
    if (i) out += ',';
    out += '{';
    put_int(out, "gpio", l->info[i].gpio);
    put_int(out, "value", l->info[i].value, false);
    out += '}';
  }
  out += ']';
}

void put_erase_list(std::string &out, const flashini_erase_info_list *l) {
  put_key(out, "erase_info_list");
  out += '[';
  for (int i = 0; l && i < l->no_of_erase_info; ++i) {
    if (i) out += ',';
    out += '{';
    put_int(out, "nand_loc_start", l->info[i].nand_loc_start);
    put_int(out, "nand_loc_end", l->info[i].nand_loc_end, false);
    out += '}';
  }
  out += ']';
}

void put_partition(std::string &out, const flashini_partition_info &p) {
  out += '{';
  put_key(out, "original_filename");
  put_field(out, p.original_filename);
  out += ',';
  put_key(out, "filename");
  put_field(out, p.filename);
  out += ',';
  put_key(out, "desc");
  put_field(out, p.desc);
  out += ',';
  put_int(out, "nand_loc_start", p.nand_loc_start);
  put_int(out, "nand_loc_end", p.nand_loc_end);
  put_int(out, "image_with_oob", p.image_with_oob);
  put_int(out, "skip_flash", p.skip_flash);
  put_int(out, "offset_in_file", p.offset_in_file);
  put_int(out, "file_size", p.file_size, false);
  out += '}';
}

void put_partition_list(std::string &out, const flashini_partition_info_list *l) {
  put_key(out, "partition_info_list");
  out += '[';
  for (int i = 0; l && i < l->no_of_partition_info; ++i) {
    if (i) out += ',';
    put_partition(out, l->info[i]);
  }
  out += ']';
}

}  // namespace

void print_flashini_json(const flashini_content *c, std::FILE *out) {
  std::string s = "{";
  put_int(s, "enable_crc", c->enable_crc);
  put_int(s, "init_bbm_method", c->init_bbm_method);
  put_int(s, "bbm_reloc_addr", c->bbm_reloc_addr);
  put_int(s, "bbm_reloc_end_addr", c->bbm_reloc_end_addr);
  put_int(s, "num_of_chip_select", c->num_of_chip_select);
  put_int(s, "loop_test", c->loop_test);
  put_int(s, "logging", c->logging);
  put_int(s, "reboot", c->reboot);
  put_int(s, "sync_pc_time", c->sync_pc_time);
  put_creationtime(s, c->creationtime);
  put_key(s, "one_file_image");
  put_field(s, c->one_file_image);
  s += ',';
  put_key(s, "one_file_image_description");
  put_field(s, c->one_file_image_description);
  s += ',';
  put_erase_list(s, c->erase_info_list);
  s += ',';
  put_partition_list(s, c->partition_info_list);
  s += ',';
  put_gpio_list(s, "gpio_bd_info_list", c->gpio_bd_info_list);
  s += ',';
  put_gpio_list(s, "gpio_ad_info_list", c->gpio_ad_info_list);
  s += "}\n";
  std::fwrite(s.data(), 1, s.size(), out);
  std::fflush(out);
}

int check_config(const char *ini_name) {
  flashini_content *content = flashini_parse_file(ini_name);
  if (!content) {
    std::fputs("Parse ini file error\n", stderr);
    return 1;
  }
  print_flashini_json(content, stdout);
  flashini_destroy(content);
  return 0;
}
