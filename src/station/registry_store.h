// The fixture mapping's store: a read-only INI file standing in for the registry. Sections are
// key paths ([SOFTWARE\ostrel\Marvell]), keys are value names; both are looked up without regard
// to case. File: $NORVANE_REGISTRY, else /etc/norvane/registry.ini.
#pragma once

#include <string>

struct registry_store;

// Opens the store named by the environment; null when there is none.
registry_store *registry_open();
registry_store *registry_open_file(const std::string &path);
void registry_close(registry_store *store);

bool registry_key_exists(const registry_store *store, const std::string &key);
// Integer and text values; false when the key or value is missing or does not fit.
bool registry_query_int(const registry_store *store, const std::string &key, const std::string &name, int &out);
bool registry_query_string(const registry_store *store, const std::string &key, const std::string &name,
                           std::size_t size_with_terminator, std::string &out);
