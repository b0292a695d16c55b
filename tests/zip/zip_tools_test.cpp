// Archives of other zip writers that only Linux has at hand: Python's zipfile module writing to a pipe, and the
// zip command.
#include "zip/zip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "tests/support/temp_dir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

TEST(ZipFile, DataDescriptorMemberEndsTheList) {
    TempDir dir;
    // Written to a pipe, the archive cannot be sought back: sizes and CRC go into data descriptors.
    WriteFile(dir / "stream.py",
              "import sys, zipfile\n"
              "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
              "    z.writestr('first.txt', 'one ' * 100)\n"
              "    z.writestr('second.txt', 'two')\n");
    const std::string command = "cd '" + dir.path() + "' && python3 stream.py | cat > t.zip";
    ASSERT_EQ(std::system(command.c_str()), 0);
    TZipFile zip;
    zip.LoadFromFile(dir / "t.zip");
    ASSERT_EQ(zip.Count(), 1);
    EXPECT_EQ(zip.MemberName(0), "first.txt");
    EXPECT_EQ(zip.Extract(0), "");
}

TEST(ZipFile, ReadsArchivesOfTheZipCommand) {
    TempDir dir;
    const std::string readme = "read me first; read me first\n";
    const std::string data = "data in a folder below the package folder\n";
    std::filesystem::create_directories(dir / "pkg/sub");
    WriteFile(dir / "pkg/readme.txt", readme);
    WriteFile(dir / "pkg/sub/data.bin", data + data);
    // The zip command stores extra fields (times, owner) after each name, and a folder entry of its own.
    const std::string command = "cd '" + dir.path() + "' && zip -q -r t.zip pkg && printf streamed | zip -q - - > s.zip";
    ASSERT_EQ(std::system(command.c_str()), 0);
    TZipFile zip;
    zip.LoadFromFile(dir / "t.zip");
    std::map<std::string, std::string> members;
    for (int index = 0; index < zip.Count(); ++index) members[zip.MemberName(index)] = zip.Extract(index);
    EXPECT_EQ(members, (std::map<std::string, std::string>{
                           {"pkg/", ""}, {"pkg/readme.txt", readme}, {"pkg/sub/", ""}, {"pkg/sub/data.bin", data + data}}));
    EXPECT_GT(zip.Entries().front().ExtraFieldLength, 0);

    // Streaming from standard input, the zip command moves the sizes into a Zip64 extra field, which this
    // reader does not interpret: the member is listed and fails cleanly instead of yielding wrong bytes.
    TZipFile streamed;
    streamed.LoadFromFile(dir / "s.zip");
    ASSERT_EQ(streamed.Count(), 1);
    EXPECT_EQ(streamed.MemberName(0), "-");
    EXPECT_THROW(streamed.Extract(0), EZipFileCRCError);
}
