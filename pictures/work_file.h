#pragma once

#include <QString>

#include "files/user_files.h"
#include "pictures/picture.h"

namespace penumbrix {

// The apply pass's work file, of one running copy of the program. The
// first copy takes the given name in the data folder; a copy started while
// that one is held takes the name with "-2", "-3" ... before its extension.
// A copy holds its file locked (flock) from its first write to its end, so
// no two copies ever write or read back one file. The folder is the one
// openDataFolder trusts, and the file is the user's alone (0600). Whatever
// else is at a name (another owner's file, a link, a folder) is removed
// where the user may remove it, and otherwise passed over for the next name.
// The file goes when its WorkFile goes, if its name still leads to it.
//
// The file holds a BMP of 32 bits a pixel in the picture's own byte order,
// so that writing it and loading it back copy the pixels and convert none.
// It is rewritten in place and not flushed to disk: it is read back at once
// and never holds the only copy of anything.
class WorkFile {
public:
    WorkFile(QString folder, QString name);
    ~WorkFile();
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;

    // Writes the picture and returns the path to read it back from: the
    // file held (/proc/self/fd/N), whatever has been put at its name since.
    // A failed write removes what it wrote. Throws RuntimeError: what
    // openDataFolder throws, permission denied, disk full.
    QString save(const Picture& picture);
    // The file this copy holds, or the name it will try first.
    const QString& path() const { return path_; }

private:
    void claim(FileDescriptor folder);
    void release();
    // The file held is a plain file of one name, and that name is `leaf_`.
    bool stillNamed(int folder) const;

    QString folder_;
    QString name_;
    QString path_;
    QByteArray leaf_; // path_'s name in the folder
    FileDescriptor dir_; // the folder the file was made in
    int fd_ = -1;
};

} // namespace penumbrix
