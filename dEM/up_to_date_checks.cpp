#include "dEM/up_to_date_checks.h"

#include <system_error>

namespace {
// Below this many entries a thread costs more than it saves.
constexpr std::size_t kFewestEntriesForHelp = 64;
}  // namespace

TUpToDateChecks::TUpToDateChecks(const std::vector<TUpdateElementRec>& entries)
    : entries_(entries), states_(std::make_unique<std::atomic<unsigned char>[]>(entries.size())) {
    for (std::size_t i = 0; i < entries.size(); ++i) states_[i].store(Open, std::memory_order_relaxed);
    if (entries.size() < kFewestEntriesForHelp) {
        abandoned_ = true;
        return;
    }
    try {
        helper_ = std::thread([this] { AnswerFromTheEnd(); });
    } catch (const std::system_error&) {
        abandoned_ = true;  // no thread to be had: the run checks every entry itself
    }
}

TUpToDateChecks::~TUpToDateChecks() { Abandon(); }

void TUpToDateChecks::AnswerFromTheEnd() {
    for (std::size_t i = entries_.size(); i-- > 0 && !stop_.load(std::memory_order_relaxed);) {
        unsigned char open = Open;
        // Where the run has claimed an entry, it has reached the helper's part of the list.
        if (!states_[i].compare_exchange_strong(open, Claimed, std::memory_order_acq_rel)) return;
        unsigned char answer = Failed;
        try {
            answer = ::NeedsUpdate(entries_[i]) ? NeedsWork : Current;
        } catch (...) {
            // The run checks this entry itself and meets the failure there.
        }
        states_[i].store(answer, std::memory_order_release);
    }
}

bool TUpToDateChecks::NeedsUpdate(std::size_t index) {
    if (abandoned_) return ::NeedsUpdate(entries_[index]);
    unsigned char state = Open;
    if (states_[index].compare_exchange_strong(state, Claimed, std::memory_order_acq_rel))
        return ::NeedsUpdate(entries_[index]);
    // The helper has it: its answer is a few microseconds away at most.
    while ((state = states_[index].load(std::memory_order_acquire)) == Claimed) std::this_thread::yield();
    return state == Failed ? ::NeedsUpdate(entries_[index]) : state == NeedsWork;
}

void TUpToDateChecks::Abandon() {
    abandoned_ = true;
    stop_.store(true, std::memory_order_relaxed);
    if (helper_.joinable()) helper_.join();
}
