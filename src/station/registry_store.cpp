#include "registry_store.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <unistd.h>

extern "C" {
#include <iniparser.h>
}

struct registry_store {
  dictionary *dict;
};

namespace {
std::string entry(const std::string &key, const std::string &name) { return key + ":" + name; }
}  // namespace

registry_store *registry_open_file(const std::string &path) {
  if (access(path.c_str(), R_OK) != 0) return nullptr;  // no store: no fixture rows, nothing said
  dictionary *d = iniparser_load(path.c_str());
  return d ? new registry_store{d} : nullptr;
}

registry_store *registry_open() {
  const char *path = std::getenv("NORVANE_REGISTRY");
  return registry_open_file(path && *path ? path : "/etc/norvane/registry.ini");
}

void registry_close(registry_store *store) {
  if (!store) return;
  iniparser_freedict(store->dict);
  delete store;
}

bool registry_key_exists(const registry_store *store, const std::string &key) {
  return store && iniparser_find_entry(store->dict, key.c_str());
}

bool registry_query_int(const registry_store *store, const std::string &key, const std::string &name, int &out) {
  if (!store) return false;
  const char *v = iniparser_getstring(store->dict, entry(key, name).c_str(), nullptr);
  if (!v || !*v) return false;
  errno = 0;
  char *end = nullptr;
  long long n = std::strtoll(v, &end, 0);
  if (*end != '\0' || errno == ERANGE || n < INT_MIN || n > UINT_MAX) return false;
  out = int(n);  // a DWORD value, as the registry hands it back
  return true;
}

bool registry_query_string(const registry_store *store, const std::string &key, const std::string &name,
                           std::size_t size_with_terminator, std::string &out) {
  if (!store) return false;
  const char *v = iniparser_getstring(store->dict, entry(key, name).c_str(), nullptr);
  if (!v) return false;
  std::string s = v;
  if (s.size() + 1 > size_with_terminator) return false;  // would not fit: treated as missing
  out = s;
  return true;
}
