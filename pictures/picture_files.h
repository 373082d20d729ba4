#pragma once
// Pictures read from and written to the user's BMP files.

#include "pictures/picture.h"

#include <QString>

namespace penumbrix {

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

} // namespace penumbrix
