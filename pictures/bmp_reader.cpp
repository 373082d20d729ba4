#include "pictures/bmp_reader.h"

#include "engine/parallel.h"
#include "pictures/bmp_format.h"
#include "pictures/memory.h"
#include "files/runtime_error.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace penumbrix {

qint64 MemoryBmpSource::read(qint64 offset, void* out, qint64 length)
{
    if (offset < 0 || offset >= bytes_.size() || length <= 0)
        return 0;
    const qint64 n = std::min(length, bytes_.size() - offset);
    std::memcpy(out, bytes_.constData() + offset, size_t(n));
    return n;
}

namespace {

using namespace bmp;

// Enough for the largest header, the masks after a short one and a full palette.
constexpr qint64 kHeadBytes = kFileHeaderSize + 124 + 256 * 4;
// Palette rows go through a buffer of about this size.
constexpr qint64 kChunkBytes = qint64(1) << 20;
// Palette pictures of more pixels than this are refused.
constexpr qint64 kPaletteMaxPixels = qint64(16384) * 16384;
// Run-length data can skip whole areas with a few bytes; a picture this small
// may rely on that however short its data.
constexpr qint64 kRunLengthFreePixels = qint64(1) << 18;

enum Compression : quint32 {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kAlphaBitFields = 6,
};

[[noreturn]] void invalid(const QString& path, const char* why)
{
    throw RuntimeError(RuntimeError::InvalidPicture, path, QString::fromLatin1(why));
}

[[noreturn]] void tooLarge(const QString& path)
{
    throw RuntimeError(RuntimeError::OutOfMemory, path, QStringLiteral("picture too large"));
}

// What the headers say, checked against the size of the file.
struct Layout {
    qint64 width = 0;
    qint64 height = 0;
    bool topDown = false;
    int bitCount = 0;
    quint32 compression = kRgb;
    quint32 redMask = 0, greenMask = 0, blueMask = 0;
    quint32 alphaMask = 0; // bit fields only; 0: no alpha channel
    FileTraits traits;     // the resolution fields and whether there is alpha
    qint64 paletteOffset = 0;
    int paletteCount = 0;
    int paletteEntrySize = 4;
    qint64 dataOffset = 0;
    qint64 dataAvailable = 0;
    qint64 rowBytes = 0;
    bool usualOrder = false; // 24-bit, or 32-bit with the bytes B, G, R, X
    bool pictureOrder = false; // 32-bit with the bytes R, G, B, X: a picture's own words

    qint64 pixels() const { return width * height; }
    bool runLength() const { return compression == kRle4 || compression == kRle8; }
    bool bitFields() const { return compression == kBitFields || compression == kAlphaBitFields; }
};

Layout parseLayout(const uchar* head, qint64 headSize, qint64 fileSize, const QString& path)
{
    if (headSize < kFileHeaderSize + 4 || head[0] != 'B' || head[1] != 'M')
        invalid(path, "not a BMP file");
    const quint32 offBits = get32(head + 10);
    const quint32 infoSize = get32(head + 14);
    const bool core = infoSize == 12;
    const bool windows = infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108
        || infoSize == 124;
    const bool os2 = !windows && infoSize >= 16 && infoSize <= 64; // OS/2 2.x, any length
    if (!core && !windows && !os2)
        invalid(path, "unknown header size");
    if (headSize < kFileHeaderSize + qint64(infoSize))
        invalid(path, "header cut short");
    const uchar* info = head + kFileHeaderSize;
    // OS/2 2.x headers may stop after any field; the missing ones are zero.
    const auto field32 = [&](quint32 at) { return at + 4 <= infoSize ? get32(info + at) : 0u; };

    Layout l;
    qint64 planes = 0;
    qint64 height = 0;
    quint32 coloursUsed = 0;
    if (core) {
        l.width = get16(info + 4);
        height = get16(info + 6);
        planes = get16(info + 8);
        l.bitCount = get16(info + 10);
    } else {
        l.width = qint32(get32(info + 4));
        height = qint32(get32(info + 8));
        planes = get16(info + 12);
        l.bitCount = get16(info + 14);
        l.compression = field32(16);
        coloursUsed = field32(32);
        if (infoSize >= 32) {
            l.traits.hasResolution = true;
            l.traits.xPelsPerMeter = qint32(field32(24));
            l.traits.yPelsPerMeter = qint32(field32(28));
        }
    }
    if (planes != 1)
        invalid(path, "bad number of planes");
    if (l.width <= 0 || height == 0 || height == INT_MIN)
        invalid(path, "bad picture size");
    l.topDown = height < 0;
    l.height = l.topDown ? -height : height;

    const int bits = l.bitCount;
    bool valid = false;
    if (os2 && l.compression > kRle4) {
        valid = false; // OS/2 Huffman and 24-bit run-length coding: not read
    } else if (l.compression == kRgb) {
        valid = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24
            || bits == 32;
    } else if (l.compression == kRle8) {
        valid = bits == 8;
    } else if (l.compression == kRle4) {
        valid = bits == 4;
    } else if (l.bitFields()) {
        valid = bits == 16 || bits == 32;
    }
    if (!valid)
        invalid(path, "unsupported kind of BMP");

    qint64 structuresEnd = kFileHeaderSize + infoSize;
    if (l.bitFields()) {
        const uchar* masks = info + 40;
        if (infoSize == 40) {
            structuresEnd += l.compression == kAlphaBitFields ? 16 : 12;
            if (headSize < structuresEnd)
                invalid(path, "header cut short");
        }
        l.redMask = get32(masks);
        l.greenMask = get32(masks + 4);
        l.blueMask = get32(masks + 8);
        // The alpha mask follows the colour masks: in the header from its
        // third version on, or after a short header with alpha bit fields.
        if (infoSize >= 56 || (infoSize == 40 && l.compression == kAlphaBitFields))
            l.alphaMask = get32(masks + 12);
        l.traits.alpha = l.alphaMask != 0;
    } else if (bits == 16) {
        l.redMask = 0x7c00;
        l.greenMask = 0x03e0;
        l.blueMask = 0x001f;
    } else if (bits > 16) {
        l.redMask = 0xff0000;
        l.greenMask = 0x00ff00;
        l.blueMask = 0x0000ff;
    }
    l.usualOrder = (bits == 24 || bits == 32) && l.redMask == 0xff0000 && l.greenMask == 0x00ff00
        && l.blueMask == 0x0000ff && l.alphaMask == 0;
    l.pictureOrder = bits == 32 && l.redMask == 0x0000ff && l.greenMask == 0x00ff00 && l.blueMask == 0xff0000
        && l.alphaMask == 0;

    if (bits <= 8) {
        l.paletteEntrySize = core ? 3 : 4;
        l.paletteOffset = structuresEnd;
        const qint64 most = qint64(1) << bits;
        qint64 count = coloursUsed != 0 && coloursUsed < most ? coloursUsed : most;
        // The pixels' offset bounds the palette (old files give no count).
        if (offBits > structuresEnd)
            count = std::min(count, (offBits - structuresEnd) / l.paletteEntrySize);
        if (count < 1)
            invalid(path, "no palette");
        l.paletteCount = int(count);
        structuresEnd += count * l.paletteEntrySize;
    }

    // A bogus offset pointing back into the headers is taken as "right after them".
    l.dataOffset = std::max<qint64>(offBits, structuresEnd);
    if (l.dataOffset >= fileSize)
        invalid(path, "no pixel data");
    l.dataAvailable = fileSize - l.dataOffset;
    l.rowBytes = (l.width * bits + 31) / 32 * 4;

    if (l.runLength()) {
        if (l.topDown)
            invalid(path, "top-down run-length data");
        // Each byte pair paints at most 255 pixels, apart from the codes that
        // skip ahead; only small pictures may rely on those.
        if (l.pixels() > kRunLengthFreePixels
            && (l.pixels() - kRunLengthFreePixels) / 255 > l.dataAvailable / 2 + 1)
            invalid(path, "run-length data too short for the picture");
    } else {
        // The last row's padding may be missing.
        const qint64 lastRow = (l.width * bits + 7) / 8;
        if (l.height - 1 > l.dataAvailable / l.rowBytes
            || (l.height - 1) * l.rowBytes + lastRow > l.dataAvailable)
            invalid(path, "pixel data cut short");
    }

    if (l.pixels() > kMaxPicturePixels || (bits <= 8 && l.pixels() > kPaletteMaxPixels))
        tooLarge(path);
    return l;
}

// ---------------------------------------------------------------------------
// Pixel conversions into a picture.

void bgr24ToPicture(const uchar* __restrict src, quint32* __restrict dst, qint64 n)
{
    qint64 i = 0;
    for (; i + 1 < n; ++i) // a 4-byte load reaches into the next pixel
        dst[i] = swapRedBlue(load32(src + 3 * i)) | 0xff000000u;
    for (; i < n; ++i)
        dst[i] = quint32(src[3 * i + 2]) | quint32(src[3 * i + 1]) << 8
            | quint32(src[3 * i]) << 16 | 0xff000000u;
}

void rgbx32ToPicture(const uchar* __restrict src, quint32* __restrict dst, qint64 n)
{
    for (qint64 i = 0; i < n; ++i)
        dst[i] = load32(src + 4 * i) | 0xff000000u;
}

void bgrx32ToPicture(const uchar* __restrict src, quint32* __restrict dst, qint64 n)
{
    for (qint64 i = 0; i < n; ++i)
        dst[i] = swapRedBlue(load32(src + 4 * i)) | 0xff000000u;
}

#if defined(__SSE2__)
// Four pixels stored: past the cache into a whole new picture where `dst`
// is on a 16-byte boundary (Stream), plainly otherwise.
template <bool Stream>
inline void storeFour(quint32* dst, __m128i v)
{
    if (Stream && (quintptr(dst) & 15) == 0)
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst), v);
    else
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
}
#endif

#ifdef PENUMBRIX_X86
// Into a whole picture, Stream: up to a 16-byte boundary of the picture's
// row, then whole stores that bypass the cache, since the picture is far
// larger than the cache and is not read again before the conversion ends.
// Into a band that is read again at once, plain stores.
template <bool Stream>
__attribute__((target("ssse3"))) void bgr24ToPictureSsse3(const uchar* __restrict src,
                                                           quint32* __restrict dst, qint64 n)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    qint64 i = 0;
    if constexpr (Stream) {
        const qint64 head = std::min<qint64>(n, qint64((16 - (quintptr(dst) & 15)) & 15) / 4);
        if ((quintptr(dst) & 3) == 0) {
            bgr24ToPicture(src, dst, head);
            i = head;
        }
    }
    // A 16-byte load covers 4 pixels and a third: stop while 16 bytes remain.
    for (; i + 6 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
        storeFour<Stream>(dst + i, _mm_or_si128(_mm_shuffle_epi8(v, order), opaque));
    }
    if constexpr (Stream)
        _mm_sfence();
    bgr24ToPicture(src + 3 * i, dst + i, n - i);
}

__attribute__((target("ssse3"))) void bgrx32ToPictureSsse3(const uchar* __restrict src,
                                                            quint32* __restrict dst, qint64 n)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    qint64 i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_or_si128(_mm_shuffle_epi8(v, order), opaque));
    }
    bgrx32ToPicture(src + 4 * i, dst + i, n - i);
}

#endif

#if defined(__SSE2__)
// Words already in the picture's order: the top byte made opaque, written
// past the cache into a new picture (Stream) or plainly into a band.
template <bool Stream>
void rgbx32ToPictureSse2(const uchar* __restrict src, quint32* __restrict dst, qint64 n)
{
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    qint64 i = 0;
    if constexpr (Stream) {
        i = std::min<qint64>(n, qint64((16 - (quintptr(dst) & 15)) & 15) / 4);
        if ((quintptr(dst) & 3) != 0)
            i = n;
        rgbx32ToPicture(src, dst, i);
    }
    for (; i + 4 <= n; i += 4) {
        storeFour<Stream>(dst + i, _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i)), opaque));
    }
    if constexpr (Stream)
        _mm_sfence();
    rgbx32ToPicture(src + 4 * i, dst + i, n - i);
}
#endif

using ToPicture = void (*)(const uchar*, quint32*, qint64);

// Stream: the converters for a whole new picture, otherwise those for a band.
template <bool Stream>
struct Converters {
    ToPicture bgr24 = bgr24ToPicture;
    ToPicture bgrx32 = bgrx32ToPicture;
    ToPicture rgbx32 = rgbx32ToPicture;
    Converters()
    {
#if defined(__SSE2__)
        rgbx32 = rgbx32ToPictureSse2<Stream>;
#endif
#ifdef PENUMBRIX_X86
        if (__builtin_cpu_supports("ssse3")) {
            bgr24 = bgr24ToPictureSsse3<Stream>;
            bgrx32 = bgrx32ToPictureSsse3;
        }
#endif
    }
};

template <bool Stream = true>
const Converters<Stream>& converters()
{
    static const Converters<Stream> c;
    return c;
}

// 16-bit pixels and 32-bit ones in another order: each channel's bits are
// widened to 8 with rounding, so that full scale stays full scale.
class BitFields {
public:
    // The alpha channel, where there is one, goes into the top byte.
    explicit BitFields(const Layout& l) : bytes_(l.bitCount / 8), opaque_(l.alphaMask ? 0u : 0xff000000u)
    {
        const Channel red(l.redMask), green(l.greenMask), blue(l.blueMask), alpha(l.alphaMask);
        if (bytes_ == 2) {
            whole_.resize(65536);
            for (quint32 v = 0; v < 65536; ++v)
                whole_[v] = red(v) | green(v) << 8 | blue(v) << 16 | alpha(v) << 24 | opaque_;
        } else {
            channels_ = {red, green, blue, alpha};
        }
    }

    void operator()(const uchar* src, quint32* dst, qint64 n) const
    {
        if (bytes_ == 2) {
            for (qint64 i = 0; i < n; ++i)
                dst[i] = whole_[get16(src + 2 * i)];
            return;
        }
        for (qint64 i = 0; i < n; ++i) {
            const quint32 v = load32(src + 4 * i);
            dst[i] = channels_[0](v) | channels_[1](v) << 8 | channels_[2](v) << 16 | channels_[3](v) << 24
                | opaque_;
        }
    }

private:
    struct Channel {
        explicit Channel(quint32 mask) : mask(mask)
        {
            if (mask == 0) {
                levels.assign(1, 0);
                return;
            }
            shift = std::countr_zero(mask);
            quint64 most = mask >> shift;
            drop = std::max(0, int(std::bit_width(most)) - 16); // wider fields: their top 16 bits
            most >>= drop;
            levels.resize(size_t(most + 1));
            for (quint64 v = 0; v <= most; ++v)
                levels[size_t(v)] = uchar((v * 255 + most / 2) / most);
        }
        quint32 operator()(quint32 v) const { return levels[(v & mask) >> shift >> drop]; }

        quint32 mask;
        int shift = 0;
        int drop = 0;
        std::vector<uchar> levels;
    };

    int bytes_;
    quint32 opaque_;
    std::vector<quint32> whole_;    // 16-bit: every pixel value
    std::vector<Channel> channels_; // 32-bit
};

// ---------------------------------------------------------------------------

Picture allocatePicture(qint64 width, qint64 height, const QString& path)
{
    Picture picture = newPicture(int(width), int(height));
    if (picture.isNull())
        tooLarge(path);
    return picture;
}

void readExactly(BmpSource& source, qint64 offset, void* out, qint64 length, const QString& path)
{
    if (source.read(offset, out, length) != length)
        invalid(path, "file changed while being read");
}

// 16, 24 and 32 bits: rows converted straight into the picture's memory.
template <typename Convert>
Picture decodeDirect(BmpSource& source, const Layout& l, const QString& path, const Convert& convert)
{
    Picture picture = allocatePicture(l.width, l.height, path);
    const qint64 pixelBytes = l.bitCount / 8;
    const qint64 rowPixelBytes = l.width * pixelBytes;
    uchar* const bits = picture.bits();
    const qint64 stride = picture.bytesPerLine();
    const auto row = [&](qint64 fileRow) {
        const qint64 y = l.topDown ? fileRow : l.height - 1 - fileRow;
        return reinterpret_cast<quint32*>(bits + y * stride);
    };
    // Large pictures are split by rows across the cores, each part through a
    // buffer of its own that stays in the core's cache.
    const qint64 minimumRows = std::max<qint64>(1, kPartBytes / (l.width * 4));
    if (const uchar* all = source.data()) {
        inParts(l.height, minimumRows, [&](qint64 begin, qint64 end) {
            for (qint64 r = begin; r < end; ++r)
                convert(all + l.dataOffset + r * l.rowBytes, row(r), l.width);
        });
        return picture;
    }

    if (l.rowBytes <= kReadBytes) {
        // Many rows per read.
        const qint64 rowsPerChunk = kReadBytes / l.rowBytes;
        inParts(l.height, minimumRows, [&](qint64 begin, qint64 end) {
            const Buffer buffer(rowsPerChunk * l.rowBytes);
            for (qint64 r = begin; r < end; r += rowsPerChunk) {
                const qint64 n = std::min(rowsPerChunk, end - r);
                readExactly(source, l.dataOffset + r * l.rowBytes, buffer.get(),
                            (n - 1) * l.rowBytes + rowPixelBytes, path);
                for (qint64 k = 0; k < n; ++k)
                    convert(buffer.get() + k * l.rowBytes, row(r + k), l.width);
            }
        });
    } else {
        // Very wide rows, read in pieces.
        const qint64 piecePixels = kReadBytes / pixelBytes;
        inParts(l.height, minimumRows, [&](qint64 begin, qint64 end) {
            const Buffer buffer(piecePixels * pixelBytes);
            for (qint64 r = begin; r < end; ++r) {
                for (qint64 x = 0; x < l.width; x += piecePixels) {
                    const qint64 n = std::min(piecePixels, l.width - x);
                    readExactly(source, l.dataOffset + r * l.rowBytes + x * pixelBytes, buffer.get(),
                                n * pixelBytes, path);
                    convert(buffer.get(), row(r) + x, n);
                }
            }
        });
    }
    return picture;
}

// Palette pictures: each index looked up in the palette as its row is read,
// without any help from threads (opening must work where none can start).
// Indexes past the palette are black.
struct Palette {
    quint32 colour[256];

    Palette(BmpSource& source, const Layout& l, const QString& path)
    {
        uchar entries[256 * 4];
        readExactly(source, l.paletteOffset, entries, qint64(l.paletteCount) * l.paletteEntrySize, path);
        std::fill(colour, colour + 256, kBlack);
        for (int i = 0; i < l.paletteCount; ++i) {
            const uchar* e = entries + i * l.paletteEntrySize; // blue, green, red
            colour[i] = quint32(e[2]) | quint32(e[1]) << 8 | quint32(e[0]) << 16 | kBlack;
        }
    }
    static constexpr quint32 kBlack = 0xff000000u;
};

void indexedRow(const uchar* src, quint32* dst, qint64 n, int bits, const Palette& palette)
{
    if (bits == 8) {
        for (qint64 x = 0; x < n; ++x)
            dst[x] = palette.colour[src[x]];
        return;
    }
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (qint64 x = 0; x < n; ++x) // the first pixel in the highest bits
        dst[x] = palette.colour[src[x / perByte] >> (8 - bits - bits * (x % perByte)) & mask];
}

Picture decodeIndexed(BmpSource& source, const Layout& l, const QString& path)
{
    const Palette palette(source, l, path);
    Picture picture = allocatePicture(l.width, l.height, path);
    const qint64 lastRow = (l.width * l.bitCount + 7) / 8; // a last row may lack its padding
    const qint64 rowsPerChunk = std::max<qint64>(1, kChunkBytes / l.rowBytes);
    const std::unique_ptr<uchar[]> buffer(new uchar[size_t(rowsPerChunk * l.rowBytes)]);
    for (qint64 r = 0; r < l.height; r += rowsPerChunk) {
        const qint64 n = std::min(rowsPerChunk, l.height - r);
        readExactly(source, l.dataOffset + r * l.rowBytes, buffer.get(), (n - 1) * l.rowBytes + lastRow, path);
        for (qint64 k = 0; k < n; ++k) {
            const qint64 y = l.topDown ? r + k : l.height - 1 - (r + k);
            indexedRow(buffer.get() + k * l.rowBytes, reinterpret_cast<quint32*>(picture.scanLine(int(y))),
                       l.width, l.bitCount, palette);
        }
    }
    return picture;
}

// The bytes of run-length data, in pieces; -1 past their end.
class ByteStream {
public:
    ByteStream(BmpSource& source, const Layout& l) : source_(source), at_(l.dataOffset), end_(l.dataOffset + l.dataAvailable) {}
    int next()
    {
        if (i_ == n_) {
            n_ = at_ < end_ ? source_.read(at_, buffer_, std::min<qint64>(sizeof buffer_, end_ - at_)) : 0;
            at_ += n_;
            i_ = 0;
            if (n_ <= 0)
                return n_ = 0, -1;
        }
        return buffer_[i_++];
    }

private:
    BmpSource& source_;
    qint64 at_, end_;
    qint64 i_ = 0, n_ = 0;
    uchar buffer_[64 * 1024];
};

// Run-length data paints at a position (x, y), y counted up from the bottom
// row. Runs, ends of rows and jumps move it; nothing is painted outside the
// picture, so a run past the right edge is cut there and data past the top
// ends the picture. Pixels the data never paints (skipped, or left when it
// ends early) have colour 0 of the palette, as in other readers.
Picture decodeRunLength(BmpSource& source, const Layout& l, const QString& path)
{
    const Palette palette(source, l, path);
    Picture picture = allocatePicture(l.width, l.height, path);
    for (qint64 y = 0; y < l.height; ++y) {
        auto* row = reinterpret_cast<quint32*>(picture.scanLine(int(y)));
        std::fill(row, row + l.width, palette.colour[0]);
    }
    ByteStream in(source, l);
    const bool four = l.compression == kRle4;
    qint64 x = 0, y = 0;
    quint32* row = reinterpret_cast<quint32*>(picture.scanLine(int(l.height - 1)));
    const auto paint = [&](int index) {
        if (x < l.width)
            row[x] = palette.colour[index];
        ++x;
    };
    const auto moveTo = [&](qint64 newX, qint64 newY) {
        x = newX;
        y = newY;
        if (y < l.height)
            row = reinterpret_cast<quint32*>(picture.scanLine(int(l.height - 1 - y)));
    };
    while (y < l.height) {
        const int count = in.next();
        const int value = in.next();
        if (value < 0)
            break;
        if (count > 0) { // a run of one index, or of two alternating ones
            for (int i = 0; i < count; ++i)
                paint(!four ? value : i % 2 == 0 ? value >> 4 : value & 15);
        } else if (value == 0) {
            moveTo(0, y + 1);
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            const int dx = in.next();
            const int dy = in.next();
            if (dy < 0)
                break;
            moveTo(x + dx, y + dy);
        } else { // `value` indexes as they are, padded to whole 16-bit words
            const int bytes = four ? (value + 1) / 2 : value;
            int b = 0;
            for (int i = 0; i < value && b >= 0; ++i) {
                if (!four || i % 2 == 0)
                    b = in.next();
                if (b >= 0)
                    paint(!four ? b : i % 2 == 0 ? b >> 4 : b & 15);
            }
            if (b < 0 || (bytes % 2 == 1 && in.next() < 0))
                break;
        }
    }
    return picture;
}

} // namespace

Picture decodeBmp(BmpSource& source, const QString& path)
{
    try {
        uchar head[kHeadBytes];
        const qint64 headSize = source.read(0, head, kHeadBytes);
        const Layout layout = parseLayout(head, headSize, source.size(), path);
        Picture picture;
        if (layout.runLength())
            picture = decodeRunLength(source, layout, path);
        else if (layout.bitCount <= 8)
            picture = decodeIndexed(source, layout, path);
        else if (layout.pictureOrder)
            picture = decodeDirect(source, layout, path, converters().rgbx32);
        else if (!layout.usualOrder)
            picture = decodeDirect(source, layout, path, BitFields(layout));
        else
            picture = decodeDirect(source, layout, path,
                                   layout.bitCount == 24 ? converters().bgr24 : converters().bgrx32);
        setFileTraits(picture, layout.traits);
        return picture;
    } catch (const std::bad_alloc&) {
        tooLarge(path);
    }
}

Picture decodeBmp(const QByteArray& bytes, const QString& path)
{
    MemoryBmpSource source(bytes);
    return decodeBmp(source, path);
}

struct BmpBands::State {
    BmpSource& source;
    QString path;
    Layout layout;
    ToPicture convert = nullptr;
    std::optional<BitFields> bitFields;
};

BmpBands::BmpBands(BmpSource& source, const QString& path)
{
    uchar head[kHeadBytes];
    const qint64 headSize = source.read(0, head, kHeadBytes);
    d_.reset(new State{source, path, parseLayout(head, headSize, source.size(), path), nullptr, std::nullopt});
    const Layout& l = d_->layout;
    // The converter decodeBmp picks, in its form for a band.
    if (l.runLength() || l.bitCount <= 8)
        return;
    if (l.pictureOrder)
        d_->convert = converters<false>().rgbx32;
    else if (!l.usualOrder)
        d_->bitFields.emplace(l);
    else
        d_->convert = l.bitCount == 24 ? converters<false>().bgr24 : converters<false>().bgrx32;
}

BmpBands::~BmpBands() = default;

bool BmpBands::direct() const { return d_->convert || d_->bitFields; }
int BmpBands::width() const { return int(d_->layout.width); }
int BmpBands::height() const { return int(d_->layout.height); }
const FileTraits& BmpBands::traits() const { return d_->layout.traits; }
qint64 BmpBands::bufferBytes(qint64 rows) const { return rows * d_->layout.rowBytes; }

void BmpBands::read(qint64 top, qint64 n, quint32* out, qsizetype stride, uchar* buffer) const
{
    const Layout& l = d_->layout;
    if (n <= 0 || !direct())
        return;
    // The band's rows lie together in the file, bottom row first unless top-down.
    const qint64 first = l.topDown ? top : l.height - top - n;
    readExactly(d_->source, l.dataOffset + first * l.rowBytes, buffer,
                (n - 1) * l.rowBytes + l.width * (l.bitCount / 8), d_->path);
    for (qint64 k = 0; k < n; ++k) {
        const qint64 y = l.topDown ? k : n - 1 - k;
        const uchar* row = buffer + k * l.rowBytes;
        if (d_->convert)
            d_->convert(row, out + y * stride, l.width);
        else
            (*d_->bitFields)(row, out + y * stride, l.width);
    }
}

} // namespace penumbrix
