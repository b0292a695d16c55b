#pragma once
// Whether each entry of a client run needs work, asked in catalogue order by the run, while a helper thread
// answers the same question from the far end of the list: on an up-to-date machine every file is opened and
// read, and two threads share that. The helper only reads. Its answers are dropped as soon as the run changes
// something that a later answer may depend on (a file written or removed, the main program started); from then
// on each entry is checked when its turn comes.
#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

#include "catalogue/catalogue.h"

class TUpToDateChecks {
public:
    explicit TUpToDateChecks(const std::vector<TUpdateElementRec>& entries);
    ~TUpToDateChecks();
    TUpToDateChecks(const TUpToDateChecks&) = delete;
    TUpToDateChecks& operator=(const TUpToDateChecks&) = delete;

    // NeedsUpdate of the entry; indexes must come in increasing order.
    bool NeedsUpdate(std::size_t index);
    // Stops the helper and forgets its answers; the run calls it before it changes anything.
    void Abandon();

private:
    enum State : unsigned char { Open, Claimed, NeedsWork, Current, Failed };

    void AnswerFromTheEnd();

    const std::vector<TUpdateElementRec>& entries_;
    std::unique_ptr<std::atomic<unsigned char>[]> states_;
    std::atomic<bool> stop_{false};
    bool abandoned_ = false;
    std::thread helper_;
};
