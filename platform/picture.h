#pragma once
// Pictures and BMP files.
//
// A Picture is an implicitly shared QImage, held by reference: assigning it
// to a view or surface shares it, and nothing ever changes a picture's
// pixels in place (writes land on a surface's own image). Every picture the
// program makes is in kPictureFormat, in which each pixel read as a 32-bit
// integer holds its colour value 0x00BBGGRR in the low 24 bits (the top byte is 0xFF), so the
// adjustment kernel runs straight on a picture's memory.

#include <QImage>
#include <QString>

#include <bit>

namespace penumbrix {

struct UserFile;

static_assert(std::endian::native == std::endian::little,
              "pixels are stored as 0xXXBBGGRR words on a little-endian machine");

using Picture = QImage;
inline constexpr QImage::Format kPictureFormat = QImage::Format_RGBX8888;

// The largest picture the program takes on, in pixels.
inline constexpr qint64 kMaxPicturePixels = 400'000'000;

// Reads a BMP file, judged by its content, from wherever the kernel finds `path`. Throws RuntimeError: file or path
// not found, permission denied, invalid picture (no BMP, or one that can't
// be read), out of memory (too large to hold).
Picture LoadPicture(const QString& path);

// Writes an uncompressed 24-bit BMP over the file found (replaceFileContent:
// a failed save leaves the old file as it was; a replaced file keeps its
// owners, mode, ACLs, extended attributes and hard links). Throws
// RuntimeError.
void SavePicture(const Picture& picture, const UserFile& file);
// The same, to wherever `path` leads now.
void SavePicture(const Picture& picture, const QString& path);

// Converts any image into the program's picture format.
Picture toPicture(const QImage& image);

} // namespace penumbrix
