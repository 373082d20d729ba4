#include "platform/memory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#include <mutex>

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace penumbrix {

namespace {

constexpr qsizetype kLargePage = qsizetype(2) << 20;

struct Mapping {
    void* address;
    size_t length;
};

// The memory of the picture released last, kept ready for the next picture
// of the same size: the apply pass releases the work surface's image just
// before it loads the work file's picture of the same size into it.
std::mutex readyLock;
Mapping ready{nullptr, 0};

void unmapPicture(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    {
        const std::lock_guard<std::mutex> lock(readyLock);
        std::swap(ready, *mapping);
    }
    if (mapping->address)
        ::munmap(mapping->address, mapping->length);
    delete mapping;
}

void* takeReady(size_t length)
{
    const std::lock_guard<std::mutex> lock(readyLock);
    if (!ready.address || ready.length != length)
        return nullptr;
    void* address = ready.address;
    ready = {nullptr, 0};
    return address;
}

} // namespace

void keepPictureMemoryForReuse()
{
#if defined(__GLIBC__)
    // The heap's top is trimmed only past 64 MiB of free space, so the
    // memory of short-lived blocks stays mapped for the next ones.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

Picture newPicture(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    const qsizetype rowBytes = qsizetype(width) * 4;
    const qsizetype bytes = rowBytes * height;
    if (bytes < 4 * kLargePage)
        return Picture(width, height, kPictureFormat);
    const size_t length = size_t((bytes + kLargePage - 1) / kLargePage * kLargePage);
    void* address = takeReady(length);
    if (!address) {
        address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (address == MAP_FAILED)
            return {};
#if defined(MADV_HUGEPAGE)
        ::madvise(address, length, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
        // All the pages at once, rather than a fault at the first touch of each.
        ::madvise(address, length, MADV_POPULATE_WRITE);
#endif
    }
    auto* mapping = new Mapping{address, length};
    Picture picture(static_cast<uchar*>(address), width, height, rowBytes, kPictureFormat, unmapPicture, mapping);
    if (picture.isNull())
        unmapPicture(mapping);
    return picture;
}

} // namespace penumbrix
