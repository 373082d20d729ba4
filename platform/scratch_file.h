#pragma once

#include <QString>

#include "pictures/picture.h"

namespace penumbrix {

// Writes a picture as a BMP file for the program's own work file: 32 bits a
// pixel in the picture's own byte order, so that writing it and loading it
// back copy the pixels and convert none. The file is rewritten in place and
// not flushed to disk: it is read back at once and never holds the only
// copy of anything, so it needs neither the atomic replacement nor the
// flush that protect the user's files. Throws RuntimeError: path not found,
// permission denied, disk full.
void SaveScratchPicture(const Picture& picture, const QString& path);

} // namespace penumbrix
