// What the compiler may call on its own in a freestanding image.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void *memcpy(void *to, const void *from, size_t n) {
  auto *d = static_cast<volatile uint8_t *>(to);
  auto *s = static_cast<const uint8_t *>(from);
  while (n--) *d++ = *s++;
  return to;
}

void *memset(void *to, int value, size_t n) {
  auto *d = static_cast<volatile uint8_t *>(to);
  while (n--) *d++ = uint8_t(value);
  return to;
}

void *memmove(void *to, const void *from, size_t n) {
  auto *d = static_cast<volatile uint8_t *>(to);
  auto *s = static_cast<const uint8_t *>(from);
  if (d < s) {
    while (n--) *d++ = *s++;
  } else {
    d += n;
    s += n;
    while (n--) *--d = *--s;
  }
  return to;
}

int memcmp(const void *a, const void *b, size_t n) {
  auto *x = static_cast<const uint8_t *>(a);
  auto *y = static_cast<const uint8_t *>(b);
  for (; n; --n, ++x, ++y)
    if (*x != *y) return *x < *y ? -1 : 1;
  return 0;
}

// A pure virtual call cannot happen; should it, the agent stops.
void __cxa_pure_virtual() {
  for (;;) {
  }
}

// DDR controller: not built yet for the real processor (its timing needs the manual); the
// start-up code's copy check then fails and the agent stops for good.
__attribute__((weak)) void tavor_ddr_init() {}

}  // extern "C"
