#include "link/discovery.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "protocol/failure.h"
#include "support/fake_link.h"

namespace vq {
namespace {

using test::FakeLink;
using test::PortKind;
using Names = std::vector<std::string>;

using ListBox = MemoryPortList;

struct DiscoveryCase {
    const char* name;
    std::map<int, PortKind> ports;
    std::vector<std::pair<std::string, int>> failures;  // operation, error number
    Names listed;
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) { *os << c.name; }


class Discovery : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(Discovery, ListsPortsThatOpenOrAreHeldAndLeavesTheLinkClosed) {
    const DiscoveryCase& c = GetParam();
    FakeLink link;
    for (auto [port, kind] : c.ports) link.set_port(port, kind);
    for (auto [op, number] : c.failures) link.fail(op, number, 1);
    ListBox list;
    list.set_items({"stale"});
    list.Clear();

    discover_ports(link, list);

    EXPECT_EQ(list.items(), c.listed);
    EXPECT_EQ(list.text(), c.listed.empty() ? "" : c.listed.front());
    EXPECT_FALSE(link.open());
    EXPECT_EQ(link.ops().back(), "PortOpen=false");
}

INSTANTIATE_TEST_SUITE_P(
    Probe, Discovery,
    ::testing::Values(
        DiscoveryCase{"ports1and3openPort2held",
                      {{1, PortKind::Opens}, {2, PortKind::Held}, {3, PortKind::Opens}},
                      {},
                      {"COM1", "COM2", "COM3"}},
        DiscoveryCase{"onlyPort5", {{5, PortKind::Opens}}, {}, {"COM5"}},
        DiscoveryCase{"noPortAtAll", {}, {}, {}},
        DiscoveryCase{"allNine",
                      {{1, PortKind::Opens}, {2, PortKind::Opens}, {3, PortKind::Opens}, {4, PortKind::Opens},
                       {5, PortKind::Opens}, {6, PortKind::Opens}, {7, PortKind::Opens}, {8, PortKind::Opens},
                       {9, PortKind::Held}},
                      {},
                      {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"}},
        DiscoveryCase{"otherOpeningErrorIsNotListed",
                      {{1, PortKind::Opens}, {2, PortKind::Opens}},
                      {{"PortOpen=true", err::PermissionDenied}},
                      {"COM2"}},
        // The close fails with 8005: the port is listed by the error handler
        // and again by the probe; the pass keeps one.
        DiscoveryCase{"failedCloseListsOnce", {{9, PortKind::Opens}}, {{"PortOpen=false", err::PortAlreadyOpen}},
                      {"COM9"}},
        // Reading the state fails: the port counts as opened.
        DiscoveryCase{"failedStateReadStillLists", {}, {{"PortOpen?", err::ReadFailed}}, {"COM1"}}),
    [](const auto& p) { return p.param.name; });

TEST(Discovery, ClosesEachPortItOpenedBeforeListingIt) {
    FakeLink link;
    link.set_port(2, PortKind::Opens);
    ListBox list;
    discover_ports(link, list);
    const Names& ops = link.ops();
    const Names port2(ops.begin() + 3, ops.begin() + 7);  // port 1: number, opening, state
    EXPECT_EQ(port2, (Names{"CommPort=2", "PortOpen=true", "PortOpen?", "PortOpen=false"}));
    EXPECT_EQ(list.items(), Names{"COM2"});
}

TEST(RemoveDuplicatePorts, KeepsTheLaterCopyAndCollapsesRuns) {
    const struct { Names before, after; } rows[] = {
        {{"COM1", "COM1"}, {"COM1"}},
        {{"COM1", "COM2", "COM2", "COM3"}, {"COM1", "COM2", "COM3"}},
        {{"COM1", "COM2", "COM1"}, {"COM2", "COM1"}},
        {{"COM1", "COM1", "COM1"}, {"COM1"}},
        {{"COM2", "COM2", "COM2", "COM2", "COM5"}, {"COM2", "COM5"}},
        {{"com1", "COM1"}, {"com1", "COM1"}},
        {{}, {}},
    };
    for (const auto& r : rows) {
        ListBox list;
        list.set_items(r.before);
        remove_duplicate_ports(list);
        EXPECT_EQ(list.items(), r.after) << ::testing::PrintToString(r.before);
    }
}

}  // namespace
}  // namespace vq
