#pragma once
// BMP encoding, into memory (tests, fuzzing) or into an open file (SavePicture).

#include "pictures/picture.h"

#include <QByteArray>
#include <QPoint>
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

// The same BMP written a band of rows at a time, for a pass that never holds
// the whole picture: `alpha` and `resolution` as writeBmpFile takes them
// from a picture (its traits, or Qt's resolution for a picture without).
class BmpBandWriter {
public:
    BmpBandWriter(int width, int height, bool alpha, QPoint resolution, int fd, const QString& path);
    qint64 fileSize() const;
    // The bytes a band of `rows` rows `width` pixels wide is encoded in.
    static qint64 bufferBytes(qint64 width, bool alpha, qint64 rows);
    qint64 bufferBytes(qint64 rows) const { return bufferBytes(width_, alpha_, rows); }
    void writeHeader() const;
    // Picture rows [top, top + n), the first at `rows`, `stride` words apart,
    // encoded in `buffer` and written at their place in the file. Throws
    // RuntimeError with the path when the write fails.
    void write(qint64 top, qint64 n, const quint32* rows, qsizetype stride, uchar* buffer) const;

private:
    void writeAt(const uchar* data, qint64 length, qint64 offset) const;

    qint64 width_, height_;
    bool alpha_;
    QPoint resolution_;
    int fd_;
    QString path_;
};

// The size of the file encodeBmp writes for a 24-bit picture of this size.
qint64 encodedBmpSize(int width, int height);
// The size of the file encodeBmp writes for `picture`.
qint64 encodedBmpSize(const Picture& picture);

} // namespace penumbrix
