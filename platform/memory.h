#pragma once

namespace penumbrix {

// Keeps the memory of released pictures in the process for the next picture
// instead of handing it back to the system at once. A fresh 100 MB buffer
// costs more in page faults than reading a 72 MB file into it; pictures come
// and go in the same few sizes, so the memory is reused at once.
void keepPictureMemoryForReuse();

} // namespace penumbrix
