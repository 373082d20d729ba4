#include "platform/pictures/picture.h"

#include "platform/files/runtime_error.h"

namespace penumbrix {

Picture toPicture(const QImage& image)
{
    if (image.isNull() || image.format() == kPictureFormat)
        return image;
    // Qt keeps the colour of non-premultiplied pixels and un-premultiplies
    // the others; the alpha becomes opaque.
    Picture picture = image.convertToFormat(kPictureFormat);
    if (picture.isNull())
        throw RuntimeError(RuntimeError::OutOfMemory);
    return picture;
}

} // namespace penumbrix
