// The registry of temporary paths. It is read by a signal handler, so it lives in fixed storage and every slot
// is published with an atomic state only once its path is written.
#include "platform/temporary_paths.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/common/temporary_paths_internal.h"

namespace platform {

namespace {

enum SlotState : int { kFree, kWriting, kRegistered };

struct Slot {
    std::atomic<int> state{kFree};
    TemporaryPath::Kind kind = TemporaryPath::Kind::File;
    char path[kMaxTemporaryPath] = {};
};

// A run keeps a few temporaries at a time; one beyond these is still removed by its owner, only not on a signal.
Slot slots[16];

int Register(const std::string& path, TemporaryPath::Kind kind) {
    if (path.empty() || path.size() >= kMaxTemporaryPath) return -1;
    static std::once_flag handlerInstalled;
    std::call_once(handlerInstalled, InstallTerminationHandler);
    for (int i = 0; i < static_cast<int>(std::size(slots)); ++i) {
        int expected = kFree;
        if (!slots[i].state.compare_exchange_strong(expected, kWriting)) continue;
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].kind = kind;
        slots[i].state.store(kRegistered);
        return i;
    }
    return -1;
}

}  // namespace

void RemoveRegisteredPaths() {
    for (Slot& slot : slots)
        if (slot.state.load() == kRegistered) RemoveTemporary(slot.path, slot.kind);
}

TemporaryPath::TemporaryPath(std::string path, Kind kind)
    : path_(std::move(path)), kind_(kind), slot_(Register(path_, kind)) {}

TemporaryPath::~TemporaryPath() {
    if (!path_.empty()) RemoveTemporary(path_.c_str(), kind_);
    if (slot_ >= 0) slots[slot_].state.store(kFree);
}

void RemoveTemporaryPaths() { RemoveRegisteredPaths(); }

}  // namespace platform
