// The agent core on the bench's board, driven by host traffic as the station sends it.
#include <gtest/gtest.h>

#include "agent_host.h"
#include "registers.h"
#include "util/crc16.h"

using namespace agent;
using agent_test::le32;
using agent_test::rig;
using agent_test::stream;

namespace {

constexpr uint32_t kBlock = 131072;  // the default chip: 2 KiB pages, 64 a block, 1024 blocks

sim::nand_config small_page() {
  sim::nand_config c;
  c.id[1] = 0xE6;  // 8 MiB, 512-byte pages, 32 a block, 512 blocks
  return c;
}

// NAND initialised, relocation area [first, end) in blocks, a used-flash BBM built.
void prepare(rig &r, uint32_t first, uint32_t end, uint32_t block = kBlock) {
  r.command(init_nand_flash_command);
  r.command(nand_flash_bbm_reloc_area_command, {first * block, end * block});
  ASSERT_EQ(stream(r.command(init_mvl_bbm_used_flash_command)).back(), 'D');
}

void stage(rig &r, uint32_t address, const std::vector<uint8_t> &data) {
  r.command(set_len_command, {uint32_t(data.size())});
  r.command(set_addr_command, {address});
  r.word(send_data_command);
  r.out(data.data(), data.size());
  r.serve();
}

std::string write_flash(rig &r, uint32_t from, uint32_t to, uint32_t size, uint32_t oob = 0) {
  return stream(r.command(write_flash_command, {reg::staging_buffer, from, to, size, 1, oob, 1, 0}));
}

std::string erase_flash(rig &r, uint32_t from, uint32_t to, uint32_t use_bbm = 1) {
  return stream(r.command(erase_flash_command, {from, to, use_bbm}));
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + seed + (i >> 9));
  return v;
}

}  // namespace

TEST(AgentTransfer, AckEchoAndCrcOfNothing) {
  rig r;
  auto in = r.command(ack_command);
  ASSERT_EQ(in.size(), 4u);
  EXPECT_EQ(le32(in, 0), ack_command);
  in = r.command(get_crc_command);
  ASSERT_EQ(in.size(), 4u);
  EXPECT_EQ(le32(in, 0), 0xFFFFu);
}

TEST(AgentTransfer, DataRoundTripWithCrcAndAckBetweenSteps) {
  rig r;
  auto data = pattern(65537, 3);
  r.command(set_len_command, {65537});
  r.command(set_addr_command, {0x5C010000});
  EXPECT_EQ(le32(r.command(ack_command), 0), ack_command);
  r.word(send_data_command);
  r.out(data.data(), data.size());
  r.serve();
  EXPECT_EQ(le32(r.command(get_crc_command), 0), crc16(data.data(), data.size()));
  EXPECT_EQ(r.command(get_data_command), data);
  EXPECT_EQ(r.core->current_address(), 0x5C010000u);
  EXPECT_EQ(r.core->current_length(), 65537u);
}

TEST(AgentTransfer, OutsideRamIsDroppedAndFailsTheCrc) {
  rig r;
  r.command(set_len_command, {16});
  r.command(set_addr_command, {0x10000000});
  r.word(send_data_command);
  r.out(std::vector<uint8_t>(16, 1).data(), 16);
  r.serve();
  EXPECT_EQ(le32(r.command(get_crc_command), 0), 0xFFFFFFFFu);
  EXPECT_EQ(r.command(get_data_command), std::vector<uint8_t>(16, 0));
  EXPECT_FALSE(r.core->stopped());
}

TEST(AgentTransfer, PacketLongerThanTheItemStopsForGood) {
  rig r;
  uint8_t eight[8] = {0x02, 0x55, 0xFF, 0xAA, 1, 0, 0, 0};  // command word and length in one packet
  r.board->host_out(eight, 8);
  r.word(ack_command);
  EXPECT_TRUE(r.serve().empty());
  EXPECT_TRUE(r.board->halted());
  EXPECT_EQ(r.board->trace_lines().back(), "read usb size not expected! expected 4 got 8");
}

TEST(AgentTransfer, UnknownWordIsTracedAndIgnored) {
  rig r;
  r.word(0x12345678);
  EXPECT_EQ(le32(r.command(ack_command), 0), ack_command);
  EXPECT_EQ(r.board->trace_lines().back(), "Unknown command received 12345678");
}

TEST(AgentDevice, GpioBanks) {
  struct {
    uint32_t gpio, value, bank, bit_register;
  } cases[] = {
      {0, 1, 0x40E00000, 0x40E00018},  {33, 0, 0x40E00004, 0x40E00028},
      {95, 1, 0x40E00008, 0x40E00020}, {96, 1, 0x40E00100, 0x40E00118},
      {191, 1, 0x40E00108, 0x40E00120},
      {191, 0, 0x40E00108, 0x40E0012C},
  };
  for (auto c : cases) {
    rig r;
    r.command(set_gpio_command, {c.gpio, c.value});
    auto regs = r.board->registers().registers;
    uint32_t bit = 1u << (c.gpio % 32);
    EXPECT_EQ(regs[c.bit_register], bit) << c.gpio;
    EXPECT_EQ(regs[c.bank + 0x0C], bit) << c.gpio;
  }
}

TEST(AgentDevice, Gpio192StopsForGood) {
  rig r;
  r.command(set_gpio_command, {192, 1});
  EXPECT_TRUE(r.board->halted());
  EXPECT_EQ(r.board->trace_lines().back(), "wrong gpio number");
  EXPECT_TRUE(r.command(ack_command).empty());
}

TEST(AgentDevice, ClockBothWays) {
  rig r;
  // 1 March 2024, 13:05:09, a Friday.
  r.command(write_rtc_command, {124, 2, 1, 5, 13, 5, 9});
  auto regs = r.board->registers().registers;
  EXPECT_EQ(regs[reg::rtc_rycr], (2024u << 9) | (3u << 5) | 1u);
  EXPECT_EQ(regs[reg::rtc_rdcr], (5u << 17) | (13u << 12) | (5u << 6) | 9u);
  auto in = r.command(read_rtc_command);
  ASSERT_EQ(in.size(), 28u);
  uint32_t expected[7] = {124, 2, 1, 5, 13, 5, 9};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(le32(in, 4 * i), expected[i]) << i;
}

TEST(AgentDevice, PmicRegistersRetryAfterBusFailures) {
  rig r;
  r.board->fail_i2c(3);
  r.command(write_micco_data_command, {0x00004A20});  // addr 0x20, data 0x4A
  auto in = r.command(read_micco_data_command, {0x20});
  ASSERT_EQ(in.size(), 4u);
  EXPECT_EQ(in[0], 0x4A);
}

TEST(AgentDevice, Resets) {
  rig soft;
  soft.command(reset_command);
  EXPECT_EQ(soft.board->reset_requested(), reset_kind::soft);
  EXPECT_EQ(soft.board->trace_lines().back(), "Soft reset, enable tavor watchdog ...");
  rig hard;
  hard.command(hard_reset_command);
  EXPECT_EQ(hard.board->reset_requested(), reset_kind::hard);
  EXPECT_EQ(hard.board->registers().pmic[0x0B] & 0x84, 0x84);
}

TEST(AgentNand, InitOnBlankFlashFindsNoTable) {
  rig r;
  EXPECT_EQ(stream(r.command(init_nand_flash_command)),
            "T1 'Cannot find Marvel bad block management table in block 0\n' E2");
  auto info = r.command(get_nand_flash_info_command);
  ASSERT_EQ(info.size(), 28u);
  uint32_t expected[7] = {0xEC, 0xF1, 1024, 2048, kBlock, 64, 8};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(le32(info, 4 * i), expected[i]) << i;
  EXPECT_EQ(r.core->nand().bbm_state, bbm_state_clean);
}

TEST(AgentNand, GeometryFromIdBytes) {
  struct {
    uint8_t device, fourth;
    uint32_t chips, page, block, oob, blocks;
  } cases[] = {
      {0xE6, 0x00, 1, 512, 16384, 16, 512},  {0xF1, 0x95, 1, 2048, 131072, 64, 1024},
      {0xF1, 0x95, 2, 2048, 131072, 64, 1024}, {0xDA, 0x96, 1, 4096, 262144, 64, 1024},
  };
  for (auto c : cases) {
    sim::nand_config config;
    config.id[1] = c.device;
    config.id[3] = c.fourth;
    config.chip_selects = c.chips;
    rig r(config);
    r.command(init_nand_flash_command);
    const nand_record &n = r.core->nand();
    EXPECT_EQ(n.page_size, c.page);
    EXPECT_EQ(n.block_size, c.block);
    EXPECT_EQ(n.oob_size, c.oob);
    EXPECT_EQ(n.no_of_blocks, c.blocks);
    EXPECT_EQ(n.chip_selects, c.chips);
  }
}

TEST(AgentNand, ChipSelectCountIsOverridden) {
  rig r(small_page());
  r.command(init_nand_flash_command);
  EXPECT_EQ(r.core->nand().chip_selects, 1u);
  r.command(nand_flash_para_command, {2});
  EXPECT_EQ(r.core->nand().chip_selects, 2u);
}

TEST(AgentBbm, UsedFlashBuilderReportsAndIsFoundAgain) {
  rig r(small_page());
  r.command(init_nand_flash_command);
  r.command(nand_flash_bbm_reloc_area_command, {480 * 16384, 512 * 16384});
  std::string s = stream(r.command(init_mvl_bbm_used_flash_command));
  EXPECT_EQ(s.substr(0, 9), "T512 P15 ");
  EXPECT_NE(s.find("P495 D"), std::string::npos);
  EXPECT_EQ(stream(r.command(init_nand_flash_command)),
            "T1 'Number of bad blocks in BBM: 0x00000000\r\n' P1 D");
}

TEST(AgentBbm, UsedFlashBuilderRelocatesBadBlocks) {
  sim::nand_config c = small_page();
  c.factory_bad_blocks = {7, 300};
  rig r(c);
  prepare(r, 480, 512, 16384);
  EXPECT_EQ(r.core->table().count, 2);
  EXPECT_EQ(r.core->map_block(7), 511u);
  EXPECT_EQ(r.core->map_block(300), 510u);
  EXPECT_EQ(stream(r.command(init_nand_flash_command)),
            "T1 'Number of bad blocks in BBM: 0x00000002\r\n' P1 D");
}

TEST(AgentBbm, BlankFlashBuilderTrustsFactoryMarks) {
  sim::nand_config c;
  c.factory_bad_blocks = {5, 9};
  rig r(c);
  r.command(init_nand_flash_command);
  r.command(nand_flash_bbm_reloc_area_command, {1000 * kBlock, 1024 * kBlock});
  std::string s = stream(r.command(init_mvl_bbm_nake_flash_command));
  EXPECT_EQ(s.substr(0, 10), "T1024 P15 ");
  EXPECT_EQ(s.substr(s.size() - 7), "P1007 D");
  EXPECT_EQ(r.core->map_block(5), 1023u);
  EXPECT_EQ(r.core->map_block(9), 1022u);
}

TEST(AgentBbm, BuildersFailWithTheirCodes) {
  for (uint32_t command : {init_mvl_bbm_used_flash_command, init_mvl_bbm_nake_flash_command}) {
    sim::nand_config c = small_page();
    c.factory_bad_blocks = {3, 4, 5};
    rig r(c);
    r.command(init_nand_flash_command);
    r.command(nand_flash_bbm_reloc_area_command, {510 * 16384, 512 * 16384});  // room for two
    std::string s = stream(r.command(command));
    std::string code = command == init_mvl_bbm_used_flash_command ? "E5" : "E4";
    EXPECT_EQ(s, "T512 'Too many bad blocks or block 0 write failed\n' " + code);
  }
}

TEST(AgentBbm, RelocationTakesFromTheTopFollowsChainsAndFillsUp) {
  rig r;
  prepare(r, 1020, 1024);
  sim::nand_fault f;
  f.op = sim::nand_op::program;
  f.blocks = {3};
  r.nand->inject(f);
  stage(r, reg::staging_buffer, pattern(kBlock, 1));
  EXPECT_EQ(write_flash(r, 3 * kBlock, 4 * kBlock, kBlock), "T1 P1 D");
  EXPECT_EQ(r.core->map_block(3), 1023u);
  EXPECT_EQ(r.core->nand().bbm_state, bbm_state_dirty);

  // The replacement fails in turn: the entry for 3 moves on, 1023 is entered with 0xFFFF.
  f.blocks = {1023};
  r.nand->inject(f);
  EXPECT_EQ(write_flash(r, 3 * kBlock, 4 * kBlock, kBlock), "T1 P1 D");
  EXPECT_EQ(r.core->map_block(3), 1022u);
  const bbm_table &t = r.core->table();
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.entry[1].bad, 1023);
  EXPECT_EQ(t.entry[1].replacement, 0xFFFF);

  // Data reads back through the chain.
  r.command(read_flash_command, {reg::staging_buffer, 3 * kBlock, kBlock, 1, 0, 1, 0});
  r.command(set_len_command, {kBlock});
  r.command(set_addr_command, {reg::staging_buffer});
  EXPECT_EQ(r.command(get_data_command), pattern(kBlock, 1));

  // Two blocks left in the area (1021, 1020); the third failure finds none.
  f.blocks = {10, 11, 12};
  r.nand->inject(f);
  for (uint32_t b : {10u, 11u})
    EXPECT_EQ(write_flash(r, b * kBlock, (b + 1) * kBlock, 2048), "T1 P1 D");
  EXPECT_EQ(write_flash(r, 12 * kBlock, 13 * kBlock, 2048), "T1 'Too many bad blocks, writefailed\n' E4");
}

TEST(AgentBbm, ValidationAgainstTheArea) {
  sim::nand_config c;
  c.factory_bad_blocks = {20};
  rig r(c);
  prepare(r, 1000, 1024);  // 20 -> 1023
  EXPECT_EQ(stream(r.command(validate_nand_bbm_command)), "P1 D");
  // 511 blocks are taken: the replacement now lies outside.
  r.command(nand_flash_bbm_reloc_area_command, {400 * kBlock, 911 * kBlock});
  EXPECT_EQ(r.core->nand().reloc_last, 910u);
  EXPECT_EQ(stream(r.command(validate_nand_bbm_command)), "'Invalid mapping of blocks in BBM' E7");
  // 512 are ignored: the check still uses the previous area.
  r.command(nand_flash_bbm_reloc_area_command, {500 * kBlock, 1012 * kBlock});
  EXPECT_EQ(r.core->nand().reloc_first, 400u);
  EXPECT_EQ(stream(r.command(validate_nand_bbm_command)), "'Invalid mapping of blocks in BBM' E7");
}

TEST(AgentFlash, EraseWithoutBbmIsRefused) {
  rig r;
  prepare(r, 1000, 1024);
  EXPECT_EQ(erase_flash(r, 0x100000, 0x140000, 0),
            "T1 'Erase without bbm is currently not implemented\n' E5");
  EXPECT_EQ(erase_flash(r, 0x100000, 0x140000), "T1 P1 D");
}

TEST(AgentFlash, EraseBeforeInitFails) {
  rig r;
  EXPECT_EQ(erase_flash(r, 0, kBlock), "T1 E5");
}

// Found by fuzzing: with no geometry yet, a read or a write divided by a page size of 0.
TEST(AgentFlash, ReadAndWriteBeforeInitFail) {
  rig r;
  EXPECT_EQ(stream(r.command(read_flash_command, {reg::staging_buffer, 0x100000, 4096, 1, 0, 1, 0})),
            "T1 'Read failedFFFFFFFF\r\n' E6");
  EXPECT_EQ(write_flash(r, 0x100000, 0x140000, 4096), "T1 'Too many bad blocks, writefailed\n' E4");
}

TEST(AgentFlash, WriteReadWithSpareBytes) {
  rig r;
  prepare(r, 1000, 1024);
  const uint32_t pages = 3, record = 2048 + 64;
  auto staged = pattern(pages * record, 9);
  stage(r, reg::staging_buffer, staged);
  EXPECT_EQ(write_flash(r, 2 * kBlock, 3 * kBlock, pages * 2048, 1), "T1 P1 D");
  // Of each page's spare bytes the first 40 are programmed, the rest stay erased.
  std::vector<uint8_t> data(2048), spare(64);
  ASSERT_TRUE(r.nand->peek(2 * 64 + 1, data.data(), spare.data()));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), staged.begin() + record));
  EXPECT_TRUE(std::equal(spare.begin(), spare.begin() + 40, staged.begin() + record + 2048));
  EXPECT_EQ(std::vector<uint8_t>(spare.begin() + 40, spare.end()), std::vector<uint8_t>(24, 0xFF));
}

TEST(AgentFlash, ReadFailureSendsTheDriverResult) {
  rig r;
  prepare(r, 1000, 1024);
  sim::nand_fault f;
  f.op = sim::nand_op::read;
  f.after_ops = 1;
  r.nand->inject(f);
  EXPECT_EQ(stream(r.command(read_flash_command, {reg::staging_buffer, 0x100000, 4096, 1, 0, 1, 0})),
            "T1 'Read failedFFFFFFFE\r\n' E6");
}

TEST(AgentFlash, TextDigitsGoOutOneByOne) {
  rig r;
  prepare(r, 1000, 1024);
  auto in = r.command(init_nand_flash_command);
  // Each hex digit is a text of length 1 of its own.
  const uint8_t one_digit[] = {0x04, 0x00, 0xBB, 0xAA, 1, 0, 0, 0, 0x03, 0x00, 0xBB, 0xAA, '0'};
  int found = 0;
  for (auto it = in.begin(); (it = std::search(it, in.end(), std::begin(one_digit), std::end(one_digit))) != in.end(); ++it)
    ++found;
  EXPECT_EQ(found, 8);
}

TEST(AgentBbm, WriteBackUsesSetAsidePagesThenRotates) {
  for (bool small : {false, true}) {
    rig r(small ? small_page() : sim::nand_config{});
    uint32_t block = small ? 16384 : kBlock, page = small ? 512 : 2048, ppb = small ? 32 : 64;
    uint32_t set_aside = small ? 8 : 40, blocks = small ? 512 : 1024;
    prepare(r, blocks - 64, blocks, block);
    // A boot loader in block 0 below the set-aside pages.
    auto loader = pattern(page * 3, 5);
    stage(r, reg::staging_buffer, loader);
    EXPECT_EQ(write_flash(r, 0, block, uint32_t(loader.size())), "T1 P1 D");
    EXPECT_EQ(r.core->nand().bbm_page, ppb - 1);
    sim::nand_fault f;
    f.op = sim::nand_op::erase;
    for (uint32_t n = 0; n < set_aside + 1; ++n) f.blocks.push_back(10 + n);
    r.nand->inject(f);
    for (uint32_t n = 0; n < set_aside + 1; ++n) {
      EXPECT_EQ(erase_flash(r, (10 + n) * block, (11 + n) * block), "T1 P1 D");
      EXPECT_EQ(stream(r.command(write_mvl_bbm_command)), "T1 P1 D");
      uint32_t expected = n + 1 < set_aside ? ppb - 2 - n : n + 1 == set_aside ? ppb - 1 : ppb - 2;
      EXPECT_EQ(r.core->nand().bbm_page, expected) << n;
    }
    // The loader survived the rotation and the newest table is found again.
    std::vector<uint8_t> data(page);
    for (uint32_t p = 0; p < 3; ++p) {
      ASSERT_TRUE(r.nand->peek(p, data.data(), nullptr));
      EXPECT_TRUE(std::equal(data.begin(), data.end(), loader.begin() + p * page)) << p;
    }
    char text[80];
    std::snprintf(text, sizeof text, "T1 'Number of bad blocks in BBM: 0x%08X\r\n' P1 D", set_aside + 1);
    EXPECT_EQ(stream(r.command(init_nand_flash_command)), text);
  }
}

// A read of block 0 that fails once while the newest table is looked for must neither pick an
// older copy (its newer relocations lost) nor miss the table (a used-flash rebuild would follow).
TEST(AgentBbm, ATransientReadFailureStillFindsTheNewestTable) {
  rig r;
  prepare(r, 960, 1024);
  constexpr uint32_t copies = 6;  // after the builder's own: pages 63 down to 57
  sim::nand_fault wear;
  wear.op = sim::nand_op::erase;
  for (uint32_t n = 0; n < copies; ++n) wear.blocks.push_back(10 + n);
  r.nand->inject(wear);
  for (uint32_t n = 0; n < copies; ++n) {
    ASSERT_EQ(erase_flash(r, (10 + n) * kBlock, (11 + n) * kBlock), "T1 P1 D");
    ASSERT_EQ(stream(r.command(write_mvl_bbm_command)), "T1 P1 D");
  }
  char text[80];
  std::snprintf(text, sizeof text, "T1 'Number of bad blocks in BBM: 0x%08X\r\n' P1 D", copies);
  ASSERT_EQ(stream(r.command(init_nand_flash_command)), text);
  for (uint32_t after = 1; after <= 10; ++after) {
    sim::nand_fault f;
    f.op = sim::nand_op::read;
    f.after_ops = after;
    r.nand->clear_faults();
    r.nand->inject(f);
    EXPECT_EQ(stream(r.command(init_nand_flash_command)), text) << "read " << after << " failed";
  }
}

TEST(AgentBbm, NothingToWriteBackWhenClean) {
  rig r;
  prepare(r, 1000, 1024);
  auto before = r.nand->stats().programs;
  EXPECT_EQ(stream(r.command(write_mvl_bbm_command)), "T1 P1 D");
  EXPECT_EQ(r.nand->stats().programs, before);
}

TEST(AgentBbm, TwoChipSelectsDoubleTheBlocks) {
  sim::nand_config c = small_page();
  c.chip_selects = 2;
  c.factory_bad_blocks = {700};
  rig r(c);
  r.command(init_nand_flash_command);
  r.command(nand_flash_bbm_reloc_area_command, {960 * 16384, 1024 * 16384});
  std::string s = stream(r.command(init_mvl_bbm_used_flash_command));
  EXPECT_EQ(s.substr(0, 5), "T1024");
  EXPECT_EQ(r.core->map_block(700), 1023u);
}
