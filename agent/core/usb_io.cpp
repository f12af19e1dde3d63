// USB items of exact size and the message words of a stream. The host sends every item as a
// transfer of its own, so a packet that carries more than the item still expects means the two
// sides are out of step: the agent stops for good rather than guess.
#include "agent.h"
#include "bytes.h"
#include "protocol.h"

namespace agent {

void agent_core::stop_for_good() {
  stopped_ = true;
  halted_ = true;
  b_->halt();
}

void agent_core::fail(const char *why, uint32_t expected, uint32_t got) {
  char num[11];
  b_->trace(why);
  b_->trace(" expected ");
  decimal(expected, num);
  b_->trace(num);
  b_->trace(" got ");
  decimal(got, num);
  b_->trace(num);
  b_->trace("\r\n");
  stop_for_good();
}

// Takes packets until `count` bytes are in; a null `to` drops them.
bool agent_core::receive(void *to, uint32_t count) {
  auto *dest = static_cast<uint8_t *>(to);
  uint32_t done = 0;
  while (done < count) {
    if (stopped_) return false;
    int got = b_->usb_receive(packet_);
    if (got < 0 || got > int(usb_packet_size)) {
      stopped_ = true;
      return false;
    }
    uint32_t n = uint32_t(got);
    if (n > count - done) {
      fail("read usb size not expected!", count - done, n);
      return false;
    }
    if (dest) copy_bytes(dest + done, packet_, n);
    done += n;
  }
  return !stopped_;
}

bool agent_core::receive_word(uint32_t *value) {
  uint8_t w[4];
  if (!receive(w, 4)) return false;
  *value = le32(w);
  return true;
}

// Data for RAM goes straight to its place; data aimed outside RAM is taken and dropped so that
// the conversation stays in step.
bool agent_core::receive_to_memory(uint32_t address, uint32_t count) {
  if (stopped_) return false;
  uint8_t *to = b_->memory(address, count);
  if (!to && count) b_->trace("Transfer outside RAM, data dropped\r\n");
  return receive(to, count);
}

bool agent_core::send(const void *from, uint32_t count) {
  auto *p = static_cast<const uint8_t *>(from);
  while (count && !stopped_) {
    uint32_t n = count < usb_packet_size ? count : usb_packet_size;
    if (!b_->usb_send(p, n)) stopped_ = true;
    p += n;
    count -= n;
  }
  return !stopped_;
}

bool agent_core::send_word(uint32_t value) {
  uint8_t w[4];
  put_le32(w, value);
  return send(w, 4);
}

void agent_core::msg(uint32_t word) { send_word(word); }

void agent_core::msg(uint32_t word, uint32_t value) {
  // The station reads the word and its parameter as two items: two packets.
  send_word(word);
  send_word(value);
}

void agent_core::msg_text(const char *text) {
  uint32_t n = text_length(text);
  msg(flash_msg_text_length, n);
  msg(flash_msg_text);
  send(text, n);
}

// A number in a text goes out as eight hex digits, each digit a text of its own.
void agent_core::msg_hex(uint32_t value) {
  char digits[8];
  hex8(value, digits);
  for (char d : digits) {
    char one[2] = {d, 0};
    msg_text(one);
  }
}

}  // namespace agent
