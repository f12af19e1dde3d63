// RAM transfers with their CRC, GPIO outputs, the PMIC's registers, the clock and the resets.
#include "agent.h"
#include "bytes.h"
#include "protocol.h"
#include "registers.h"
#include "util/crc16.h"

namespace agent {

void agent_core::on_send_data() { receive_to_memory(address_, length_); }

void agent_core::on_get_data() {
  const uint8_t *from = b_->memory(address_, length_);
  if (from || !length_) {
    send(from, length_);
    return;
  }
  // Outside RAM: answer with zeros so that the host's read still completes.
  b_->trace("Transfer outside RAM, zeros sent\r\n");
  uint8_t zeros[usb_packet_size];
  fill_bytes(zeros, 0, sizeof zeros);
  for (uint32_t left = length_; left && !stopped_;) {
    uint32_t n = left < usb_packet_size ? left : usb_packet_size;
    send(zeros, n);
    left -= n;
  }
}

// A range outside RAM has no CRC; the answer is a word no CRC-16 can equal, so the host's
// check fails instead of passing by chance.
void agent_core::on_get_crc() {
  const uint8_t *from = b_->memory(address_, length_);
  if (!from && length_) {
    send_word(0xFFFFFFFF);
    return;
  }
  send_word(crc16(from, length_));
}

void agent_core::on_set_gpio() {
  uint8_t r[set_gpio_record];
  if (!receive(r, sizeof r)) return;
  uint32_t gpio = le32(r), value = le32(r + 4);
  if (gpio >= reg::gpio_count) {
    b_->trace("wrong gpio number\r\n");
    stop_for_good();
    return;
  }
  uint32_t bank = reg::gpio_bank[gpio / 32], bit = 1u << (gpio % 32);
  b_->reg_write(bank + (value ? reg::gpio_set : reg::gpio_clear), bit);
  b_->reg_write(bank + reg::gpio_direction, b_->reg_read(bank + reg::gpio_direction) | bit);
}

// Each I2C transfer is repeated until it succeeds; the controller is reset after the first failure.
template <typename Transfer>
static void until_done(board *b, const bool &stopped, Transfer transfer) {
  bool reset = false;
  while (transfer() != 0 && !stopped) {
    if (!reset) {
      b->i2c_reset();
      reset = true;
    }
  }
}

uint8_t agent_core::pmic_read(uint8_t reg) {
  uint8_t value = 0;
  until_done(b_, stopped_, [&] { return b_->i2c_write(reg::micco_write_address, &reg, 1); });
  until_done(b_, stopped_, [&] { return b_->i2c_read(reg::micco_read_address, &value, 1); });
  return value;
}

void agent_core::pmic_write(uint8_t reg, uint8_t value) {
  uint8_t bytes[2] = {reg, value};
  until_done(b_, stopped_, [&] { return b_->i2c_write(reg::micco_write_address, bytes, 2); });
}

void agent_core::on_write_micco() {
  uint8_t r[micco_record];
  if (receive(r, sizeof r)) pmic_write(r[0], r[1]);
}

void agent_core::on_read_micco() {
  uint8_t r[micco_record];
  if (!receive(r, sizeof r)) return;
  uint8_t answer[micco_record] = {pmic_read(r[0]), 0, 0, 0};
  send(answer, sizeof answer);
}

// comm_protocol_rtc: tm_year, tm_mon, tm_mday, tm_wday, tm_hour, tm_min, tm_sec.
void agent_core::on_write_rtc() {
  uint8_t r[rtc_record];
  if (!receive(r, sizeof r)) return;
  uint32_t year = le32(r), mon = le32(r + 4), mday = le32(r + 8), wday = le32(r + 12);
  uint32_t hour = le32(r + 16), min = le32(r + 20), sec = le32(r + 24);
  uint32_t rycr = (mday & 0x1F) | (((mon + 1) * 32) & 0x1E0) | ((year * 512 + 0xED800) & 0x1FFE00);
  uint32_t rdcr = (sec & 0x3F) | ((min & 0x3F) * 64) | ((hour & 0x1F) * 4096) | ((wday & 7) * 131072);
  b_->reg_write(reg::rtc_rycr, rycr);
  b_->reg_write(reg::rtc_rdcr, rdcr);
}

void agent_core::on_read_rtc() {
  uint32_t rycr = b_->reg_read(reg::rtc_rycr), rdcr = b_->reg_read(reg::rtc_rdcr);
  uint32_t field[7] = {
      ((rycr >> 9) & 0xFFF) - 1900, ((rycr >> 5) & 0xF) - 1, rycr & 0x1F, (rdcr >> 17) & 7,
      (rdcr >> 12) & 0x1F,          (rdcr >> 6) & 0x3F,      rdcr & 0x3F,
  };
  uint8_t r[rtc_record];
  for (int i = 0; i < 7; ++i) put_le32(r + 4 * i, field[i]);
  send(r, sizeof r);
}

// The PMIC's watchdog resets the whole handset, its clock included.
void agent_core::on_hard_reset() {
  b_->trace("Hard reset, enable micco watchdog, RTC will be reset also ?! ...\r\n");
  uint8_t wd = pmic_read(micco_watchdog_register);
  pmic_write(micco_watchdog_register, uint8_t(wd | 0x84));
}

void agent_core::on_soft_reset() {
  b_->trace("Soft reset, enable tavor watchdog ...\r\n");
  b_->reg_write(reg::ost_ower, reg::ost_ower_wme);
  b_->reg_write(reg::ost_osmr3, b_->reg_read(reg::ost_oscr0) + reg::soft_reset_ticks);
}

}  // namespace agent
