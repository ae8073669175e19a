// Allocation for the tarn executable, straight over malloc and free. The C++ library's own operators are
// written with exception handling (even the nothrow ones catch), and linking them pulls the unwinder's
// personality routine, the verbose terminate handler and the symbol demangler into a static binary that never
// throws: about 64 KiB of the shipped tool. Every form is replaced, so new and delete always pair.
#include <cstdlib>
#include <new>

namespace {

void *Allocate(std::size_t size) {
    return malloc(size == 0 ? 1 : size);
}

// Nothing in the product allocates with the throwing forms; if something did and memory ran out, there is no
// exception to throw, so stop rather than hand back a null the caller does not test.
void *AllocateOrAbort(std::size_t size) {
    void *pointer = Allocate(size);
    if (pointer == nullptr) {
        abort();
    }
    return pointer;
}

} // namespace

void *operator new(std::size_t size) {
    return AllocateOrAbort(size);
}
void *operator new[](std::size_t size) {
    return AllocateOrAbort(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}
void operator delete(void *pointer) noexcept {
    free(pointer);
}
void operator delete[](void *pointer) noexcept {
    free(pointer);
}
void operator delete(void *pointer, std::size_t) noexcept {
    free(pointer);
}
void operator delete[](void *pointer, std::size_t) noexcept {
    free(pointer);
}
void operator delete(void *pointer, const std::nothrow_t &) noexcept {
    free(pointer);
}
void operator delete[](void *pointer, const std::nothrow_t &) noexcept {
    free(pointer);
}
