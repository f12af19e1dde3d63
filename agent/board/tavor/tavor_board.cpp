// The TAVOR board. What the processor's manual must confirm before a driver exists answers as
// absent; the trace goes to a ring in SRAM (readable over JTAG) until the UART driver exists.
#include "tavor_board.h"

namespace agent {

namespace {

constexpr uint32_t trace_ring = 0x5C008000;  // 4 KiB below the flags words
constexpr uint32_t trace_ring_size = 0xF00;

struct ram_window {
  uint32_t base, size;
};
// RAM the host may address: SRAM, and DDR above the image's copy and its table.
constexpr ram_window ram[] = {{0x5C000000, 0x00100000}, {0x80100000, 0x3FF00000}};

}  // namespace

bool tavor_board::usb_start() { return false; }  // USB device controller: not built yet
int tavor_board::usb_receive(uint8_t *) { return -1; }
bool tavor_board::usb_send(const uint8_t *, uint32_t) { return false; }

int tavor_board::nand_read_id(uint32_t, nand_id *) { return -1; }  // NAND controller: not built yet
int tavor_board::nand_erase_block(uint32_t, uint32_t) { return -1; }
int tavor_board::nand_program_page(uint32_t, uint32_t, const uint8_t *, uint32_t, const uint8_t *, uint32_t) {
  return -1;
}
int tavor_board::nand_read_page(uint32_t, uint32_t, uint8_t *, uint32_t, uint8_t *, uint32_t, bool) { return -1; }

uint8_t *tavor_board::memory(uint32_t address, uint32_t length) {
  for (const ram_window &w : ram)
    if (address >= w.base && address - w.base <= w.size && length <= w.size - (address - w.base))
      return reinterpret_cast<uint8_t *>(address);
  return nullptr;
}

uint32_t tavor_board::reg_read(uint32_t address) { return *reinterpret_cast<volatile uint32_t *>(address); }
void tavor_board::reg_write(uint32_t address, uint32_t value) {
  *reinterpret_cast<volatile uint32_t *>(address) = value;
}

bool tavor_board::i2c_pin_setup() { return false; }  // I2C controller and pins: not built yet
int tavor_board::i2c_write(uint8_t, const uint8_t *, uint32_t) { return -1; }
int tavor_board::i2c_read(uint8_t, uint8_t *, uint32_t) { return -1; }
void tavor_board::i2c_reset() {}

void tavor_board::trace(const char *text) {
  volatile uint32_t *head = reinterpret_cast<volatile uint32_t *>(trace_ring);
  volatile char *ring = reinterpret_cast<volatile char *>(trace_ring + 4);
  for (; *text; ++text) {
    uint32_t h = *head % trace_ring_size;
    ring[h] = *text;
    *head = h + 1;
  }
}

void tavor_board::halt() {
  for (;;) {
  }
}

}  // namespace agent
