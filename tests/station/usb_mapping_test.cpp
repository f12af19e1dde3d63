// Fixture rows from the registry store.
#include "usb_mapping.h"

#include <gtest/gtest.h>

#include "registry_store.h"
#include "test_files.h"

namespace {

class Mapping : public scratch_dir_test {
 protected:
  std::vector<std::array<std::string, 3>> rows_for(const std::string &registry) {
    registry_store *store = registry_open_file(write("registry.ini", registry));
    station_window wnd;
    InitUSBMapping(&wnd, store);
    registry_close(store);
    std::vector<std::array<std::string, 3>> out;
    for (const list_row &r : wnd.rows) out.push_back({r.cells[0], r.cells[1], r.cells[2]});
    return out;
  }
  static std::string port(int n, const std::string &name, int portno) {
    return "[SOFTWARE\\ostrel\\Marvell\\Port" + std::to_string(n) + "]\nInterfaceName = " + name +
           "\nPortNo = " + std::to_string(portno) + "\n";
  }
};

TEST_F(Mapping, RowsInPortOrderWithSecondNames) {
  auto rows = rows_for("[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 3\n" + port(1, "1-1", 3) + port(2, "1-2", 1) +
                       port(3, "1-3", 3));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::array<std::string, 3>{"1", "1-2", ""}));
  EXPECT_EQ(rows[1], (std::array<std::string, 3>{"3", "1-1", "1-3"}));
}

TEST_F(Mapping, LookupsIgnoreCase) {
  auto rows = rows_for("[software\\OSTREL\\marvell]\nnoofports = 1\n[SOFTWARE\\ostrel\\Marvell\\port1]\n"
                       "interfacename = 2-1\nPORTNO = 7\n");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "7");
}

TEST_F(Mapping, IncompleteOrOutOfRangeMappings) {
  const struct {
    std::string registry;
    std::size_t rows;
  } cases[] = {
      {"[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 0\n" + port(1, "a", 1), 0},
      {"[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 65\n" + port(1, "a", 1), 0},
      {"[SOFTWARE\\ostrel\\Marvell]\n" + port(1, "a", 1), 0},
      {port(1, "a", 1), 0},
      {"[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 3\n" + port(1, "a", 1) + port(3, "c", 3), 1},  // Port2 missing
      {"[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 2\n" + port(1, "a", 1) +
           "[SOFTWARE\\ostrel\\Marvell\\Port2]\nInterfaceName = b\n", 1},  // no PortNo
      {"[SOFTWARE\\ostrel\\Marvell]\nNoOfPorts = 2\n" + port(1, "a", 1) + port(2, std::string(260, 'x'), 2), 1},
  };
  for (const auto &c : cases) EXPECT_EQ(rows_for(c.registry).size(), c.rows) << c.registry;
  station_window wnd;
  InitUSBMapping(&wnd, nullptr);  // no store at all
  EXPECT_TRUE(wnd.rows.empty());
}

}  // namespace
