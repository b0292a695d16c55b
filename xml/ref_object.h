#pragma once
// Reference-counted objects, the holders that keep them alive, and the notifying pointer lists the XML tree
// is built from.
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/exception.h"

// An index outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
};
[[noreturn]] void RaiseListIndexError(std::int64_t index);

// Starts with count 0; destroyed when a Release brings the count back to 0. Destruction is queued while
// another counted object is being destroyed, so tearing down a deep tree never nests destructors.
class TRefObject {
public:
    TRefObject() = default;
    TRefObject(const TRefObject&) = delete;
    TRefObject& operator=(const TRefObject&) = delete;

    virtual void Dispose() {}
    void AddRef() noexcept { ++refCount_; }
    void Release() noexcept {
        if (--refCount_ == 0) {
            Destroy();
        }
    }
    std::int32_t RefCount() const noexcept { return refCount_; }
    virtual ~TRefObject() = default;

private:
    void Destroy() noexcept;
    std::int32_t refCount_ = 0;
};

// Release for a possibly null object.
inline void ReleaseRef(TRefObject* object) noexcept {
    if (object) {
        object->Release();
    }
}

// A holder: owns one counted reference to its object, or holds nothing.
template <class T>
class TRef {
public:
    TRef() = default;
    TRef(T* object) : object_(object) {  // NOLINT: implicit, so new nodes go straight into a holder
        if (object_) {
            object_->AddRef();
        }
    }
    TRef(const TRef& other) : TRef(other.object_) {}
    TRef(TRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    TRef& operator=(TRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~TRef() { ReleaseRef(object_); }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    T& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

// Stores Object in Holder and takes a reference; whatever Holder held before is released, not leaked.
// Returns whether Object is not null.
template <class T>
bool RefAssign(TRef<T>& holder, std::type_identity_t<T>* object) {
    holder = TRef<T>(object);
    return object != nullptr;
}

// Like RefAssign, but does nothing and returns false when Holder already holds Object.
template <class T>
bool RefSet(TRef<T>& holder, std::type_identity_t<T>* object) {
    if (holder.get() == object) {
        return false;
    }
    holder = TRef<T>(object);
    return true;
}

template <class T>
void RefClear(TRef<T>& holder) {
    holder = TRef<T>();
}

// Runs the object's Dispose hook under an extra reference, then empties the holder. When Dispose raises, the
// holder keeps the object.
template <class T>
void RefDispose(TRef<T>& holder) {
    if (!holder) {
        return;
    }
    {
        TRef<T> keepAlive(holder);
        keepAlive->Dispose();
    }
    RefClear(holder);
}

// A pointer list that tells its subclasses of every item put in or taken out.
template <class T>
class TXList {
public:
    TXList() = default;
    TXList(const TXList&) = delete;
    TXList& operator=(const TXList&) = delete;
    // Virtual calls here reach this class's hooks only, so subclasses with their own hooks clear themselves.
    virtual ~TXList() { Clear(); }

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    T* Items(int index) const {
        CheckIndex(index, Count() - 1);
        return items_[static_cast<std::size_t>(index)];
    }
    int IndexOf(const T* item) const noexcept {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i] == item) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    int Add(T* item) {
        Insert(Count(), item);
        return Count() - 1;
    }
    void Insert(int index, T* item) {
        CheckIndex(index, Count());
        items_.insert(items_.begin() + index, item);
        if (item) {
            ItemAdded(item);
        }
    }
    T* ExtractItem(int index) {
        T* item = Items(index);
        items_.erase(items_.begin() + index);
        if (item) {
            ItemRemoved(item);
        }
        return item;
    }
    void Delete(int index) {
        if (T* item = ExtractItem(index)) {
            FreeItem(item);
        }
    }
    // Last to first, each item taken out of the list before it is told of.
    void Clear() {
        while (!items_.empty()) {
            T* item = items_.back();
            items_.pop_back();
            if (item) {
                ItemRemoved(item);
                FreeItem(item);
            }
        }
    }

protected:
    virtual void ItemAdded(T*) {}
    virtual void ItemRemoved(T*) {}
    virtual void FreeItem(T* item) { delete item; }

private:
    static void CheckIndex(int index, int last) {
        if (index < 0 || index > last) {
            RaiseListIndexError(index);
        }
    }

    std::vector<T*> items_;
};

// The list that holds counted references: an item put in is AddRef'ed, an item taken out Released.
class TRefObjectList : public TXList<TRefObject> {
public:
    ~TRefObjectList() override { Clear(); }

protected:
    void ItemAdded(TRefObject* item) override { item->AddRef(); }
    void ItemRemoved(TRefObject* item) override { item->Release(); }
    void FreeItem(TRefObject*) override {}
};
