#include "platform/stream.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// Both kinds of stream must agree on positions, growth and cutting back: downloads rely on it.
void ExerciseStream(TStream& stream) {
    stream.WriteText("hello world");
    EXPECT_EQ(stream.Position(), 11);
    EXPECT_EQ(stream.Size(), 11);
    stream.SetSize(5);  // cut back: the position follows
    EXPECT_EQ(stream.Size(), 5);
    EXPECT_EQ(stream.Position(), 5);
    stream.Seek(3, TSeekOrigin::soCurrent);  // past the end; a write fills the gap with zeros
    stream.WriteText("!");
    EXPECT_EQ(stream.Size(), 9);
    stream.SetPosition(0);
    char bytes[16] = {};
    EXPECT_EQ(stream.Read(bytes, sizeof bytes), 9);
    EXPECT_EQ(std::string(bytes, 9), std::string("hello\0\0\0!", 9));
    EXPECT_EQ(stream.Read(bytes, sizeof bytes), 0);
    EXPECT_THROW(stream.ReadBuffer(bytes, 1), EStreamError);
}

}  // namespace

TEST(Streams, MemoryAndFileStreamsBehaveAlike) {
    TMemoryStream memory;
    ExerciseStream(memory);
    EXPECT_EQ(memory.Data(), std::string("hello\0\0\0!", 9));

    testsupport::TempDir dir;
    {
        TFileStream file(dir / "out.bin", TFileStream::Mode::Create);
        ExerciseStream(file);
    }
    EXPECT_EQ(testsupport::ReadFile(dir / "out.bin"), std::string("hello\0\0\0!", 9));
}

TEST(Streams, FileStreamsRefuseMissingFilesAndFolders) {
    testsupport::TempDir dir;
    EXPECT_THROW(TFileStream(dir / "missing", TFileStream::Mode::OpenRead), EFOpenError);
    // A folder would open and read as empty; it must fail instead of passing for an empty file.
    try {
        TFileStream folder(dir.path(), TFileStream::Mode::OpenRead);
        ADD_FAILURE() << "a folder opened as a file";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("Cannot open file"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(TFileStream(dir / "no/such/folder/file", TFileStream::Mode::Create), EFOpenError);
}

TEST(Streams, AFailingReadIsAnErrorNotTheEnd) {
    // The first page of a process's memory is never mapped, so the system refuses to read it: that must not
    // look like an empty file.
    TFileStream memory("/proc/self/mem", TFileStream::Mode::OpenRead);
    char byte = 0;
    EXPECT_THROW(memory.Read(&byte, 1), EStreamError);
}

TEST(Streams, AFullDeviceNamesTheReason) {
    TFileStream full("/dev/full", TFileStream::Mode::OpenReadWrite);
    try {
        full.WriteBuffer("x", 1);
        ADD_FAILURE() << "a write to a full device succeeded";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "Stream write error: No space left on device");
    }
}
