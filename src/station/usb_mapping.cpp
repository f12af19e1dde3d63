// Fixture rows from the registry: one row per PortNo, in ascending order, the first key of a
// PortNo giving Interface_1 ID and a later one Interface_2 ID.
#include "usb_mapping.h"

#include "registry_store.h"

namespace {
const char kMarvellKey[] = "SOFTWARE\\ostrel\\Marvell";
}

void InitUSBMapping(HWND hDlgItemWnd, const registry_store *store) {
  int ports = 0;
  if (!registry_key_exists(store, kMarvellKey) || !registry_query_int(store, kMarvellKey, "NoOfPorts", ports) ||
      ports < 1 || ports > 64)
    return;
  for (int n = 1; n <= ports; ++n) {
    std::string key = std::string(kMarvellKey) + "\\Port" + std::to_string(n);
    std::string name;
    int portno = 0;
    if (!registry_key_exists(store, key) || !registry_query_string(store, key, "InterfaceName", USB_PATH_SIZE, name) ||
        !registry_query_int(store, key, "PortNo", portno))
      break;  // the first incomplete key ends the scan
    int row = FindItemByPortNo(hDlgItemWnd, portno);
    if (row >= 0) {
      set_cell(hDlgItemWnd, row, COL_INTERFACE_2, name);
    } else {
      row = insert_row(hDlgItemWnd, GetInsertMappingIndex(hDlgItemWnd, portno), std::to_string(portno));
      set_cell(hDlgItemWnd, row, COL_INTERFACE_1, name);
    }
  }
}
