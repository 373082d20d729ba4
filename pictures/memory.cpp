#include "pictures/memory.h"

#include "engine/parallel.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#include <algorithm>
#include <mutex>
#include <new>

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace penumbrix {

namespace {

constexpr qsizetype kLargePage = qsizetype(2) << 20;
constexpr qsizetype kSmallPage = qsizetype(4) << 10;

struct Mapping {
    void* address;
    size_t length;
};

// The memory of the large picture released last, kept ready for the next
// picture of the same size: the apply pass releases the work surface's image just
// before it loads the work file's picture of the same size into it.
std::mutex readyLock;
Mapping ready{nullptr, 0};

void unmapPicture(void* info)
{
    auto* mapping = static_cast<Mapping*>(info);
    if (mapping->length >= size_t(4 * kLargePage)) {
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

// A fresh mapping with every page in place, rather than faulted in at its
// first touch. A large one is in 2 MiB pages, put in place on every core:
// each is cleared as it is taken, and where the system has to fetch free
// memory back first (a virtual machine's host), that takes its time too.
void* mapPopulated(size_t length)
{
    void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED)
        return nullptr;
#if defined(MADV_POPULATE_WRITE)
    auto* bytes = static_cast<char*>(address);
#if defined(MADV_HUGEPAGE)
    if (length >= size_t(4 * kLargePage)) {
        ::madvise(address, length, MADV_HUGEPAGE);
        inParts(std::int64_t(length / kLargePage), 2, [&](std::int64_t begin, std::int64_t end) {
            const size_t last = std::min<size_t>(length, size_t(end) * kLargePage);
            ::madvise(bytes + begin * kLargePage, last - size_t(begin) * kLargePage, MADV_POPULATE_WRITE);
        });
        return address;
    }
#endif
    ::madvise(bytes, length, MADV_POPULATE_WRITE);
#endif
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

QImage newImage(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return {};
    const qsizetype rowBytes = (qsizetype(width) * QImage::toPixelFormat(format).bitsPerPixel() + 31) / 32 * 4;
    const qsizetype bytes = rowBytes * height;
    const qsizetype unit = bytes < 4 * kLargePage ? kSmallPage : kLargePage;
    const size_t length = size_t((bytes + unit - 1) / unit * unit);
    void* address = takeReady(length);
    if (!address)
        address = mapPopulated(length);
    if (!address)
        return {};
    auto* mapping = new Mapping{address, length};
    QImage image(static_cast<uchar*>(address), width, height, rowBytes, format, unmapPicture, mapping);
    if (image.isNull())
        unmapPicture(mapping);
    return image;
}

Picture newPicture(int width, int height) { return newImage(width, height, kPictureFormat); }

Buffer::Buffer(qsizetype bytes)
    : data_(nullptr), length_(size_t((std::max<qsizetype>(bytes, 1) + kSmallPage - 1) / kSmallPage * kSmallPage))
{
    data_ = static_cast<uchar*>(mapPopulated(length_));
    if (!data_)
        throw std::bad_alloc();
}

Buffer::~Buffer() { ::munmap(data_, length_); }

} // namespace penumbrix
