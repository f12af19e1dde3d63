// The job's wait for its agent takes only the agent of its own fixture.
#include <gtest/gtest.h>

#include "download_job.h"
#include "usb/usb.h"
#include "usb/usb_inproc.h"

namespace {

class idle_agent final : public usb_inproc::device_model {
 public:
  bool on_out_packet(usb_inproc::attachment &, std::span<const uint8_t>) override { return true; }
};

TEST(AgentWait, WhichInterfaceNamesAreTaken) {
  const struct {
    const char *name, *expect_1, *expect_2;
    bool wanted;
  } cases[] = {
      {"1-1", "1-1", "", true},
      {"1-2", "1-1", "", false},  // another fixture's agent
      {"1-2", "", "1-2", true},
      {"1-3", "1-1", "1-2", false},
      {"1-2", "1-1", "1-2", true},
      {"1-9", "", "", true},  // nothing known: any agent
      {"", "1-1", "", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(agent_name_wanted(c.name, c.expect_1, c.expect_2), c.wanted)
        << c.name << " / " << c.expect_1 << " / " << c.expect_2;
}

TEST(AgentWait, AnotherFixturesAgentIsLeftAlone) {
  ASSERT_EQ(usb_use_backend("inproc"), 0);
  auto other = usb_inproc::plug("w-1", 0x1286, 0x8111, std::make_shared<idle_agent>());
  ASSERT_TRUE(other);
  usb_dev_handle *udev = nullptr;
  EXPECT_NE(wait_for_dkb(&udev, 300, "w-2", ""), 0);  // only w-1's agent is there
  auto own = usb_inproc::plug("w-2", 0x1286, 0x8111, std::make_shared<idle_agent>());
  ASSERT_TRUE(own);
  ASSERT_EQ(wait_for_dkb(&udev, 10000, "w-2", ""), 0);
  ASSERT_NE(udev, nullptr);
  // The handle is w-2's: w-1's device can still be opened, w-2's cannot (exclusive open).
  usb_dev_handle *d1 = usb_open("\\\\?\\usb#vid_1286&pid_8111#w-1#" USB_GUID_TEXT);
  EXPECT_NE(d1, nullptr);
  if (d1) usb_close(d1);
  EXPECT_EQ(usb_open("\\\\?\\usb#vid_1286&pid_8111#w-2#" USB_GUID_TEXT), nullptr);
  usb_close(udev);
  usb_inproc::unplug_all();
}

}  // namespace
