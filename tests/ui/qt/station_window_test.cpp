// The station window over a device on a pty: the board waits for its
// scanned serial, the slot's tile shows it flashed and passed, the header
// counts it, and its record names the slot and the unit.

#include "ui/qt/station_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <fstream>

#include "records/file_hash.h"
#include "records/store.h"
#include "sim/pty_device.h"
#include "station/recipe.h"
#include "support/temp_file.h"

namespace vq {
namespace {

TEST(StationWindow, ABoardInItsSlotIsFlashedPassedCountedAndRecorded) {
    const test::TempDir dir;
    const std::vector<std::uint8_t> image(5000, 0x42);
    dir.write("fw.bin", image);
    sim::PtyDevice device;
    device.set_reply_delay(std::chrono::milliseconds(100));  // long enough to see it flash
    device.start();
    {
        std::ofstream(dir.file("board.toml")) << "name = \"Board X\"\nimage = \"fw.bin\"\nsha256 = \""
                                              << records::sha256_hex(image)
                                              << "\"\nunit_serial = { mode = \"scan\" }\n[[slot]]\nname = \"A\"\nport = \""
                                              << device.path() << "\"\n";
    }
    auto recipe = station::load_recipe(dir.file("board.toml"));
    ASSERT_TRUE(std::holds_alternative<station::Recipe>(recipe)) << std::get<std::string>(recipe);
    const std::string records = dir.file("records.sqlite");
    {
        StationWindow station(std::get<station::Recipe>(std::move(recipe)), {records::RecordsTarget::Sqlite, records},
                              "Ann");
        EXPECT_EQ(station.Title->text(), "Board X");
        ASSERT_EQ(station.Tiles.size(), 1u);
        QElapsedTimer waited;
        waited.start();
        while (!station.Tiles[0]->text().contains("scan the unit") && waited.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        station.Scan->setText("VQ-1");
        emit station.Scan->returnPressed();
        bool barred = false;  // the bar and the time left, seen while it flashed
        while (!station.Tiles[0]->text().contains("PASS") && waited.elapsed() < 15000) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            barred |= !station.Bars[0]->isHidden() && station.Bars[0]->value() > 0 && station.Tiles[0]->text().contains(" left");
        }
        EXPECT_TRUE(barred);
        EXPECT_TRUE(station.Bars[0]->isHidden()) << "only while it flashes";
        EXPECT_TRUE(station.Tiles[0]->text().contains("\u2714 PASS")) << station.Tiles[0]->text().toStdString();
        EXPECT_TRUE(station.Detail->text().endsWith("operator Ann \u00B7 today: passed 1, failed 0, first-pass yield 100%"))
            << station.Detail->text().toStdString();
    }  // closing stops the slot, which waits for its board to go
    const auto kept = records::list(*records::open_sqlite_store(records, false), {});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].slot + " " + kept[0].unit + " " + kept[0].outcome + " " + kept[0].operator_name, "A VQ-1 finished Ann");
}

}  // namespace
}  // namespace vq
