// Writing and showing one-file images.
#pragma once

#include <cstdio>
#include <string>

#include "manifest.h"

// Writes the package described by `m` to `out_path` through a temporary file in the same
// directory, renamed into place only when complete. False with a reason in `error`.
bool pack_onefi(const manifest &m, const std::string &out_path, std::string &error);

// Prints the header and every section of the package in readable form. False (with a reason)
// when the file cannot be read as a package at all.
bool show_onefi(const std::string &path, std::FILE *out, std::string &error);
