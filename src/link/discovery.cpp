#include "link/discovery.h"

#include <exception>
#include <string>

#include "protocol/failure.h"

namespace vq {
namespace {

std::string port_name(int n) { return "COM" + std::to_string(n); }

// Runs one step of the probe. A failure does not end the probe: it is handed
// to `on_failure` and the caller goes on with the next step.
template <typename Step, typename OnFailure>
bool attempt(Step step, OnFailure on_failure) {
    try {
        step();
        return true;
    } catch (const Failure& f) {
        on_failure(f.number());
    } catch (const std::exception&) {
        on_failure(0);
    }
    return false;
}

}  // namespace

void discover_ports(SerialLink& link, PortList& list, DiscoveryReport* report) {
    int inserted = 0;
    std::int16_t n = 1;

    auto insert = [&] {
        list.AddItem(port_name(n), inserted);
        ++inserted;
    };
    // A port another program holds is listed all the same: the user may
    // free it before sending.
    auto on_failure = [&](int number) {
        if (n < 1 || n > 9) return;  // after the probe no failure names a port
        if (number == err::PortAlreadyOpen) attempt(insert, [](int) {});
        if (!report) return;
        auto& ports = number == err::PortAlreadyOpen ? report->busy : report->denied;
        if ((number == err::PortAlreadyOpen || number == err::PermissionDenied) &&
            (ports.empty() || ports.back() != n))
            ports.push_back(n);
    };

    for (n = 1; n <= 9; ++n) {
        attempt([&] { link.setCommPort(n); }, on_failure);
        attempt([&] { link.setPortOpen(true); }, on_failure);
        // When reading the state fails, the port counts as opened: better a
        // port listed that will not open than one that is missing.
        bool opened = true;
        attempt([&] { opened = link.PortOpen(); }, on_failure);
        if (opened) {
            attempt([&] { link.setPortOpen(false); }, on_failure);
            attempt(insert, on_failure);
        }
    }

    attempt([&] { remove_duplicate_ports(list); }, on_failure);
    attempt([&] { list.setListIndex(0); }, on_failure);
    attempt([&] { link.setPortOpen(false); }, on_failure);
}

void remove_duplicate_ports(PortList& list) {
    for (int i = 0; i < list.ListCount(); ++i) {
        // Compare the entry at i with every later one. After a removal the
        // entry that moved up to i is compared again from the start, so a
        // run of three or more equal entries leaves one.
        for (int j = i + 1; j < list.ListCount();) {
            if (list.List(i) == list.List(j)) {
                list.RemoveItem(i);
                j = i + 1;
            } else {
                ++j;
            }
        }
    }
}

}  // namespace vq
