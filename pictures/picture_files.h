#pragma once
// Pictures read from and written to the user's BMP files.

#include "pictures/picture.h"

#include <QString>

namespace penumbrix {

struct AdjustmentSettings;
struct UserFile;

// Reads a BMP file, judged by its content, from wherever the kernel finds
// `path`. Throws RuntimeError: file or path not found, permission denied,
// invalid picture (no BMP, or one that can't be read), out of memory (too
// large to hold).
Picture LoadPicture(const QString& path);

// Writes an uncompressed BMP (encodeBmp) over the file found (replaceFileContent:
// a failed save leaves the old file as it was; a replaced file keeps its
// owners, mode, ACLs, extended attributes and hard links). Throws
// RuntimeError.
void SavePicture(const Picture& picture, const UserFile& file);
// The same, to wherever `path` leads now.
void SavePicture(const Picture& picture, const QString& path);

// The picture in the BMP file at `path`, adjusted by the pixel rule and
// saved as `target`: the file SavePicture writes for LoadPicture's picture
// after transformGrid, byte for byte, but a band of rows at a time rather
// than through a whole picture in memory. The file is checked as a picture
// before anything is written; throws RuntimeError as those do. Returns the
// picture's pixels.
qint64 adjustPictureFile(const QString& path, const UserFile& target, const AdjustmentSettings& settings);

} // namespace penumbrix
