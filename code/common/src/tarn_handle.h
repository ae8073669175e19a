// Scope ownership for handles of the Xxx_Create/Xxx_Delete convention, so every exit path releases them.
#pragma once

template <typename Object, void (*Delete)(Object **)> class OwnedHandle {
public:
    OwnedHandle() = default;
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;
    ~OwnedHandle() {
        if (object_ != nullptr) {
            Delete(&object_);
        }
    }

    // What Xxx_Create fills in; it stays null when the creation fails.
    Object **Address() { return &object_; }
    Object *Get() const { return object_; }
    Object *operator->() const { return object_; }

private:
    Object *object_ = nullptr;
};
