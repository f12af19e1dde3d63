// The modelled busy time of a device whose parts work at once: the union of their periods.
#include "util/pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using std::chrono::microseconds;

TEST(BusyTimeline, CountsOverlappingPeriodsOnce) {
  const util::busy_timeline::clock::time_point t0{std::chrono::seconds(100)};
  const struct {
    const char *what;
    std::vector<std::pair<int, int>> periods;  // start and length, in microseconds from t0
    uint64_t total_us;
  } cases[] = {
      {"nothing", {}, 0},
      {"one after another", {{0, 125}, {125, 250}, {400, 100}}, 475},
      {"a bus word while the NAND works", {{0, 1500}, {10, 125}}, 1500},
      {"a part reaching past the other's end", {{0, 200}, {150, 200}}, 350},
      {"a late-added period already covered", {{0, 1000}, {900, 500}, {100, 50}}, 1400},
  };
  for (const auto &c : cases) {
    util::busy_timeline t;
    for (auto [start, length] : c.periods) t.add(t0 + microseconds(start), microseconds(length));
    EXPECT_EQ(t.total_ns(), c.total_us * 1000) << c.what;
  }
}

}  // namespace
