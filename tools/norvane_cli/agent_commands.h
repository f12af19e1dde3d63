// norvane_cli's commands on a running agent: norvane_cli COMMAND NAME [ARGS].
#pragma once

namespace cli {

// Runs argv[1] as an agent command on interface argv[2]: the exit status (0 or 1, 2 for bad
// arguments), or -1 when argv[1] is not an agent command.
int agent_command(int argc, char **argv);

// Downloads the agent image this program carries.
int download_embedded(const char *name, const char *tim_file);

extern const char agent_usage[];

}  // namespace cli
