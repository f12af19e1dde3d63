// Every fault the bench can inject into a handset, in one place. A fault set comes from the
// bench's configuration ("faults = ..." of a handset) or from the control command
// "fault PORT FAULTS" while running; FAULTS is a comma-separated list of:
//   unplug-after-bytes=N   take (and answer) N bytes on the OUT pipe, then leave the bus at the
//                          packet that would carry the count past N (whole packets only)
//   agent-unplug-after-bytes=N  the same while the handset runs the agent (each agent stay)
//   no-agent               after the boot ROM's disconnect the handset leaves the bus and never
//                          comes back as the agent (it stays off until plugged in again)
//   unplug-at=STEP         leave the bus when command STEP arrives, before answering it
//   status=STEP:CODE       answer STEP with boot ROM status CODE (e.g. status=version:0x6D)
//   wrong-image-id         ask for the agent image first (select answers 0x444B4249)
//   wrong-echo             echo the preamble as 00 D3 02 2A
//   short-answer=STEP      send only the first 3 bytes of STEP's answer
//   no-answer=STEP         send no answer to STEP
//   late-answer=STEP:MS    send STEP's answer MS milliseconds late
//   wrong-len=STEP         answer STEP with a wrong data-length byte (same byte count)
//   zero-grant             grant 0 bytes to every data header
//   return-delay=MS        come back as the agent MS milliseconds after the disconnect (instead
//                          of the configured re-enumeration delay): a slow re-enumeration
//   agent-silent-after-bytes=N  the agent takes N bytes, then takes everything and answers nothing
//   off-after-reset        a reset (the agent's or a control command's) powers the handset off:
//                          it stays off the bus until it is plugged again
//   agent-corrupt-data=N   the first packet of the agent's N-th send-data block (1 = the first)
//                          arrives with its first byte inverted: a corruption on the wire
//   none                   clear all faults
// STEP is one of: preamble, version, select, verify, header, data, done, disconnect, message,
// or a hex opcode (0x20).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

// The protocol step a command belongs to; the preamble is its own step (code 0x100).
constexpr int step_preamble = 0x100;

struct fault_set {
  std::optional<uint64_t> unplug_after_bytes;
  std::optional<uint64_t> agent_unplug_after_bytes;
  bool no_agent = false;
  std::optional<int> unplug_at;
  std::map<int, uint8_t> status;  // step -> boot ROM status
  bool wrong_image_id = false;
  bool wrong_echo = false;
  std::optional<int> short_answer;
  std::optional<int> no_answer;
  std::optional<std::pair<int, uint32_t>> late_answer;  // step, milliseconds
  std::optional<int> wrong_len;
  bool zero_grant = false;
  std::optional<uint32_t> return_delay_ms;
  std::optional<uint64_t> agent_silent_after_bytes;
  std::optional<uint64_t> agent_corrupt_data;
  bool off_after_reset = false;

  std::string describe() const;  // the FAULTS form, "" for none
};

// Parses FAULTS into `out` (adding to what it holds). false, with `error` set, for a bad item.
bool parse_faults(const std::string &text, fault_set &out, std::string &error);

// STEP names: "version" -> 0x20 ... ; -1 for an unknown name.
int parse_step(const std::string &name);
std::string step_name(int step);

}  // namespace sim
