#include "pictures/picture_files.h"

#include "engine/parallel.h"
#include "engine/pixel_transform.h"
#include "pictures/bmp_format.h"
#include "pictures/bmp_reader.h"
#include "pictures/bmp_writer.h"
#include "pictures/memory.h"
#include "files/save.h"
#include "files/runtime_error.h"

#include <QFile>

#include <cerrno>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace penumbrix {
namespace {

class FileBmpSource final : public BmpSource {
public:
    FileBmpSource(int fd, qint64 size, const QString& path) : fd_(fd), size_(size), path_(path) {}
    qint64 size() const override { return size_; }
    qint64 read(qint64 offset, void* out, qint64 length) override
    {
        qint64 done = 0;
        while (done < length) {
            const ssize_t n = ::pread(fd_, static_cast<char*>(out) + done, size_t(length - done),
                                      off_t(offset + done));
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw fileError(errno, path_, false);
            }
            done += n;
        }
        return done;
    }

private:
    int fd_;
    qint64 size_;
    QString path_;
};

// A user's file opened for reading as a picture, from wherever the kernel
// finds `path`: no text of it is resolved here.
FileDescriptor openPictureFile(const QString& path, struct stat& st)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a named pipe can't hang the open.
    const int fd = name.isEmpty() ? -1 : ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw openFailure(name.isEmpty() ? ENOENT : errno, path);
    FileDescriptor file(fd);
    if (::fstat(fd, &st) != 0)
        throw fileError(errno, path, false);
    if (S_ISDIR(st.st_mode))
        throw fileError(EISDIR, path, false);
    if (!S_ISREG(st.st_mode))
        throw RuntimeError(RuntimeError::InvalidPicture, path, QStringLiteral("not a file"));
    return file;
}

// A band's memory, kept by each thread from one band and picture to the next.
constexpr qint64 kMostBandBytes = qint64(16) << 20;

uchar* bandMemory(qint64 bytes)
{
    thread_local std::unique_ptr<Buffer> kept;
    thread_local qint64 keptBytes = 0;
    if (keptBytes < bytes) {
        kept.reset();
        keptBytes = 0;
        kept = std::make_unique<Buffer>(bytes);
        keptBytes = bytes;
    }
    return kept->get();
}

} // namespace

Picture LoadPicture(const QString& path)
{
    struct stat st;
    const FileDescriptor file = openPictureFile(path, st);
    FileBmpSource source(file.get(), st.st_size, path);
    return decodeBmp(source, path);
}

qint64 adjustPictureFile(const QString& path, const UserFile& target, const AdjustmentSettings& settings)
{
    struct stat st;
    const FileDescriptor file = openPictureFile(path, st);
    FileBmpSource source(file.get(), st.st_size, path);
    const BmpBands bands(source, path); // a file that is no picture is refused before anything is written
    const qint64 width = bands.width(), height = bands.height();
    // A band of at least one row: its file bytes, its picture words and its encoded bytes.
    const qint64 rows = std::max<qint64>(1, bmp::kReadBytes / (width * 4));
    const qint64 inBytes = (bands.bufferBytes(rows) + 63) / 64 * 64, bandBytes = rows * width * 4;
    const qint64 outBytes = BmpBandWriter::bufferBytes(width, bands.traits().alpha, rows);
    if (!bands.direct() || !bands.traits().hasResolution || inBytes + bandBytes + outBytes > kMostBandBytes) {
        // Palette and run-length pictures, those whose file gives no
        // resolution (which a new picture's supplies) and rows too long for
        // a band: through the whole picture, as the window does it.
        Picture picture = decodeBmp(source, path);
        transformGrid(reinterpret_cast<std::uint32_t*>(picture.bits()), picture.width(), picture.height(),
                      picture.bytesPerLine() / 4, settings);
        SavePicture(picture, target);
        return width * height;
    }
    const FileTraits& traits = bands.traits();
    try {
        replaceFileContent(target, [&](int fd) {
            const BmpBandWriter out(int(width), int(height), traits.alpha,
                                    QPoint(traits.xPelsPerMeter, traits.yPelsPerMeter), fd, target.path);
            out.writeHeader();
            // Each band is read, adjusted and written while it is in the
            // core's cache; a large picture's parts go to the cores.
            inParts(height, std::max<qint64>(1, bmp::kPartBytes / (width * 4)), [&](qint64 begin, qint64 end) {
                uchar* memory = bandMemory(inBytes + bandBytes + outBytes);
                auto* band = reinterpret_cast<std::uint32_t*>(memory + inBytes);
                uchar* encoded = memory + inBytes + bandBytes;
                for (qint64 top = begin; top < end; top += rows) {
                    const qint64 n = std::min(rows, end - top);
                    bands.read(top, n, band, width, memory);
                    transformGrid(band, int(width), int(n), width, settings);
                    out.write(top, n, band, width, encoded);
                }
            });
            return out.fileSize();
        });
    } catch (const std::bad_alloc&) {
        throw RuntimeError(RuntimeError::OutOfMemory, target.path);
    }
    return width * height;
}

void SavePicture(const Picture& picture, const QString& path)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, path, QStringLiteral("no picture to save"));
    SavePicture(picture, saveTargetOf(path));
}

void SavePicture(const Picture& picture, const UserFile& file)
{
    if (picture.isNull())
        throw RuntimeError(RuntimeError::InvalidPicture, file.path, QStringLiteral("no picture to save"));
    try {
        replaceFileContent(file, [&](int fd) {
            writeBmpFile(picture, fd, file.path);
            return encodedBmpSize(picture);
        });
    } catch (const std::bad_alloc&) {
        throw RuntimeError(RuntimeError::OutOfMemory, file.path);
    }
}

} // namespace penumbrix
