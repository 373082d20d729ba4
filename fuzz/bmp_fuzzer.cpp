// libFuzzer target: BMP decoding from memory, the same file read a band of
// rows at a time as the batch reads it, then a save and reload of whatever
// decoded.
//
// A decoded pixel that nothing wrote shows as a non-opaque pixel (in a
// picture without alpha): picture memory comes zeroed from the system, and
// run.sh makes the allocator fill any other fresh memory with 0xbe.

#include "pictures/bmp_reader.h"
#include "pictures/bmp_writer.h"
#include "files/runtime_error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace penumbrix;

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bmp_fuzzer: %s\n", what);
    std::abort();
}

void checkPicture(const Picture& picture)
{
    if (picture.isNull() || picture.format() != kPictureFormat)
        fail("decoded picture is null or in the wrong format");
    if (qint64(picture.width()) * picture.height() > kMaxPicturePixels)
        fail("decoded picture larger than the program takes");
    if (fileTraits(picture).alpha)
        return;
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (row[x] >> 24 != 0xff)
                fail("pixel not written (or not opaque)");
        }
    }
}

// The bands of a file that decoded, seven rows at a time, against its picture.
void checkBands(const QByteArray& bytes, const Picture& picture)
{
    MemoryBmpSource source(bytes);
    const BmpBands bands(source, QStringLiteral("fuzz"));
    if (!bands.direct())
        return;
    if (bands.width() != picture.width() || bands.height() != picture.height())
        fail("bands of another size than the picture");
    constexpr qint64 kRows = 7;
    std::vector<uchar> buffer(size_t(bands.bufferBytes(kRows)));
    std::vector<quint32> band(size_t(kRows * bands.width()));
    for (qint64 top = 0; top < bands.height(); top += kRows) {
        const qint64 n = std::min(kRows, bands.height() - top);
        bands.read(top, n, band.data(), bands.width(), buffer.data());
        for (qint64 k = 0; k < n; ++k)
            if (std::memcmp(band.data() + k * bands.width(), picture.constScanLine(int(top + k)), size_t(bands.width()) * 4) != 0)
                fail("a band differs from the picture");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    Picture picture;
    try {
        picture = decodeBmp(bytes, QStringLiteral("fuzz"));
    } catch (const RuntimeError& e) {
        if (e.code() != RuntimeError::InvalidPicture && e.code() != RuntimeError::OutOfMemory)
            fail("unexpected error number");
        return 0;
    }
    checkPicture(picture);
    try {
        checkBands(bytes, picture);
    } catch (const RuntimeError&) {
        fail("a file that decoded can't be read in bands");
    }

    const QByteArray saved = encodeBmp(picture);
    if (saved.size() != encodedBmpSize(picture))
        fail("saved file has the wrong size");
    try {
        if (decodeBmp(saved) != picture)
            fail("saved picture reads back different");
    } catch (const RuntimeError&) {
        fail("saved picture doesn't read back");
    }
    return 0;
}
