#pragma once
// BMP decoding, apart from files so that it runs from memory as well (tests,
// fuzzing) as from an open file (LoadPicture).
//
// Every kind is converted here, row by row, straight into the picture's
// memory: 16, 24 and 32 bits (with any bit fields), and palette pictures of
// 1, 2, 4 and 8 bits, run-length encoded or not.

#include "pictures/picture.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace penumbrix {

// Where a BMP's bytes come from.
class BmpSource {
public:
    virtual ~BmpSource() = default;
    virtual qint64 size() const = 0;
    // Copies up to `length` bytes from `offset` into `out`; returns how many
    // were copied (fewer only at the end of the data). Throws RuntimeError
    // on a read failure.
    virtual qint64 read(qint64 offset, void* out, qint64 length) = 0;
    // All the bytes, when they are in memory; null otherwise.
    virtual const uchar* data() const { return nullptr; }
};

class MemoryBmpSource final : public BmpSource {
public:
    explicit MemoryBmpSource(const QByteArray& bytes) : bytes_(bytes) {}
    qint64 size() const override { return bytes_.size(); }
    qint64 read(qint64 offset, void* out, qint64 length) override;
    const uchar* data() const override
    {
        return reinterpret_cast<const uchar*>(bytes_.constData());
    }

private:
    QByteArray bytes_;
};

// Decodes a BMP into a picture in kPictureFormat. Throws RuntimeError with
// `path`: InvalidPicture for anything that isn't a BMP this program reads
// (or is cut short), OutOfMemory for a picture too large to hold. The header
// is checked against the size of the data before any picture memory is
// taken, so a hostile header costs nothing.
Picture decodeBmp(BmpSource& source, const QString& path);
Picture decodeBmp(const QByteArray& bytes, const QString& path = {});

// A BMP of 16, 24 or 32 bits a pixel read a band of rows at a time, each row
// converted as decodeBmp converts it: for a pass from one file into another
// that never holds the whole picture.
class BmpBands {
public:
    // Reads and checks the headers as decodeBmp does, and throws as it does.
    BmpBands(BmpSource& source, const QString& path);
    ~BmpBands();
    BmpBands(const BmpBands&) = delete;
    BmpBands& operator=(const BmpBands&) = delete;

    // False for palette and run-length pictures, which decodeBmp alone reads.
    bool direct() const;
    int width() const;
    int height() const;
    const FileTraits& traits() const;
    // The bytes of the file one band of `rows` rows passes through.
    qint64 bufferBytes(qint64 rows) const;
    // Picture rows [top, top + n) into `out`, in the picture's words, `stride`
    // words from one row to the next, read through `buffer`. Throws
    // RuntimeError when the file can't be read or has become shorter.
    void read(qint64 top, qint64 n, quint32* out, qsizetype stride, uchar* buffer) const;

private:
    struct State;
    std::unique_ptr<State> d_;
};

} // namespace penumbrix
