#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace varnook {

// Asks the kernel to back a large block by huge pages, where it offers them:
// a 100 MB file passes through several buffers, and touching them page by
// page costs more than converting them on machines where page faults are
// slow. Only advice: without huge pages the memory works as before.
void adviseHugePages(void* block, std::size_t size) noexcept;

// Default construction leaves a byte unset (see Bytes). Large buffers get
// huge pages.
template <class T> struct UninitialisedAllocator : std::allocator<T> {
    template <class U> struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    T* allocate(std::size_t count)
    {
        T* block = std::allocator<T>::allocate(count);
        adviseHugePages(block, count * sizeof(T));
        return block;
    }
    template <class U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept { }
    template <class U> void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>)
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args> void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// Asks for a byte buffer whose bytes are left unset.
struct Uninitialised { };
inline constexpr Uninitialised kUninitialised{};

// Bytes(n) holds n zeros, as a std::vector does; Bytes(n, kUninitialised)
// leaves them unset, for a buffer written whole before it counts: zeroing
// 100 MB first would cost as much as converting it. So does growing it with
// resize(n), which the hot loops use; resize(n, 0) zeroes.
class Bytes : public std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>> {
    using Base = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

public:
    using Base::Base;
    explicit Bytes(size_type count) : Base(count, 0) { }
    Bytes(size_type count, Uninitialised) : Base(count) { }
};
using ByteView = std::span<const std::uint8_t>;

} // namespace varnook
