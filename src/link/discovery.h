#pragma once
// Port discovery at start-up: list every port 1..9 that opens, or that
// another program holds, then select the first and leave the link closed.

#include <vector>

#include "link/port_list.h"
#include "protocol/serial_link.h"

namespace vq {

// Probes ports 1..9 on `link` and fills `list` with "COM1".."COM9". A port
// is listed when it opens (it is closed again at once) or when opening it
// fails with err::PortAlreadyOpen. Failures never escape: each step that
// fails is passed over and the probe goes on with the next one. Afterwards
// equal entries are removed, keeping the later copy, the first entry is
// selected and the link is closed.
// `report`, when given, learns which ports failed to open and why.
struct DiscoveryReport {
    std::vector<int> busy;    // held by another program (listed all the same)
    std::vector<int> denied;  // the user may not open them (not listed)
};
void discover_ports(SerialLink& link, PortList& list, DiscoveryReport* report = nullptr);

// Removes equal entries, keeping the later copy of each and the order of the
// rest: COM1, COM2, COM1 gives COM2, COM1. A run of any length collapses to
// one entry.
void remove_duplicate_ports(PortList& list);

}  // namespace vq
