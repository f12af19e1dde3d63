#pragma once

#include "window_model.h"

struct registry_store;

// Builds the fixture rows of the list from the registry store (null: no fixture rows).
void InitUSBMapping(HWND hDlgItemWnd, const registry_store *store);
