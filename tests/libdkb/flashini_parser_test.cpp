// The recipe reader: keys, defaults, overrides of a 1FI's settings, appends to its lists,
// and the failures that must leave nothing behind.
#include "libdkb/flashini_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "onefi_builder.h"
#include "test_files.h"

namespace {

struct content_deleter {
  void operator()(flashini_content *c) const { flashini_destroy(c); }
};
using content_ptr = std::unique_ptr<flashini_content, content_deleter>;

class FlashIni : public scratch_dir_test {
 protected:
  // Parses `text` as flasher.ini; the reader's standard error is kept in `err`.
  content_ptr parse(const std::string &text) {
    std::string ini = write("flasher.ini", text);
    testing::internal::CaptureStderr();
    content_ptr c(flashini_parse_file(ini.c_str()));
    err = testing::internal::GetCapturedStderr();
    return c;
  }
  std::string onefi(const onefi_builder &b, const std::string &name = "pkg.1fi") {
    return write(name, b.bytes());
  }
  std::string err;
};

TEST_F(FlashIni, EmptyFileGivesDefaults) {
  auto c = parse("[misc]\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->enable_crc, 1);
  EXPECT_EQ(c->init_bbm_method, 3);
  EXPECT_EQ(c->bbm_reloc_addr, 0);
  EXPECT_EQ(c->bbm_reloc_end_addr, 0);
  EXPECT_EQ(c->num_of_chip_select, -1);
  EXPECT_EQ(c->loop_test | c->logging | c->reboot | c->sync_pc_time, 0);
  EXPECT_STREQ(c->one_file_image, "");
  EXPECT_STREQ(c->one_file_image_description, "");
  EXPECT_EQ(std::string(c->creationtime, 12), std::string(12, '\0'));
  EXPECT_EQ(c->erase_info_list->no_of_erase_info, 0);
  EXPECT_EQ(c->partition_info_list->no_of_partition_info, 0);
  EXPECT_EQ(c->gpio_bd_info_list->no_of_gpio_info, 0);
  EXPECT_EQ(c->gpio_ad_info_list->no_of_gpio_info, 0);
  EXPECT_EQ(err, "");
}

// A missing file, and a directory in the recipe's place (which iniparser itself would take for
// an empty file).
TEST_F(FlashIni, UnloadableFileIsReported) {
  std::filesystem::create_directory(path("dir.ini"));
  for (const char *name : {"absent.ini", "dir.ini"}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(flashini_parse_file(path(name).c_str()), nullptr) << name;
    std::string err = testing::internal::GetCapturedStderr();
    std::string line = "cannot parse file: " + path(name) + "\n";
    ASSERT_GE(err.size(), line.size()) << name;  // iniparser may say why before it
    EXPECT_EQ(err.substr(err.size() - line.size()), line) << name;
  }
}

TEST_F(FlashIni, RunOptionsAndSettings) {
  auto c = parse(
      "[misc]\nloop_test = 1\nlogging = 1\nreboot = 2\nsync_pc_time = 1\ncrc = no\n"
      "init_nand_flash_bbm = 0\nbbm_reloc = 0x80000\nbbm_reloc_end = 010\nnum_of_chip_select = 2\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->loop_test, 1);
  EXPECT_EQ(c->logging, 1);
  EXPECT_EQ(c->reboot, 2);
  EXPECT_EQ(c->sync_pc_time, 1);
  EXPECT_EQ(c->enable_crc, 0);
  EXPECT_EQ(c->init_bbm_method, 0);
  EXPECT_EQ(c->bbm_reloc_addr, 524288);  // hexadecimal
  EXPECT_EQ(c->bbm_reloc_end_addr, 8);   // octal
  EXPECT_EQ(c->num_of_chip_select, 2);
}

TEST_F(FlashIni, ListsInOrder) {
  write("a.bin", "x");
  auto c = parse(
      "[gpio_bd]\ntotal=2\n[gpio_bd1]\ngpio=5\nvalue=1\n[gpio_bd2]\ngpio=6\nvalue=0\n"
      "[gpio_ad]\ntotal=1\n[gpio_ad1]\ngpio=7\nvalue=1\n"
      "[erase]\ntotal=1\n[erase1]\nnand_loc=0x100000\nnand_loc_end=0x200000\n"
      "[map]\ntotal=1\n[map1]\nfilename=" + path("a.bin") +
      "\ndesc=Write A\nwith_oob=1\nnand_loc=0x20000\nnand_loc_end=0x40000\n");
  ASSERT_TRUE(c);
  ASSERT_EQ(c->gpio_bd_info_list->no_of_gpio_info, 2);
  EXPECT_EQ(c->gpio_bd_info_list->info[1].gpio, 6);
  EXPECT_EQ(c->gpio_bd_info_list->info[1].value, 0);
  ASSERT_EQ(c->gpio_ad_info_list->no_of_gpio_info, 1);
  EXPECT_EQ(c->gpio_ad_info_list->info[0].gpio, 7);
  ASSERT_EQ(c->erase_info_list->no_of_erase_info, 1);
  EXPECT_EQ(c->erase_info_list->info[0].nand_loc_start, 0x100000u);
  EXPECT_EQ(c->erase_info_list->info[0].nand_loc_end, 0x200000u);
  ASSERT_EQ(c->partition_info_list->no_of_partition_info, 1);
  const flashini_partition_info &p = c->partition_info_list->info[0];
  EXPECT_EQ(std::string(p.filename), path("a.bin"));
  EXPECT_EQ(std::string(p.original_filename), path("a.bin"));
  EXPECT_STREQ(p.desc, "Write A");
  EXPECT_EQ(p.image_with_oob, 1);
  EXPECT_EQ(p.nand_loc_start, 0x20000u);
  EXPECT_EQ(p.nand_loc_end, 0x40000u);
  EXPECT_EQ(p.offset_in_file, 0);
  EXPECT_EQ(p.file_size, 0);
}

// Every way a list entry can be incomplete fails the parse silently.
TEST_F(FlashIni, IncompleteEntriesFailSilently) {
  const char *cases[] = {
      "[map]\ntotal=2\n[map1]\nfilename=a\ndesc=A\nnand_loc=0\nnand_loc_end=1\n"
      "[map2]\nfilename=b\nnand_loc=0\nnand_loc_end=1\n",                        // desc of 2 missing
      "[map]\ntotal=1\n[map1]\ndesc=A\nnand_loc=0\nnand_loc_end=1\n",             // no filename
      "[map]\ntotal=1\n[map1]\nfilename=a\ndesc=A\nnand_loc=0\n",                 // no end
      "[map]\ntotal=1\n[map1]\nfilename=a\ndesc=A\nnand_loc=-1\nnand_loc_end=1\n",// -1 counts as absent
      "[gpio_bd]\ntotal=1\n[gpio_bd1]\ngpio=3\nvalue=-1\n",                       // level -1
      "[gpio_ad]\ntotal=1\n[gpio_ad1]\nvalue=1\n",                                // no gpio
      "[erase]\ntotal=2\n[erase1]\nnand_loc=0\nnand_loc_end=1\n",                 // entry 2 missing
      "[erase]\ntotal=2147483647\n",                                             // cannot be filled
  };
  for (const char *text : cases) {
    EXPECT_FALSE(parse(text)) << text;
    EXPECT_EQ(err, "") << text;
  }
}

TEST_F(FlashIni, SkipOnlyWhenFileIsMissing) {
  write("present.bin", "data");
  auto c = parse("[map]\ntotal=2\n"
                 "[map1]\nfilename=" + path("present.bin") + "\ndesc=P\nskip_flash_if_file_not_exist=1\n"
                 "nand_loc=0\nnand_loc_end=0x20000\n"
                 "[map2]\nfilename=" + path("gone.bin") + "\ndesc=G\nskip_flash_if_file_not_exist=1\n"
                 "nand_loc=0x20000\nnand_loc_end=0x40000\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->partition_info_list->info[0].skip_flash, 0);
  EXPECT_EQ(c->partition_info_list->info[1].skip_flash, 1);
}

// iniparser reads lines of up to 1,023 characters, so the 4,095-character cut of file names is
// reached only through a package (see the reader's tests); descriptions are cut here.
TEST_F(FlashIni, LongTextsAreCut) {
  std::string name(1000, 'n'), desc(300, 'd');
  auto c = parse("[map]\ntotal=1\n[map1]\nfilename=" + name + "\ndesc=" + desc +
                 "\nnand_loc=0\nnand_loc_end=1\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(std::string(c->partition_info_list->info[0].filename), name);
  EXPECT_EQ(std::string(c->partition_info_list->info[0].desc), desc.substr(0, 255));
}

TEST_F(FlashIni, ZeroOrNegativeTotalGivesEmptyList) {
  for (const char *total : {"0", "-5"}) {
    auto c = parse(std::string("[map]\ntotal=") + total + "\n[erase]\ntotal=" + total + "\n");
    ASSERT_TRUE(c) << total;
    EXPECT_EQ(c->partition_info_list->no_of_partition_info, 0);
    EXPECT_EQ(c->erase_info_list->no_of_erase_info, 0);
  }
}

// With a package, a zero or negative total keeps the package's entries: never fewer, never a
// negative count.
TEST_F(FlashIni, ZeroOrNegativeTotalKeepsPackageEntries) {
  onefi_builder b;
  b.image("a.bin", "A", "AAAA", 0, 0x20000).erase(1, 2).erase(3, 4)
      .gpio(ONEFI_GPIO_BD, 5, 1).gpio(ONEFI_GPIO_AD, 6, 0);
  std::string pkg = onefi(b);
  for (const char *total : {"0", "-1", "-2147483648"}) {
    std::string t = std::string("total=") + total + "\n";
    auto c = parse("[map]\n1fi_file=" + pkg + "\n" + t + "[erase]\n" + t + "[gpio_bd]\n" + t +
                   "[gpio_ad]\n" + t);
    ASSERT_TRUE(c) << total << err;
    EXPECT_EQ(c->partition_info_list->no_of_partition_info, 1) << total;
    EXPECT_EQ(c->erase_info_list->no_of_erase_info, 2) << total;
    EXPECT_EQ(c->erase_info_list->info[1].nand_loc_start, 3u) << total;
    EXPECT_EQ(c->gpio_bd_info_list->no_of_gpio_info, 1) << total;
    EXPECT_EQ(c->gpio_ad_info_list->no_of_gpio_info, 1) << total;
  }
}

TEST_F(FlashIni, OneFileImageFillsSettingsAndLists) {
  onefi_builder b;
  b.image("obm.bin", "Write OBM", "OBMDATA", 0x20000, 0x40000)
      .erase(0x100000, 0x200000)
      .gpio(ONEFI_GPIO_BD, 12, 1)
      .image("kernel.img", "Write kernel", "KERNEL-DATA", 0x40000, 0x80000, 1)
      .gpio(ONEFI_GPIO_AD, 13, 0)
      .erase(0x300000, 0x400000);
  b.sections.push_back(onefi_builder::blank(7));  // unknown type: skipped
  std::string pkg = onefi(b);
  auto c = parse("[map]\n1fi_file=" + pkg + "\n");
  ASSERT_TRUE(c) << err;
  EXPECT_EQ(c->enable_crc, 1);
  EXPECT_EQ(c->init_bbm_method, 2);
  EXPECT_EQ(c->bbm_reloc_addr, 0x100000);
  EXPECT_EQ(c->bbm_reloc_end_addr, 0x200000);
  EXPECT_EQ(c->num_of_chip_select, -1);
  EXPECT_EQ(std::string(c->creationtime, 12), "201003040506");
  EXPECT_STREQ(c->one_file_image_description, "2.1");
  EXPECT_EQ(std::string(c->one_file_image), pkg);

  ASSERT_EQ(c->partition_info_list->no_of_partition_info, 2);
  const flashini_partition_info &a = c->partition_info_list->info[0];
  const flashini_partition_info &k = c->partition_info_list->info[1];
  EXPECT_STREQ(a.original_filename, "obm.bin");
  EXPECT_EQ(std::string(a.filename), pkg);
  EXPECT_STREQ(k.desc, "Write kernel");
  EXPECT_EQ(k.image_with_oob, 1);
  EXPECT_EQ(a.file_size, 7);
  EXPECT_EQ(k.file_size, 11);
  EXPECT_EQ(k.offset_in_file, a.offset_in_file + 7);
  EXPECT_EQ(a.offset_in_file, ONEFI_HEADER_SIZE + 7 * ONEFI_SECTION_SIZE);
  ASSERT_EQ(c->erase_info_list->no_of_erase_info, 2);
  EXPECT_EQ(c->erase_info_list->info[1].nand_loc_start, 0x300000u);
  ASSERT_EQ(c->gpio_bd_info_list->no_of_gpio_info, 1);
  EXPECT_EQ(c->gpio_bd_info_list->info[0].gpio, 12);
  ASSERT_EQ(c->gpio_ad_info_list->no_of_gpio_info, 1);
  EXPECT_EQ(c->gpio_ad_info_list->info[0].gpio, 13);
}

TEST_F(FlashIni, RecipeOverridesOneFileImageAndAppends) {
  onefi_builder b;
  b.erase(0x100000, 0x200000).erase(0x200000, 0x300000);
  std::string pkg = onefi(b);
  auto c = parse("[misc]\ncrc=no\ninit_nand_flash_bbm=1\nnum_of_chip_select=1\n"
                 "[map]\n1fi_file=" + pkg + "\n[erase]\ntotal=1\n[erase1]\nnand_loc=0x500000\n"
                 "nand_loc_end=0x600000\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->enable_crc, 0);
  EXPECT_EQ(c->init_bbm_method, 1);
  EXPECT_EQ(c->num_of_chip_select, 1);
  EXPECT_EQ(c->bbm_reloc_addr, 0x100000);  // not in the recipe: the package's value stays
  ASSERT_EQ(c->erase_info_list->no_of_erase_info, 3);
  EXPECT_EQ(c->erase_info_list->info[0].nand_loc_start, 0x100000u);
  EXPECT_EQ(c->erase_info_list->info[1].nand_loc_start, 0x200000u);
  EXPECT_EQ(c->erase_info_list->info[2].nand_loc_start, 0x500000u);
}

// A CRC value that is not a boolean keeps the package's value.
TEST_F(FlashIni, CrcKeyThatIsNotBooleanKeepsPackageValue) {
  onefi_builder b;
  b.header.enable_crc_download = 0;
  std::string pkg = onefi(b);
  const struct {
    const char *value;
    int crc;
  } cases[] = {{"yes", 1}, {"True", 1}, {"1", 1}, {"maybe", 0}, {"x", 0}};
  for (const auto &k : cases) {
    auto c = parse(std::string("[misc]\ncrc=") + k.value + "\n[map]\n1fi_file=" + pkg + "\n");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->enable_crc, k.crc) << k.value;
  }
  b.header.enable_crc_download = 1;
  pkg = onefi(b);
  auto c = parse("[misc]\ncrc=nope\n[map]\n1fi_file=" + pkg + "\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->enable_crc, 0);
}

TEST_F(FlashIni, EmptyPackageStillTakesRecipeEntries) {
  std::string pkg = onefi(onefi_builder());
  auto c = parse("[map]\n1fi_file=" + pkg + "\n[gpio_bd]\ntotal=1\n[gpio_bd1]\ngpio=1\nvalue=1\n");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->partition_info_list->no_of_partition_info, 0);
  EXPECT_EQ(c->gpio_bd_info_list->no_of_gpio_info, 1);
}

}  // namespace
