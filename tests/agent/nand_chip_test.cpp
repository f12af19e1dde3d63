// The bench's NAND chip model: geometry, programming rules, contents in a file, failures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "nand_chip.h"

namespace {

std::unique_ptr<sim::nand_chip> open_chip(const sim::nand_config &c) {
  std::string error;
  auto chip = sim::nand_chip::open(c, &error);
  EXPECT_TRUE(chip) << error;
  return chip;
}

sim::nand_config small() {
  sim::nand_config c;
  c.id[1] = 0xE6;
  return c;
}

}  // namespace

TEST(NandChip, GeometryFromIdBytes) {
  struct {
    uint8_t device, fourth;
    uint32_t page, spare, pages, blocks;
  } cases[] = {{0xE6, 0, 512, 16, 32, 512}, {0xF1, 0x95, 2048, 64, 64, 1024}, {0xDA, 0x96, 4096, 64, 64, 1024}};
  for (auto c : cases) {
    uint8_t id[5] = {0xEC, c.device, 0, c.fourth, 0};
    sim::nand_geometry g;
    ASSERT_TRUE(sim::geometry_from_id(id, &g));
    EXPECT_EQ(g.page_size, c.page);
    EXPECT_EQ(g.spare_size, c.spare);
    EXPECT_EQ(g.pages_per_block, c.pages);
    EXPECT_EQ(g.blocks, c.blocks);
  }
  uint8_t unknown[5] = {0xEC, 0x01, 0, 0, 0};
  sim::nand_geometry g;
  EXPECT_FALSE(sim::geometry_from_id(unknown, &g));
}

TEST(NandChip, ProgrammingClearsBitsOnlyAndEraseRestores) {
  auto chip = open_chip(small());
  std::vector<uint8_t> a(512, 0xF0), b(512, 0x3C), out(512), spare(16);
  uint8_t s[4] = {1, 2, 3, 4};
  ASSERT_EQ(chip->program(0, 40, a.data(), 512, s, 4), 0);
  ASSERT_EQ(chip->program(0, 40, b.data(), 512, nullptr, 0), 0);
  ASSERT_EQ(chip->read(0, 40, out.data(), 512, spare.data(), 16), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(512, 0x30));
  EXPECT_EQ(spare[2], 3);
  EXPECT_EQ(spare[5], 0xFF);
  ASSERT_EQ(chip->erase(0, 1), 0);
  ASSERT_EQ(chip->read(0, 40, out.data(), 512, nullptr, 0), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(512, 0xFF));
  EXPECT_EQ(chip->program(0, 40, a.data(), 100, nullptr, 0), -1);  // not a page
  EXPECT_EQ(chip->erase(1, 0), -1);                                // no second chip select
}

TEST(NandChip, ContentsSurviveInTheirFile) {
  std::string file = ::testing::TempDir() + "nand_chip_" + std::to_string(getpid());
  sim::nand_config c = small();
  c.file = file;
  c.factory_bad_blocks = {7};
  std::vector<uint8_t> page(512, 0x5A), out(512), spare(16);
  {
    auto chip = open_chip(c);
    ASSERT_EQ(chip->program(0, 3, page.data(), 512, nullptr, 0), 0);
  }
  {
    auto chip = open_chip(c);
    ASSERT_EQ(chip->read(0, 3, out.data(), 512, nullptr, 0), 0);
    EXPECT_EQ(out, page);
    ASSERT_EQ(chip->read(0, 7 * 32 + 1, nullptr, 0, spare.data(), 16), 0);
    EXPECT_EQ(spare, std::vector<uint8_t>(16, 0));  // the factory mark
    EXPECT_EQ(chip->erase(0, 7), -2);
  }
  c.id[1] = 0xF1;  // another geometry does not fit the file
  std::string error;
  EXPECT_FALSE(sim::nand_chip::open(c, &error));
  EXPECT_NE(error.find("geometry"), std::string::npos);
  unlink(file.c_str());
}

TEST(NandChip, InjectedFailures) {
  auto chip = open_chip(small());
  std::vector<uint8_t> page(512, 0);
  sim::nand_fault on_block;
  on_block.op = sim::nand_op::erase;
  on_block.blocks = {5};
  chip->inject(on_block);
  EXPECT_EQ(chip->erase(0, 5), -2);
  EXPECT_EQ(chip->erase(0, 6), 0);

  sim::nand_fault after;
  after.op = sim::nand_op::program;
  after.after_ops = 2;
  chip->inject(after);
  EXPECT_EQ(chip->program(0, 0, page.data(), 512, nullptr, 0), 0);
  EXPECT_EQ(chip->program(0, 1, page.data(), 512, nullptr, 0), 0);
  EXPECT_EQ(chip->program(0, 64, page.data(), 512, nullptr, 0), -2);  // the third, in block 2
  EXPECT_EQ(chip->program(0, 65, page.data(), 512, nullptr, 0), -2);  // block 2 is worn out now
  EXPECT_EQ(chip->erase(0, 2), -2);
  EXPECT_EQ(chip->program(0, 96, page.data(), 512, nullptr, 0), 0);

  chip->clear_faults();
  auto pattern_of = [&](uint32_t seed) {
    auto c2 = open_chip(small());
    sim::nand_fault random;
    random.op = sim::nand_op::read;
    random.per_million = 300000;
    random.seed = seed;
    c2->inject(random);
    std::vector<int> r;
    for (uint32_t p = 0; p < 64; ++p) r.push_back(c2->read(0, p, page.data(), 512, nullptr, 0));
    return r;
  };
  auto first = pattern_of(42);
  EXPECT_EQ(first, pattern_of(42));
  EXPECT_NE(std::count(first.begin(), first.end(), -2), 0);
  EXPECT_NE(std::count(first.begin(), first.end(), 0), 0);
}

TEST(NandChip, HealingRestoresWornBlocksButNotFactoryBadOnes) {
  auto config = small();
  config.factory_bad_blocks = {7};
  auto chip = open_chip(config);
  sim::nand_fault on_block;
  on_block.op = sim::nand_op::erase;
  on_block.blocks = {5};
  chip->inject(on_block);
  EXPECT_EQ(chip->erase(0, 5), -2);
  chip->clear_faults();
  EXPECT_EQ(chip->erase(0, 5), -2);  // worn out for good...
  chip->heal();
  EXPECT_EQ(chip->erase(0, 5), 0);  // ...until healed
  EXPECT_EQ(chip->erase(0, 7), -2);  // a factory bad block stays bad
}
