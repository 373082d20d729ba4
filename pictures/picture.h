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
//
// A picture read from a file also carries what the file held that the
// colour rule never touches (FileTraits): the resolution fields, and whether
// the file had an alpha channel. In a picture with alpha the top byte of
// each word is its alpha, not 0xFF: it is never shown (views and surfaces
// draw such a picture opaque) and every pass keeps it.

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

// What a BMP file held beside its colours, kept from the opened file to the
// saved one.
struct FileTraits {
    bool hasResolution = false; // false: a picture made by the program
    qint32 xPelsPerMeter = 0;   // the file's fields as they were, 0 included
    qint32 yPelsPerMeter = 0;
    bool alpha = false; // the top byte of each word is the pixel's alpha
};

FileTraits fileTraits(const Picture& picture);
void setFileTraits(Picture& picture, const FileTraits& traits);

// Gives `result`, made from `source` by a pass (the same size), the traits
// of `source` and, where `source` has alpha, its alpha bytes: the rule
// changes red, green and blue only.
void keepFileTraits(const Picture& source, Picture& result);

// A copy of `area` of a picture in kPictureFormat with every top byte 0xFF,
// for drawing a picture with alpha as the opaque picture it is shown as.
QImage opaqueCopy(const QImage& picture, const QRect& area);

} // namespace penumbrix
