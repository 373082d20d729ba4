#include "pictures/bmp_writer.h"

#include "engine/parallel.h"
#include "pictures/bmp_format.h"
#include "pictures/memory.h"
#include "files/user_files.h"
#include "files/runtime_error.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <fcntl.h>

namespace penumbrix {

qint64 encodedBmpSize(int width, int height)
{
    using namespace bmp;
    return kFileHeaderSize + kInfoHeaderSize + (qint64(width) * 3 + 3) / 4 * 4 * height;
}

namespace {

using namespace bmp;

// A picture with alpha is written as 32 bits a pixel, B, G, R, A, described
// by a version 4 header with bit fields, which keeps the alpha for every
// reader that knows it; any other picture as 24 bits under the short header.
constexpr qint64 kV4HeaderSize = 108;
constexpr quint32 kBitFields = 3;
constexpr quint32 kSrgb = 0x73524742; // 'sRGB'

struct Form {
    bool alpha = false;
    qint64 infoBytes() const { return alpha ? kV4HeaderSize : kInfoHeaderSize; }
    qint64 headerBytes() const { return kFileHeaderSize + infoBytes(); }
    int pixelBytes() const { return alpha ? 4 : 3; }
    qint64 rowBytes(qint64 width) const { return (width * pixelBytes() + 3) / 4 * 4; }
};

Form formOf(const Picture& picture) { return {fileTraits(picture).alpha}; }

qint64 fileSize(const Form& form, qint64 width, qint64 height)
{
    return form.headerBytes() + form.rowBytes(width) * height;
}

} // namespace

qint64 encodedBmpSize(const Picture& picture)
{
    return fileSize(formOf(picture), picture.width(), picture.height());
}

namespace {

// Bytes past a BMP row the 24-bit writer may touch.
constexpr qint64 kWriteSlack = 16;

// Writes n pixels as B, G, R bytes; writes (and clobbers) up to 4 bytes past
// them (the SSSE3 version; the plain one, 1).
void pictureToBgr24(const quint32* __restrict src, uchar* __restrict dst, qint64 n)
{
    for (qint64 i = 0; i < n; ++i) {
        const quint32 v = swapRedBlue(src[i]);
        std::memcpy(dst + 3 * i, &v, 4);
    }
}

#ifdef PENUMBRIX_X86
__attribute__((target("ssse3"))) void pictureToBgr24Ssse3(const quint32* __restrict src,
                                                           uchar* __restrict dst, qint64 n)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    qint64 i = 0;
    // Each store writes 16 bytes of which the next 4 pixels overwrite the last 4.
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, order));
    }
    pictureToBgr24(src + i, dst + 3 * i, n - i);
}
#endif

using FromPicture = void (*)(const quint32*, uchar*, qint64);

FromPicture toBgr24()
{
#ifdef PENUMBRIX_X86
    static const FromPicture best = __builtin_cpu_supports("ssse3") ? pictureToBgr24Ssse3 : pictureToBgr24;
    return best;
#else
    return pictureToBgr24;
#endif
}

// Writes n pixels as B, G, R, A bytes.
void pictureToBgra32(const quint32* __restrict src, uchar* __restrict dst, qint64 n)
{
    for (qint64 i = 0; i < n; ++i) {
        const quint32 v = swapRedBlue(src[i]) | (src[i] & 0xff000000u);
        std::memcpy(dst + 4 * i, &v, 4);
    }
}

// The resolution a picture's file gets: the opened file's, as it was; a
// picture of the program's own gets Qt's.
QPoint headerResolution(const Picture& p)
{
    const FileTraits traits = fileTraits(p);
    return traits.hasResolution ? QPoint(traits.xPelsPerMeter, traits.yPelsPerMeter)
                                : QPoint(std::max(0, p.dotsPerMeterX()), std::max(0, p.dotsPerMeterY()));
}

// The headers of the BMP that encodeBmp writes, into `out`.
void putBmpHeaders(qint64 width, qint64 height, const Form& form, QPoint resolution, uchar* out)
{
    const qint64 headerBytes = form.headerBytes();
    const qint64 fileBytes = fileSize(form, width, height);
    std::memset(out, 0, size_t(headerBytes));
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, fileBytes <= UINT_MAX ? quint32(fileBytes) : 0u);
    put32(out + 10, quint32(headerBytes));
    uchar* info = out + kFileHeaderSize;
    put32(info, quint32(form.infoBytes()));
    put32(info + 4, quint32(width));
    put32(info + 8, quint32(height));
    put16(info + 12, 1);
    put16(info + 14, quint32(8 * form.pixelBytes()));
    const qint64 imageBytes = fileBytes - headerBytes;
    put32(info + 20, imageBytes <= UINT_MAX ? quint32(imageBytes) : 0u);
    put32(info + 24, quint32(resolution.x()));
    put32(info + 28, quint32(resolution.y()));
    if (form.alpha) {
        put32(info + 16, kBitFields);
        put32(info + 40, 0x00ff0000u); // red
        put32(info + 44, 0x0000ff00u); // green
        put32(info + 48, 0x000000ffu); // blue
        put32(info + 52, 0xff000000u); // alpha
        put32(info + 56, kSrgb);
    }
}

// `n` file rows, padded, into `out`: the first from the picture row at
// `first`, each next one `step` words on (negative: up the picture, as a
// bottom-up file goes).
void putBmpRows(const quint32* first, qsizetype step, qint64 n, qint64 width, const Form& form, uchar* out)
{
    const FromPicture convert = form.alpha ? pictureToBgra32 : toBgr24();
    const qint64 rowBytes = form.rowBytes(width);
    const qint64 pixelBytes = width * form.pixelBytes();
    for (qint64 k = 0; k < n; ++k) {
        uchar* o = out + k * rowBytes;
        convert(first + k * step, o, width);
        std::memset(o + pixelBytes, 0, size_t(rowBytes - pixelBytes));
    }
}

Picture inPictureFormat(const Picture& picture)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, {}, QStringLiteral("no picture to save"));
    return picture.format() == kPictureFormat ? picture : toPicture(picture);
}

// The rows of a picture, from the top, `stride` words apart.
const quint32* topRow(const Picture& p) { return reinterpret_cast<const quint32*>(p.constBits()); }
qsizetype strideOf(const Picture& p) { return p.bytesPerLine() / 4; }

} // namespace

BmpBandWriter::BmpBandWriter(int width, int height, bool alpha, QPoint resolution, int fd, const QString& path)
    : width_(width), height_(height), alpha_(alpha), resolution_(resolution), fd_(fd), path_(path)
{
}

qint64 BmpBandWriter::fileSize() const { return penumbrix::fileSize(Form{alpha_}, width_, height_); }

qint64 BmpBandWriter::bufferBytes(qint64 width, bool alpha, qint64 rows)
{
    return rows * Form{alpha}.rowBytes(width) + kWriteSlack;
}

void BmpBandWriter::writeAt(const uchar* data, qint64 length, qint64 offset) const
{
    writeFully(fd_, offset, data, length, path_);
#if defined(SYNC_FILE_RANGE_WRITE)
    // The disk starts on these bytes now, while the rest is encoded, so
    // the flush that ends the save has little left to wait for.
    ::sync_file_range(fd_, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
#endif
}

void BmpBandWriter::writeHeader() const
{
    const Form form{alpha_};
    uchar header[kFileHeaderSize + kV4HeaderSize];
    putBmpHeaders(width_, height_, form, resolution_, header);
    writeAt(header, form.headerBytes(), 0);
}

void BmpBandWriter::write(qint64 top, qint64 n, const quint32* rows, qsizetype stride, uchar* buffer) const
{
    if (n <= 0)
        return;
    const Form form{alpha_};
    // Bottom-up: the band's last row comes first in the file.
    putBmpRows(rows + (n - 1) * stride, -stride, n, width_, form, buffer);
    writeAt(buffer, n * form.rowBytes(width_), form.headerBytes() + (height_ - top - n) * form.rowBytes(width_));
}

void writeBmpFile(const Picture& picture, int fd, const QString& path)
{
    const Picture p = inPictureFormat(picture);
    const BmpBandWriter out(p.width(), p.height(), fileTraits(p).alpha, headerResolution(p), fd, path);
    out.writeHeader();
    // Each core encodes and writes a part of the rows, a buffer at a time.
    // The buffers are small, so that the disk starts on the first bytes soon.
    const qint64 rowBytes = Form{fileTraits(p).alpha}.rowBytes(p.width());
    const qint64 rowsPerChunk = std::max<qint64>(1, kReadBytes / rowBytes);
    inParts(p.height(), std::max<qint64>(1, kPartBytes / rowBytes), [&](qint64 begin, qint64 end) {
        const Buffer buffer(out.bufferBytes(rowsPerChunk));
        for (qint64 r = begin; r < end; r += rowsPerChunk) {
            const qint64 n = std::min(rowsPerChunk, end - r);
            out.write(r, n, topRow(p) + r * strideOf(p), strideOf(p), buffer.get());
        }
    });
}

QByteArray encodeBmp(const Picture& picture)
{
    const Picture p = inPictureFormat(picture);
    const Form form = formOf(p);
    const qint64 size = fileSize(form, p.width(), p.height());
    QByteArray bytes(size + kWriteSlack, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(bytes.data());
    putBmpHeaders(p.width(), p.height(), form, headerResolution(p), out);
    putBmpRows(topRow(p) + (p.height() - 1) * strideOf(p), -strideOf(p), p.height(), p.width(), form,
               out + form.headerBytes());
    bytes.truncate(size);
    return bytes;
}

} // namespace penumbrix
