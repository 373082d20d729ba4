#pragma once
// BMP encoding, into memory (tests, fuzzing) or into an open file (SavePicture).

#include "platform/pictures/picture.h"

#include <QByteArray>
#include <QString>

namespace penumbrix {

// `picture` as an uncompressed 24-bit bottom-up BMP. Throws RuntimeError
// InvalidPicture for a null picture.
QByteArray encodeBmp(const Picture& picture);

// The same BMP written to the open file `fd` from its start, with the
// cores sharing the encoding and the disk starting on each piece as soon as
// it is written. Throws RuntimeError with `path` when a write fails.
void writeBmpFile(const Picture& picture, int fd, const QString& path);

// The size of the file encodeBmp writes for a picture of this size.
qint64 encodedBmpSize(int width, int height);

} // namespace penumbrix
