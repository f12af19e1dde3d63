// The agent's board on the TAVOR processor. Registers, memory and the reset watchdogs are
// reached directly; the controller drivers (NAND controller, I2C, USB device controller, debug
// UART) are not built yet for the real processor and answer as absent, so the agent stops
// rather than pretend: see docs/agent.md.
#pragma once

#include "board.h"

namespace agent {

class tavor_board final : public board {
 public:
  constexpr tavor_board() = default;

  bool usb_start() override;
  int usb_receive(uint8_t *packet) override;
  bool usb_send(const uint8_t *packet, uint32_t length) override;
  int nand_read_id(uint32_t cs, nand_id *id) override;
  int nand_erase_block(uint32_t cs, uint32_t block) override;
  int nand_program_page(uint32_t cs, uint32_t page, const uint8_t *data, uint32_t data_length,
                        const uint8_t *spare, uint32_t spare_length) override;
  int nand_read_page(uint32_t cs, uint32_t page, uint8_t *data, uint32_t data_length, uint8_t *spare,
                     uint32_t spare_length, bool ecc) override;
  uint8_t *memory(uint32_t address, uint32_t length) override;
  uint32_t reg_read(uint32_t address) override;
  void reg_write(uint32_t address, uint32_t value) override;
  bool i2c_pin_setup() override;
  int i2c_write(uint8_t bus_address, const uint8_t *bytes, uint32_t count) override;
  int i2c_read(uint8_t bus_address, uint8_t *bytes, uint32_t count) override;
  void i2c_reset() override;
  void trace(const char *text) override;
  void halt() override;
};

}  // namespace agent
