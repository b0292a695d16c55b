#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/other_user.h"
#include "tests/support/shared_block.h"

namespace {

using Opening = platform::SharedMemoryBlock::Opening;
using testsupport::PlantSharedBlock;
using testsupport::SharedBlockText;

// A name of its own per test run, so parallel runs do not meet.
std::string BlockName() { return "/orvane-test-block-" + std::to_string(::getpid()); }

TEST(SharedMemory, TextTravelsFromAnotherProcessAndRemovalEmptiesTheName) {
    const std::string name = BlockName();
    platform::SharedMemoryBlock reader(name, 260, Opening::CreateFresh);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(reader.ReadText(), "");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::SharedMemoryBlock writer(name, 260, Opening::OpenExisting);
        ::_exit(writer.WriteText("&code=X&version=1.0") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(reader.ReadText(), "&code=X&version=1.0");

    EXPECT_TRUE(reader.Remove());
    EXPECT_FALSE(reader.Remove());
    EXPECT_EQ(reader.ReadText(), "&code=X&version=1.0");  // the open block outlives the name
    EXPECT_FALSE(platform::SharedMemoryBlock(name, 260, Opening::OpenExisting).IsOpen());
    platform::SharedMemoryBlock fresh(name, 260, Opening::CreateFresh);
    EXPECT_EQ(fresh.ReadText(), "");
    EXPECT_TRUE(fresh.Remove());
}

TEST(SharedMemory, TextsThatDoNotFitAreRefusedWhole) {
    const std::string name = BlockName() + "-small";
    platform::SharedMemoryBlock block(name, 8, Opening::CreateFresh);
    ASSERT_TRUE(block.IsOpen());
    EXPECT_TRUE(block.WriteText("1234567"));
    EXPECT_FALSE(block.WriteText("12345678"));
    EXPECT_EQ(block.ReadText(), "1234567");
    // Opening expects at least the size the creator gave it.
    EXPECT_FALSE(platform::SharedMemoryBlock(name, 9, Opening::OpenExisting).IsOpen());
    EXPECT_TRUE(block.Remove());
    EXPECT_FALSE(platform::SharedMemoryBlock("/bad/name", 8, Opening::CreateFresh).IsOpen());
}

TEST(SharedMemory, ABlockOthersMayOpenIsNeverUsedAndAFreshOneReplacesIt) {
    const std::string name = BlockName() + "-open";
    for (const mode_t mode : {0644, 0666, 0620}) {
        PlantSharedBlock(name, 260, mode, "&code=false");
        EXPECT_FALSE(platform::SharedMemoryBlock(name, 260, Opening::OpenExisting).IsOpen()) << mode;
        platform::SharedMemoryBlock fresh(name, 260, Opening::CreateFresh);
        ASSERT_TRUE(fresh.IsOpen()) << mode;
        EXPECT_EQ(fresh.ReadText(), "") << mode;
        EXPECT_TRUE(platform::SharedMemoryBlock(name, 260, Opening::OpenExisting).IsOpen()) << mode;
        EXPECT_TRUE(fresh.Remove());
    }

    // A fresh block is the owner's to read and write, whatever the creator's file mode mask.
    const mode_t savedMask = ::umask(0277);
    platform::SharedMemoryBlock fresh(name, 260, Opening::CreateFresh);
    ::umask(savedMask);
    EXPECT_EQ(testsupport::SharedBlockMode(name), mode_t{0600});
    EXPECT_TRUE(fresh.Remove());
}

TEST(SharedMemory, ABlockOfAnotherUserIsNeitherUsedNorRemoved) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can leave a block that belongs to another user";
    const std::string name = BlockName() + "-foreign";
    PlantSharedBlock(name, 260, 0600, "&code=false", testsupport::kNobody);
    EXPECT_FALSE(platform::SharedMemoryBlock(name, 260, Opening::OpenExisting).IsOpen());
    platform::SharedMemoryBlock fresh(name, 260, Opening::CreateFresh);
    EXPECT_FALSE(fresh.IsOpen());
    EXPECT_EQ(fresh.ReadText(), "");
    EXPECT_EQ(SharedBlockText(name), "&code=false");
    ::shm_unlink(name.c_str());
}

TEST(SharedMemory, ABlockThatShrinksReadsShortInsteadOfFaulting) {
    const std::string name = BlockName() + "-shrunk";
    platform::SharedMemoryBlock block(name, 260, Opening::CreateFresh);
    ASSERT_TRUE(block.WriteText("&code=X"));
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ::close(fd);
    EXPECT_EQ(block.ReadText(), "");
    EXPECT_TRUE(block.Remove());
}

}  // namespace
