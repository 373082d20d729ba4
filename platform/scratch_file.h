#pragma once

#include <QString>

#include "platform/picture.h"

namespace penumbrix {

// Writes a picture as SavePicture does, but for the program's own work file:
// the file is rewritten in place and not flushed to disk. It is read back at
// once and never holds the only copy of anything, so it needs neither the
// atomic replacement nor the flush that protect the user's files, and
// rewriting its pages in the cache is several times faster than making a new
// file. Throws RuntimeError: path not found, permission denied, disk full.
void SaveScratchPicture(const Picture& picture, const QString& path);

} // namespace penumbrix
