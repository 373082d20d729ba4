#pragma once

#include "pictures/picture.h"

namespace penumbrix {

// Keeps the memory of released small blocks in the process for the next
// ones instead of handing it back to the system at once.
void keepPictureMemoryForReuse();

// A new picture in kPictureFormat whose pixels are not yet set, or a null
// picture when there is no memory for it. A large picture gets memory of
// its own in 2 MiB pages, taken from the system in one step: a fresh 100 MB
// picture in 4 KiB pages costs some 25,000 page faults, more than reading a
// file into it. When the last copy of the picture goes, its memory is kept
// ready for the next picture of the same size, in place of the one kept
// before, which goes back to the system.
Picture newPicture(int width, int height);

// The same for an image of another format, such as a view's scaled copy.
QImage newImage(int width, int height, QImage::Format format);

// A buffer the codecs fill and drain a part of a picture at a time. Its
// pages are all put in place in one step: faulting them in one by one costs
// more than filling them. Throws std::bad_alloc when there is no memory.
class Buffer {
public:
    explicit Buffer(qsizetype bytes);
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    uchar* get() const { return data_; }

private:
    uchar* data_;
    size_t length_;
};

} // namespace penumbrix
