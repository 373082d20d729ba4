#pragma once
// BMP encoding, into memory (tests, fuzzing) or into an open file (SavePicture).

#include "pictures/picture.h"

#include <QByteArray>
#include <QString>

namespace penumbrix {

// `picture` as an uncompressed bottom-up BMP: 24 bits, or 32 bits with
// alpha (bit fields B, G, R, A) for a picture with alpha, with the opened
// file's resolution. Throws RuntimeError InvalidPicture for a null picture.
QByteArray encodeBmp(const Picture& picture);

// The same BMP written to the open file `fd` from its start, with the
// cores sharing the encoding and the disk starting on each piece as soon as
// it is written. Throws RuntimeError with `path` when a write fails.
void writeBmpFile(const Picture& picture, int fd, const QString& path);

// The size of the file encodeBmp writes for a 24-bit picture of this size.
qint64 encodedBmpSize(int width, int height);
// The size of the file encodeBmp writes for `picture`.
qint64 encodedBmpSize(const Picture& picture);

} // namespace penumbrix
