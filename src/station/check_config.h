// `norvane_pc --check-config`: parses a recipe exactly as start-up does and prints the record,
// so that a line engineer can check it before it goes to the line.
#pragma once

#include <cstdio>

#include "libdkb/flashini_parser.h"

// Writes the record as one JSON object (and a newline) to `out`.
void print_flashini_json(const flashini_content *content, std::FILE *out);

// Parses `ini_name`; prints the record and returns 0, or prints "Parse ini file error" on
// standard error and returns 1.
int check_config(const char *ini_name);
