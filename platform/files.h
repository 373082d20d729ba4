#pragma once

#include <QString>

namespace penumbrix {

// True when both names lead to one existing file on disk (the same device
// and inode), however each is spelled: relative parts, links, hard links.
bool isSameFile(const QString& a, const QString& b);

} // namespace penumbrix
