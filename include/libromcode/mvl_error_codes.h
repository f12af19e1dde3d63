// The boot ROM's status codes with their names, for describing a response's status.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mvl_bootrom_errorcode {
  uint8_t code;
  char description[50];
} mvl_bootrom_errorcode;

#define MVL_ERROR_CODES_COUNT 53
extern const mvl_bootrom_errorcode MVL_ERROR_CODES[MVL_ERROR_CODES_COUNT];  // ascending by code

// The row's description for `code`, or null when the table has none.
const char *mvl_error_description(uint8_t code);

#ifdef __cplusplus
}
#endif
