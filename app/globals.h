// The state the window, the port scan and the workers share.
//
// Ownership and threads: the UI thread writes selport and cf; a listing
// worker fills `list` and writes list_state. The window keeps the two apart
// by disabling its buttons and both combo boxes from the click that starts a
// worker until the worker's last step, so that while a worker runs only the
// worker touches `list` and list_state, and nobody writes selport or cf.
// Every hand-off between the threads goes through a worker's Synchronize,
// which orders the accesses.
#pragma once

#include <cstdint>
#include <string>

#include "base/stringlist.h"
#include "catalogue/fatdss.h"

// The selected serial port's name; empty while no port is known.
extern std::string selport;
// The raw lines of the device's log listing; sorted from the window's first
// showing on; freed (and set to nullptr) when the window closes.
extern TStringList* list;
// The entry of the log last chosen in the log combo box.
extern fatdss_t cf;
// 1 when the last listing found at least one log, else 0.
extern std::int32_t list_state;
