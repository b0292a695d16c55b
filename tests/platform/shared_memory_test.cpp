#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// A name of its own per test run, so parallel runs do not meet.
std::string BlockName() { return "/orvane-test-block-" + std::to_string(::getpid()); }

TEST(SharedMemory, TextTravelsFromAnotherProcessAndRemovalEmptiesTheName) {
    const std::string name = BlockName();
    platform::SharedMemoryBlock reader(name, 260);
    ASSERT_TRUE(reader.IsOpen());
    EXPECT_EQ(reader.ReadText(), "");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::SharedMemoryBlock writer(name, 260);
        ::_exit(writer.WriteText("&code=X&version=1.0") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(reader.ReadText(), "&code=X&version=1.0");

    EXPECT_TRUE(reader.Remove());
    EXPECT_FALSE(reader.Remove());
    EXPECT_EQ(reader.ReadText(), "&code=X&version=1.0");  // the mapping outlives the name
    platform::SharedMemoryBlock fresh(name, 260);
    EXPECT_EQ(fresh.ReadText(), "");
    EXPECT_TRUE(fresh.Remove());
}

TEST(SharedMemory, TextsThatDoNotFitAreRefusedWhole) {
    const std::string name = BlockName() + "-small";
    platform::SharedMemoryBlock block(name, 8);
    ASSERT_TRUE(block.IsOpen());
    EXPECT_TRUE(block.WriteText("1234567"));
    EXPECT_FALSE(block.WriteText("12345678"));
    EXPECT_EQ(block.ReadText(), "1234567");
    EXPECT_TRUE(block.Remove());
    EXPECT_FALSE(platform::SharedMemoryBlock("/bad/name", 8).IsOpen());
}

}  // namespace
