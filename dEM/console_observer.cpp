// What a person at the console sees of a windowless run: a line per entry acted on, a download progress line
// rewritten in place, and a summary. Off a terminal (cron, a service) only what someone must act on, which the
// scheduler mails or the journal keeps: why a run stopped early or failed, and each entry a verifying run refused.
#include <cstdio>
#include <map>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/console.h"

std::string ByteCount(int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    char text[32];
    const bool megabytes = bytes >= 1024 * 1024;
    std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / (megabytes ? 1048576.0 : 1024.0),
                  megabytes ? "MB" : "KB");
    return text;
}

namespace {

// Failure texts may hold line breaks (a socket error's does); a log keeps the reason as one line.
std::string OneLine(std::string text) {
    std::string line;
    for (char c : text) {
        if (c != '\r' && c != '\n')
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    return line;
}

const char* Verb(TEntryOutcome outcome) {
    switch (outcome) {
        case TEntryOutcome::Stored: return "stored ";
        case TEntryOutcome::Copied: return "copied ";
        case TEntryOutcome::Removed: return "removed";
        case TEntryOutcome::Mismatch: return "skipped";
        case TEntryOutcome::Failed: return "failed ";
        case TEntryOutcome::Refused: return "refused";
        case TEntryOutcome::UpToDate: break;
    }
    return "current";
}

class TConsoleObserver : public TRunObserver {
public:
    TConsoleObserver(std::string modeName, const TConsoleOutput& output)
        : modeName_(std::move(modeName)), output_(output) {}

    void EntryDone(TEntryOutcome outcome, const std::string& path, const std::string& detail) override {
        ++counts_[outcome];
        // A refused entry is tampering or corruption: the scheduler must mail it too.
        if (outcome == TEntryOutcome::UpToDate || (!output_.terminal && outcome != TEntryOutcome::Refused)) return;
        WriteLine(std::string(Verb(outcome)) + "  " + path + (detail.empty() ? "" : ": " + detail));
    }

    void DownloadProgress(const std::string& url, int64_t received, int64_t total) override {
        if (!output_.terminal) return;
        std::string line = "  downloading " + url + "  " + ByteCount(received);
        if (total > 0) line += " of " + ByteCount(total) + " (" + std::to_string(received * 100 / total) + "%)";
        // Cut to the terminal's width so the carriage return always comes back to the line's start.
        const size_t width = static_cast<size_t>(platform::TerminalColumns()) - 1;
        if (line.size() > width) line = "..." + line.substr(line.size() - width + 3);
        std::fputs(OverProgress(line).c_str(), output_.stream);
        std::fflush(output_.stream);
        progressWidth_ = line.size();
    }

    void Remark(const std::string& line) override {
        if (output_.terminal) WriteLine(OneLine(line));
    }

    void RunEnded(int exitCode, const std::string& reason) override {
        if (exitCode != 0) {
            const char* ended = exitCode == ExitRefusedEntries ? " finished with exit status " : " stopped with exit status ";
            WriteLine(modeName_ + ended + std::to_string(exitCode) + ": " + OneLine(reason));
            return;
        }
        if (output_.terminal) WriteLine(modeName_ + " finished: " + Summary());
    }

private:
    void WriteLine(const std::string& line) {
        std::fputs((progressWidth_ > 0 ? OverProgress(line) : line).c_str(), output_.stream);
        std::fputs("\n", output_.stream);
        std::fflush(output_.stream);
        progressWidth_ = 0;
    }

    // The line in place of the progress line shown: after the terminal's erase sequence, or, on a console that
    // takes none (Windows before 10), with blanks over what is left of the longer line before it.
    std::string OverProgress(const std::string& line) const {
        if (output_.controlSequences) return "\r\033[K" + line;
        return "\r" + line + std::string(progressWidth_ > line.size() ? progressWidth_ - line.size() : 0, ' ');
    }

    std::string Summary() {
        const std::pair<TEntryOutcome, const char*> parts[] = {
            {TEntryOutcome::Stored, "stored"},    {TEntryOutcome::Copied, "copied"},
            {TEntryOutcome::Removed, "removed"},  {TEntryOutcome::Mismatch, "skipped"},
            {TEntryOutcome::Failed, "failed"},    {TEntryOutcome::Refused, "refused"},
            {TEntryOutcome::UpToDate, "up to date"}};
        std::string text;
        for (const auto& [outcome, name] : parts) {
            if (counts_[outcome] == 0 && outcome != TEntryOutcome::UpToDate) continue;
            text += (text.empty() ? "" : ", ") + std::to_string(counts_[outcome]) + " " + name;
        }
        return text + ".";
    }

    std::string modeName_;
    TConsoleOutput output_;
    std::map<TEntryOutcome, int> counts_;
    size_t progressWidth_ = 0;  // the length of the progress line shown; 0 when none is
};

}  // namespace

std::unique_ptr<TRunObserver> MakeConsoleObserver(const std::string& modeName) {
    const bool terminal = platform::StandardErrorIsTerminal();
    return MakeConsoleObserver(modeName, {stderr, terminal, terminal && platform::TerminalTakesControlSequences()});
}

std::unique_ptr<TRunObserver> MakeConsoleObserver(const std::string& modeName, const TConsoleOutput& output) {
    return std::make_unique<TConsoleObserver>(modeName, output);
}
