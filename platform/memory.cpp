#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace penumbrix {

void keepPictureMemoryForReuse()
{
#if defined(__GLIBC__)
    // Large blocks come from the heap rather than their own mappings, and the
    // heap's top is not trimmed below 1 GiB, so a released picture's pages
    // stay mapped for the next one.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
#endif
}

} // namespace penumbrix
