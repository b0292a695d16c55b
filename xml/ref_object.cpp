#include "xml/ref_object.h"

namespace {

// Objects whose count reached 0 while another destructor of this thread was running. Draining them in a
// loop, not from inside that destructor, keeps the stack flat however deep a tree of counted objects is.
struct TDestructionQueue {
    bool draining = false;
    std::vector<TRefObject*> pending;
};
thread_local TDestructionQueue destructionQueue;

void DestroyRefObject(TRefObject* object) noexcept {
    TDestructionQueue& queue = destructionQueue;
    if (queue.draining) {
        queue.pending.push_back(object);
        return;
    }
    queue.draining = true;
    delete object;
    while (!queue.pending.empty()) {
        TRefObject* next = queue.pending.back();
        queue.pending.pop_back();
        delete next;
    }
    queue.draining = false;
}

}  // namespace

void RaiseListIndexError(std::int64_t index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

void TRefObject::Destroy() noexcept {
    // Stays at 1 during teardown, so references taken and dropped meanwhile do not destroy it twice.
    refCount_ = 1;
    DestroyRefObject(this);
}
