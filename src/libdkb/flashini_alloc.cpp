#include "flashini_alloc.h"

#include <cstdlib>

void *flashini_calloc(std::size_t count, std::size_t size) { return std::calloc(count, size); }
void *flashini_realloc(void *block, std::size_t size) { return std::realloc(block, size); }
void flashini_free(void *block) { std::free(block); }
