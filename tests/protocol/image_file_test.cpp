#include "protocol/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "protocol/failure.h"
#include "support/temp_file.h"

namespace vq {
namespace {

TEST(LocalFileSystem, OnlyAnExistingRegularFileOpensAndNothingIsCreated) {
    test::TempDir dir;
    LocalFileSystem files;
    const std::string missing = dir.file("missing.bin");
    std::filesystem::create_directory(dir.file("folder.bin"));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(dir.file("fifo.bin").c_str(), 0600), 0);
#endif
    for (const std::string& name : {missing, dir.file("folder.bin"), dir.file("fifo.bin"), std::string()}) {
        try {
            files.open_image(name);
            ADD_FAILURE() << "opened " << name;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::PathFileAccess) << name;
            EXPECT_EQ(f.what(), (std::filesystem::exists(name) ? "Not a regular file: " : "No such file: ") + name);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(missing));

    const auto empty = files.open_image(dir.write("empty.bin", {}));
    EXPECT_EQ(empty->length(), 0);
    const auto image = files.open_image(dir.write("fw.bin", {1, 2, 3, 4, 5}));
    EXPECT_EQ(image->read_all(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    std::filesystem::resize_file(dir.file("fw.bin"), 2);
    EXPECT_EQ(image->length(), 2) << "the length of the open file, asked again";

    const std::string utf8 = dir.write("f\xC3\xAFrm w\xC3\xA4re.bin", {7});  // "fïrm wäre.bin"
    EXPECT_EQ(files.open_image(utf8)->read_all(), std::vector<std::uint8_t>{7});
}

TEST(LocalFileSystem, AFileThatEndsBeforeItsLengthIsNotAMissingFile) {
    // A kernel file claims 4096 bytes and holds a few: to the reader it is
    // a file that shrank while being read.
    const char* path = "/sys/devices/system/cpu/online";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not on this system";
    try {
        LocalFileSystem().open_image(path)->read_all();
        ADD_FAILURE() << "read without a failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::InputPastEnd) << f.what();
    }
}

}  // namespace
}  // namespace vq

namespace vq {
namespace {

// Windows converts names to UTF-16, and a name in its ANSI code page (as its
// environment gives them) is no UTF-8: it is taken as it is, not thrown at.
TEST(Utf8Paths, ANameThatIsNotUtf8IsTakenAsTheSystemsOwnText) {
    std::filesystem::path path;
    EXPECT_NO_THROW(path = path_from_utf8("fw\xe9.bin"));
    EXPECT_EQ(path.filename().extension(), ".bin");
}

}  // namespace
}  // namespace vq
