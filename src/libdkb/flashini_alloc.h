// Allocation for the recipe reader. A separate translation unit so that the tests can link one
// that fails on demand and prove that running out of memory leaks nothing.
#pragma once

#include <cstddef>

void *flashini_calloc(std::size_t count, std::size_t size);
void *flashini_realloc(void *block, std::size_t size);
void flashini_free(void *block);
