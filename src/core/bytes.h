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

// Growing a byte buffer leaves the new bytes uninitialised: every byte is
// written before it counts, and zeroing 100 MB first would cost as much as
// converting it. Large buffers get huge pages.
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

using Bytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;
using ByteView = std::span<const std::uint8_t>;

} // namespace varnook
