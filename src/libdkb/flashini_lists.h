// The recipe's counted lists: one heap block each, an int count and that many entries.
#pragma once

#include <climits>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "flashini_alloc.h"
#include "libdkb/flashini_parser.h"

inline int &list_count(flashini_erase_info_list *l) { return l->no_of_erase_info; }
inline int &list_count(flashini_gpio_info_list *l) { return l->no_of_gpio_info; }
inline int &list_count(flashini_partition_info_list *l) { return l->no_of_partition_info; }

template <class List>
using list_entry = std::remove_reference_t<decltype(std::declval<List>().info[0])>;

// Bytes of a list of n entries, or 0 when that does not fit in memory's address range.
template <class List>
std::size_t list_bytes(long long n) {
  constexpr std::size_t head = offsetof(List, info);
  constexpr std::size_t entry = sizeof(list_entry<List>);
  if (n < 0 || n > INT_MAX || std::size_t(n) > (SIZE_MAX - head) / entry) return 0;
  return head + std::size_t(n) * entry;
}

// A zero-filled list of exactly `count` entries, or null.
template <class List>
List *list_make(int count) {
  std::size_t bytes = list_bytes<List>(count);
  if (!bytes) return nullptr;
  auto *list = static_cast<List *>(flashini_calloc(1, bytes));
  if (list) list_count(list) = count;
  return list;
}

// Enlarges *list by `more` zero-filled entries behind the existing ones. On failure the list is
// left as it was and false is returned.
template <class List>
bool list_grow(List **list, int more) {
  long long count = (long long)list_count(*list) + more;
  std::size_t bytes = list_bytes<List>(count);
  if (!bytes) return false;
  auto *grown = static_cast<List *>(flashini_realloc(*list, bytes));
  if (!grown) return false;
  std::size_t old_bytes = list_bytes<List>(list_count(grown));
  std::memset(reinterpret_cast<char *>(grown) + old_bytes, 0, bytes - old_bytes);
  list_count(grown) = int(count);
  *list = grown;
  return true;
}

// Copies a text into a fixed field, cut to the field and always terminated.
template <std::size_t N>
void copy_text(char (&field)[N], const char *text) {
  std::size_t n = strnlen(text, N - 1);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

inline void free_lists(flashini_content *c) {
  flashini_free(c->erase_info_list);
  flashini_free(c->partition_info_list);
  flashini_free(c->gpio_bd_info_list);
  flashini_free(c->gpio_ad_info_list);
  c->erase_info_list = nullptr;
  c->partition_info_list = nullptr;
  c->gpio_bd_info_list = nullptr;
  c->gpio_ad_info_list = nullptr;
}
