#pragma once

#include <QString>

namespace penumbrix {

// Writes a synthetic width x height picture as a 24-bit BMP into `folder`
// and prints how long LoadPicture and SavePicture take against a plain read
// and a plain (QSaveFile) write of as many bytes.
void benchPictureFiles(const QString& folder, int width, int height);

} // namespace penumbrix
