// Running out of memory at any allocation of a parse gives null and leaks nothing.
#include <gtest/gtest.h>

#include "failing_alloc.h"
#include "libdkb/flashini_parser.h"
#include "onefi_builder.h"
#include "test_files.h"

namespace {

class FlashIniOutOfMemory : public scratch_dir_test {};

TEST_F(FlashIniOutOfMemory, EveryAllocationFailureIsCleanedUp) {
  onefi_builder b;
  b.image("a", "A", "data", 0, 0x20000).erase(1, 2).gpio(ONEFI_GPIO_BD, 1, 1).gpio(ONEFI_GPIO_AD, 2, 0);
  std::string pkg = write("pkg.1fi", b.bytes());
  std::string ini = write("flasher.ini",
                          "[map]\n1fi_file=" + pkg + "\ntotal=1\n[map1]\nfilename=x\ndesc=X\n"
                          "nand_loc=0\nnand_loc_end=1\n[erase]\ntotal=1\n[erase1]\nnand_loc=0\n"
                          "nand_loc_end=1\n[gpio_bd]\ntotal=1\n[gpio_bd1]\ngpio=3\nvalue=1\n"
                          "[gpio_ad]\ntotal=1\n[gpio_ad1]\ngpio=4\nvalue=1\n");
  long allocations = 0;
  for (long fail_at = 0;; ++fail_at) {
    failing_alloc_countdown = fail_at;
    flashini_content *c = flashini_parse_file(ini.c_str());
    bool failed = failing_alloc_countdown < 0;  // the countdown ran out: a request was refused
    failing_alloc_countdown = -1;
    if (!failed) {
      ASSERT_NE(c, nullptr);
      flashini_destroy(c);
      EXPECT_EQ(failing_alloc_live, 0);
      allocations = fail_at;
      break;
    }
    EXPECT_EQ(c, nullptr) << "allocation " << fail_at;
    EXPECT_EQ(failing_alloc_live, 0) << "allocation " << fail_at;
  }
  EXPECT_GE(allocations, 6);  // record, read buffer, four lists; and the four enlargements
}

}  // namespace
