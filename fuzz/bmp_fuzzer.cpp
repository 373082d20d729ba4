// libFuzzer target: BMP decoding from memory, then a save and reload of
// whatever decoded.
//
// A decoded pixel that nothing wrote shows as a non-opaque pixel: picture
// memory comes zeroed from the system, and run.sh makes the allocator fill
// any other fresh memory with 0xbe.

#include "pictures/bmp_reader.h"
#include "pictures/bmp_writer.h"
#include "files/runtime_error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (row[x] >> 24 != 0xff)
                fail("pixel not written (or not opaque)");
        }
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
