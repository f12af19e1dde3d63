// Allocation for the out-of-memory test: fails the Nth request and counts live blocks.
#include "failing_alloc.h"

#include <cstdlib>

long failing_alloc_countdown = -1;  // requests left before one fails; -1: never fail
long failing_alloc_live = 0;

namespace {
bool should_fail() {
  if (failing_alloc_countdown < 0) return false;
  return failing_alloc_countdown-- == 0;
}
}  // namespace

void *flashini_calloc(std::size_t count, std::size_t size) {
  if (should_fail()) return nullptr;
  void *p = std::calloc(count, size);
  if (p) ++failing_alloc_live;
  return p;
}

void *flashini_realloc(void *block, std::size_t size) {
  if (should_fail()) return nullptr;
  void *p = std::realloc(block, size);
  if (p && !block) ++failing_alloc_live;
  return p;
}

void flashini_free(void *block) {
  if (block) --failing_alloc_live;
  std::free(block);
}
