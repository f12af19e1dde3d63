// The command dispatcher: one 4-byte command word at a time, each with its record and answer.
#include "agent.h"
#include "bytes.h"
#include "protocol.h"

namespace agent {

void agent_core::begin(board *b) {
  b_ = b;
  stopped_ = false;
  halted_ = false;
  address_ = initial_ram_address;
  length_ = 0;
  fill_bytes(&nand_, 0, sizeof nand_);
  fill_bytes(&table_, 0, sizeof table_);
  nand_.table = &table_;
}

void agent_core::main_routine(uint32_t boot_flags) {
  b_->trace("Entered DKB\r\n");
  b_->i2c_reset();
  b_->trace("I2C initialized\r\n");
  if (!b_->i2c_pin_setup()) {
    b_->trace("setTavorI2CPinMux error\r\n");
    stop_for_good();
    return;
  }
  b_->trace("Disable Micco Watchdog reset\r\n");
  uint8_t wd = pmic_read(micco_watchdog_register);
  pmic_write(micco_watchdog_register, uint8_t((wd & ~0x04u) | 0x80u));
  b_->trace("Disable Micco Watchdog reset okay\r\n");
  if (!b_->usb_start()) {
    stopped_ = true;
    return;
  }
  if (boot_flags & 0x1Eu) b_->trace("Platform Fuses already initialized\r\n");
  run();
}

void agent_core::run() {
  while (serve_one()) {
  }
}

bool agent_core::serve_one() {
  uint32_t command;
  if (!receive_word(&command)) return false;
  dispatch(command);
  return !stopped_;
}

void agent_core::dispatch(uint32_t command) {
  uint32_t value;
  switch (command) {
    case set_len_command:
      if (receive_word(&value)) length_ = value;
      break;
    case set_addr_command:
      if (receive_word(&value)) address_ = value;
      break;
    case send_data_command: on_send_data(); break;
    case get_data_command: on_get_data(); break;
    case get_crc_command: on_get_crc(); break;
    case ack_command: send_word(ack_command); break;
    case set_gpio_command: on_set_gpio(); break;
    case write_micco_data_command: on_write_micco(); break;
    case read_micco_data_command: on_read_micco(); break;
    case write_rtc_command: on_write_rtc(); break;
    case read_rtc_command: on_read_rtc(); break;
    case hard_reset_command: on_hard_reset(); break;
    case reset_command: on_soft_reset(); break;
    case get_nand_flash_info_command: on_flash_info(); break;
    case nand_flash_para_command: on_nand_para(); break;
    case nand_flash_bbm_reloc_area_command: on_reloc_area(); break;
    case init_nand_flash_command: on_init_nand(); break;
    case init_mvl_bbm_nake_flash_command: on_build_blank(); break;
    case init_mvl_bbm_used_flash_command: on_build_used(); break;
    case validate_nand_bbm_command: on_validate(); break;
    case erase_flash_command: on_erase(); break;
    case write_flash_command: on_write(); break;
    case read_flash_command: on_read(); break;
    case write_mvl_bbm_command: on_write_back(); break;
    default: {
      char hex[9];
      hex8(command, hex);
      hex[8] = 0;
      b_->trace("Unknown command received ");
      b_->trace(hex);
      b_->trace("\r\n");
    }
  }
}

}  // namespace agent
