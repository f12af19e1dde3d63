// The agent's view of the handset: everything the core touches goes through this table of
// operations. One board per platform: board/sim (the handset bench) and board/tavor (the real
// processor). The core runs on one thread and calls these one at a time.
#pragma once

#include <stdint.h>

namespace agent {

struct nand_id {
  uint8_t byte[5];  // manufacturer, device, then the extended ID bytes
};

class board {
 public:
  // ---- USB device (bulk OUT 0x02 towards the agent, bulk IN 0x81 towards the host) ----

  // Waits without time-out for the next OUT packet and copies it to `packet` (room for 512
  // bytes). Returns its length (0..512), or a negative value when the link is gone for good
  // (only a bench board ever says so: the handset was reset or unplugged).
  virtual int usb_receive(uint8_t *packet) = 0;
  // Builds the descriptors, starts the device controller and waits until the host has
  // configured the device. False when the link is gone (bench only).
  virtual bool usb_start() = 0;
  // Queues one IN packet of 1..512 bytes. False when the link is gone for good.
  virtual bool usb_send(const uint8_t *packet, uint32_t length) = 0;

  // ---- NAND chip primitives. `cs` is the chip select, `page` the page within that chip. ----
  // Every call returns 0 on success or a negative driver result.

  // Resets the controller and reads the ID bytes of chip select `cs`; non-zero when nothing answers.
  virtual int nand_read_id(uint32_t cs, nand_id *id) = 0;
  virtual int nand_erase_block(uint32_t cs, uint32_t block) = 0;
  // Programs one page: `data` holds `data_length` bytes (the page size), `spare` holds
  // `spare_length` bytes put at the start of the spare area (the rest stays as erased).
  virtual int nand_program_page(uint32_t cs, uint32_t page, const uint8_t *data, uint32_t data_length,
                                const uint8_t *spare, uint32_t spare_length) = 0;
  // Reads one page's `data_length` data bytes and the first `spare_length` spare bytes; `ecc`
  // asks for the controller's hardware ECC.
  virtual int nand_read_page(uint32_t cs, uint32_t page, uint8_t *data, uint32_t data_length,
                             uint8_t *spare, uint32_t spare_length, bool ecc) = 0;

  // ---- Memory and registers ----

  // The agent RAM behind [address, address + length), or null when any of it is not RAM.
  virtual uint8_t *memory(uint32_t address, uint32_t length) = 0;
  virtual uint32_t reg_read(uint32_t address) = 0;
  virtual void reg_write(uint32_t address, uint32_t value) = 0;

  // Sets the I2C pins up at start-up; false when that fails (the agent then stops).
  virtual bool i2c_pin_setup() = 0;
  // ---- PMIC over I2C: one transfer each, 0 on success, non-zero when the bus failed ----
  virtual int i2c_write(uint8_t bus_address, const uint8_t *bytes, uint32_t count) = 0;
  virtual int i2c_read(uint8_t bus_address, uint8_t *bytes, uint32_t count) = 0;
  virtual void i2c_reset() = 0;

  // ---- Diagnostics and the end ----

  // Appends text to the developer's trace (the debug UART on the handset).
  virtual void trace(const char *text) = 0;
  // The agent stops for good. The real board never returns; the bench board records the stop
  // and returns, after which the core answers nothing more.
  virtual void halt() = 0;

 protected:
  ~board() = default;
};

}  // namespace agent
