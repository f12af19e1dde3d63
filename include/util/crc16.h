// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final XOR), the check
// carried by every CRC-checked RAM transfer between the station and the agent. Builds
// freestanding: the agent links the same code.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The standard table of the algorithm (0x0000, 0xC0C1, 0xC181, 0x0140, ...) as 32-bit words.
extern const unsigned int crc_tbl[256];

// CRC of `length` bytes; the result is in the low 16 bits, 0xFFFF for no data.
unsigned int crc16(const unsigned char *data, unsigned long length);

#ifdef __cplusplus
}
#endif
