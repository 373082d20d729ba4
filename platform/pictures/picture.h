#pragma once
// The program's picture type.
//
// A Picture is an implicitly shared QImage, held by reference: assigning it
// to a view or surface shares it, and nothing ever changes a picture's
// pixels in place (writes land on a surface's own image). Every picture the
// program makes is in kPictureFormat, in which each pixel read as a 32-bit
// integer holds its colour value 0x00BBGGRR in the low 24 bits (the top
// byte is 0xFF), so the adjustment kernel runs straight on a picture's
// memory.

#include <QImage>
#include <QString>

#include <bit>

namespace penumbrix {

static_assert(std::endian::native == std::endian::little,
              "pixels are stored as 0xXXBBGGRR words on a little-endian machine");

using Picture = QImage;
inline constexpr QImage::Format kPictureFormat = QImage::Format_RGBX8888;

// The largest picture the program takes on, in pixels.
inline constexpr qint64 kMaxPicturePixels = 400'000'000;

// Converts any image into the program's picture format.
Picture toPicture(const QImage& image);

} // namespace penumbrix
