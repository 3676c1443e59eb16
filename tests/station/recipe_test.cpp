// A station's recipe: what it fixes, and each bad recipe's error naming the
// field and the line.

#include "station/recipe.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "protocol/failure.h"
#include "records/file_hash.h"
#include "support/temp_file.h"

namespace vq::station {
namespace {

struct Recipes {
    Recipes() {
        std::filesystem::create_directories(dir.file("images"));
        dir.write("images/fw.bin", std::vector<std::uint8_t>(3000, 7));
        sha = records::sha256_of(dir.file("images/fw.bin"), [] { return true; }).hex;
    }
    // A recipe of the good one's lines, `change` put in place of the line
    // that starts with its key (or added when none does).
    std::string write(const std::string& change = {}) const {
        std::vector<std::string> lines = {"name = \"Board X rev 2\"", "image = \"images/fw.bin\"",
                                          "sha256 = \"" + sha + "\"", "protocol = \"ymodem\"",
                                          "station = \"line 1 / station 3\"", "[[slot]]", "name = \"A\"",
                                          "port = \"/dev/serial/by-path/a\"", "[[slot]]", "name = \"B\"",
                                          "port = \"COM4\""};
        const std::string key = change.substr(0, change.find_first_of(" ="));
        bool replaced = change.empty();
        for (std::string& line : lines)
            if (!replaced && !key.empty() && line.rfind(key + " ", 0) == 0) line = change, replaced = true;
        if (!replaced) lines.insert(lines.begin() + 5, change);
        std::ofstream out(dir.file("recipe.toml"));
        for (const std::string& line : lines) out << line << "\n";
        return dir.file("recipe.toml");
    }
    test::TempDir dir;
    std::string sha;
};

TEST(Recipe, FixesTheImageByItsHashTheProtocolAndTheSlots) {
    const Recipes r;
    const auto loaded = load_recipe(r.write("sha256 = \"" + [&] {
        std::string upper = r.sha;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return upper;
    }() + "\""));
    ASSERT_TRUE(std::holds_alternative<Recipe>(loaded)) << std::get<std::string>(loaded);
    const Recipe& recipe = std::get<Recipe>(loaded);
    EXPECT_FALSE(recipe.stamp);
    EXPECT_EQ(recipe.image, r.dir.file("images/fw.bin")) << "beside the recipe";
    EXPECT_EQ(recipe.sha256, r.sha);
    EXPECT_EQ(recipe.protocol, Protocol::Ymodem);
    ASSERT_EQ(recipe.jig_slots.size(), 2u);
    EXPECT_EQ(recipe.jig_slots[1].name + " " + recipe.jig_slots[1].port, "B COM4");
}

TEST(Recipe, EachBadOneIsRefusedNamingTheFieldAndTheLine) {
    const Recipes r;
    const std::string file = r.dir.file("recipe.toml"), image = r.dir.file("images/fw.bin");
    const struct {
        std::string change, error;
    } rows[] = {
        {"name = \"Board X", ":1: "},
        {"imgae = \"fw.bin\"", ":6: imgae: not a field of a recipe"},
        {"sha256 = \"" + std::string(64, '0') + "\"",
         ":3: sha256: " + image + " has SHA-256 " + r.sha + ", not the recipe's: it is another file"},
        {"sha256 = \"9f2c\"", ":3: sha256: must be 64 hexadecimal digits"},
        {"image = \"missing.bin\"", ":2: image: " + r.dir.file("missing.bin") + " is not there"},
        {"protocol = \"zmodem\"", ":4: protocol: \"zmodem\" is none of device, xmodem, xmodem-1k, ymodem"},
        {"pace = \"reply\"", ":6: pace: reply paces the device protocol only"},
        {"start = \"on-scan\"", ":6: start: on-scan starts a board when its serial is scanned: unit_serial.mode = \"scan\""},
        {"start = \"on-plug\"", ":6: start: \"on-plug\" is none of on-insertion, on-scan, on-button"},
        {"operator_required = \"yes\"", ":6: operator_required: must be true or false"},
        {"unit_serial = { mode = \"scan\", unit_pattern = \"VQ-[0-9\" }", ":6: unit_serial.unit_pattern: not a regular expression: "},
        {"unit_serial = { mode = \"scan\", offset = 4 }", ":6: unit_serial.offset: not a field of a recipe"},
        {"unit_serial = { mode = \"stamp\", offset = 2990, format = \"{:d}\", width = 16 }",
         ":6: unit_serial.offset: the serial's 16 bytes at 2990 end past the image's 3000 bytes"},
        {"unit_serial = { mode = \"stamp\", offset = 0, format = \"VQ-{\", width = 16 }",
         ":6: unit_serial.format: \"VQ-{\" is no format of one number: "},
        {"unit_serial = { mode = \"stamp\", offset = 0, format = \"VQ-{:06d}\", width = 8 }",
         ":6: unit_serial.format: \"VQ-000001\" is longer than the width, 8 bytes"},
        {"records = \"mysql://db\"", ":6: records: records \"mysql://db\" names no place for them: none, sqlite:PATH or postgresql://..."},
    };
    for (const auto& row : rows) {
        const auto loaded = load_recipe(r.write(row.change));
        ASSERT_TRUE(std::holds_alternative<std::string>(loaded)) << row.change;
        const std::string& error = std::get<std::string>(loaded);
        EXPECT_EQ(error.rfind(file + row.error, 0), 0u) << error;
    }
    // Two slots on one port.
    std::string two = r.write();
    {
        std::ofstream out(two, std::ios::app);
        out << "[[slot]]\nname = \"C\"\nport = \"COM4\"\n";
    }
    EXPECT_EQ(std::get<std::string>(load_recipe(two)), file + ":14: slot.port: two slots on COM4");
}

TEST(SerialStamp, IsWrittenAtItsPlacePaddedWithZerosAndTheFileIsLeftAsItIs) {
    const SerialStamp stamp{.offset = 2, .width = 6, .format = "{:x}", .first = 1};
    EXPECT_EQ(stamp.counter(), "unit_serial {:x}");
    EXPECT_EQ(stamped({9, 9, 9, 9, 9, 9, 9, 9, 9}, stamp, "ff"), (std::vector<std::uint8_t>{9, 9, 'f', 'f', 0, 0, 0, 0, 9}));
    test::TempDir dir;
    dir.write("fw.bin", {1, 2, 3, 4, 5});
    LocalFileSystem disk;
    StampedFiles files(disk, stamp, "ab");
    EXPECT_THROW(files.open_image(dir.file("fw.bin")), Failure) << "too short now for the serial";
    dir.write("fw.bin", std::vector<std::uint8_t>(10, 1));
    EXPECT_EQ(files.open_image(dir.file("fw.bin"))->read_all()[2], 'a');
    EXPECT_EQ(disk.open_image(dir.file("fw.bin"))->read_all()[2], 1);
}

}  // namespace
}  // namespace vq::station
