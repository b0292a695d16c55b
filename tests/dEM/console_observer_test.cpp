// What a person at a console reads of a windowless run, on a console that rewrites lines with control sequences
// and on one that takes none (Windows 7 and 8.1), where a sequence would show as junk.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "dEM/dEM.h"

namespace {

// Everything the observer wrote while the run went by.
std::string Watched(const TConsoleOutput& output, const std::function<void(TRunObserver&)>& run) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    TConsoleOutput into = output;
    into.stream = stream;
    run(*MakeConsoleObserver("Client run", into));
    std::string text(static_cast<size_t>(std::ftell(stream)), '\0');
    std::rewind(stream);
    text.resize(std::fread(text.data(), 1, text.size(), stream));
    std::fclose(stream);
    return text;
}

// A long progress line, a shorter one over it, an entry's line over that, a remark, and the run's end.
void SomeRun(TRunObserver& observer) {
    observer.DownloadProgress("http://h/a.zip", 2 * 1048576, 4 * 1048576);
    observer.DownloadProgress("http://h/a.zip", 3, 0);
    observer.EntryDone(TEntryOutcome::Copied, "/p/a.dat", "");
    observer.EntryDone(TEntryOutcome::UpToDate, "/p/b.dat", "");
    observer.Remark("difference of /p/c.dat not used (its download failed: Socket Error\r\nreset); fetching it");
    observer.RunEnded(0, "");
}

TEST(ConsoleObserver, ProgressIsRewrittenInPlaceWithOrWithoutControlSequencesAndOffATerminalOnlyAFailureShows) {
    const std::string longer = "  downloading http://h/a.zip  2.0 MB of 4.0 MB (50%)";
    const std::string shorter = "  downloading http://h/a.zip  3 bytes";
    const std::string entry = "copied   /p/a.dat";
    // A remark is one line, shown only to a person at a terminal: it is no fault.
    const std::string remark =
        "difference of /p/c.dat not used (its download failed: Socket Error reset); fetching it\n";
    const std::string end = "Client run finished: 1 copied, 1 up to date.\n";
    const auto blanks = [](size_t over, size_t by) { return std::string(over - by, ' '); };
    struct Case {
        const char* console;
        TConsoleOutput output;
        std::string expected;
    };
    const Case cases[] = {
        {"erase sequences", {nullptr, true, true},
         "\r\033[K" + longer + "\r\033[K" + shorter + "\r\033[K" + entry + "\n" + remark + end},
        // Blanks cover what a shorter line leaves of a longer one; no escape character is ever written.
        {"plain text", {nullptr, true, false},
         "\r" + longer + "\r" + shorter + blanks(longer.size(), shorter.size()) + "\r" + entry +
             blanks(shorter.size(), entry.size()) + "\n" + remark + end},
        {"no terminal", {nullptr, false, false}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Watched(c.output, SomeRun), c.expected) << c.console;
        // A run that stops says why in one line, whoever reads it.
        const std::string stopped = Watched(c.output, [](TRunObserver& observer) {
            observer.RunEnded(196, "Socket Error # 10061\r\nConnection refused.");
        });
        EXPECT_EQ(stopped, "Client run stopped with exit status 196: Socket Error # 10061 Connection refused.\n")
            << c.console;
    }
}

}  // namespace
