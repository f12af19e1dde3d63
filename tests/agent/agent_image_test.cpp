// The agent image as the station carries it: ARM vectors first, its own length stored.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "agent/agent_image.h"

TEST(AgentImage, EmbeddedImageIsWellFormed) {
  unsigned char *buf = nullptr;
  int size = 0;
  ASSERT_EQ(load_flasher_image(&buf, &size), 0);
  ASSERT_GT(size, 0x24);
  EXPECT_EQ(size % 4, 0);
  EXPECT_EQ(agent_image_well_formed(buf, (unsigned long)size), 1);
  // The reset vector branches forward into the start-up code.
  EXPECT_EQ(buf[3], 0xEA);
}

TEST(AgentImage, MalformedImagesAreRefused) {
  unsigned char *buf = nullptr;
  int size = 0;
  load_flasher_image(&buf, &size);
  std::vector<unsigned char> image(buf, buf + size);
  EXPECT_EQ(agent_image_well_formed(image.data(), image.size() - 4), 0);  // cut short
  image.push_back(0);
  EXPECT_EQ(agent_image_well_formed(image.data(), image.size()), 0);  // longer than it says
  image.pop_back();
  image[7] = 0x00;  // second vector no longer a branch
  EXPECT_EQ(agent_image_well_formed(image.data(), image.size()), 0);
  EXPECT_EQ(agent_image_well_formed(nullptr, 64), 0);
  unsigned char tiny[8] = {};
  EXPECT_EQ(agent_image_well_formed(tiny, sizeof tiny), 0);
}
