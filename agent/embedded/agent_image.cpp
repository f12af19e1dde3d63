// The embedded agent image (agent_image_check.cpp holds the shape every agent image has).
#include "agent/agent_image.h"

extern "C" const unsigned char agent_image_begin[];
extern "C" const unsigned char agent_image_end[];

extern "C" int load_flasher_image(unsigned char **buf, int *size) {
  *buf = const_cast<unsigned char *>(agent_image_begin);
  *size = int(agent_image_end - agent_image_begin);
  return 0;
}
