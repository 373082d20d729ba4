#include "platform/memory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace penumbrix {

void keepPictureMemoryForReuse()
{
#if defined(__GLIBC__)
    // Large blocks come from the heap rather than mappings of their own (which
    // go back to the system when released), and the heap's top is trimmed
    // only past 1 GiB of free space, so a released picture's pages stay mapped
    // for the next one.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}

} // namespace penumbrix
