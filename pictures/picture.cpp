#include "pictures/picture.h"

#include "files/runtime_error.h"

namespace penumbrix {

Picture toPicture(const QImage& image)
{
    if (image.isNull() || image.format() == kPictureFormat)
        return image;
    // Qt keeps the colour of non-premultiplied pixels and un-premultiplies
    // the others; the alpha becomes opaque.
    Picture picture = image.convertToFormat(kPictureFormat);
    if (picture.isNull())
        throw RuntimeError(RuntimeError::OutOfMemory);
    return picture;
}

namespace {
const QString kResolutionKey = QStringLiteral("penumbrix.bmp.resolution");
const QString kAlphaKey = QStringLiteral("penumbrix.bmp.alpha");
} // namespace

FileTraits fileTraits(const Picture& picture)
{
    FileTraits traits;
    const QStringList resolution = picture.text(kResolutionKey).split(u' ');
    if (resolution.size() == 2) {
        traits.hasResolution = true;
        traits.xPelsPerMeter = resolution[0].toInt();
        traits.yPelsPerMeter = resolution[1].toInt();
    }
    traits.alpha = picture.text(kAlphaKey) == QLatin1String("1");
    return traits;
}

void setFileTraits(Picture& picture, const FileTraits& traits)
{
    if (picture.isNull())
        return;
    if (traits.hasResolution) {
        picture.setText(kResolutionKey, QStringLiteral("%1 %2").arg(traits.xPelsPerMeter).arg(traits.yPelsPerMeter));
        // Qt's own fields take only positive numbers; the text keeps the file's.
        if (traits.xPelsPerMeter > 0)
            picture.setDotsPerMeterX(traits.xPelsPerMeter);
        if (traits.yPelsPerMeter > 0)
            picture.setDotsPerMeterY(traits.yPelsPerMeter);
    } else if (!picture.text(kResolutionKey).isEmpty()) {
        picture.setText(kResolutionKey, QString());
    }
    if (traits.alpha || !picture.text(kAlphaKey).isEmpty())
        picture.setText(kAlphaKey, traits.alpha ? QStringLiteral("1") : QString());
}

void keepFileTraits(const Picture& source, Picture& result)
{
    const FileTraits traits = fileTraits(source), had = fileTraits(result);
    // Setting the same traits again would copy a result held elsewhere too.
    if (!traits.alpha && !had.alpha && traits.hasResolution == had.hasResolution
        && traits.xPelsPerMeter == had.xPelsPerMeter && traits.yPelsPerMeter == had.yPelsPerMeter)
        return;
    if (traits.alpha && source.size() == result.size() && source.format() == kPictureFormat
        && result.format() == kPictureFormat) {
        for (int y = 0; y < result.height(); ++y) {
            const auto* from = reinterpret_cast<const quint32*>(source.constScanLine(y));
            auto* to = reinterpret_cast<quint32*>(result.scanLine(y));
            for (int x = 0; x < result.width(); ++x)
                to[x] = (to[x] & 0x00FFFFFFu) | (from[x] & 0xFF000000u);
        }
    } else if (traits.alpha) {
        FileTraits opaque = traits;
        opaque.alpha = false;
        setFileTraits(result, opaque);
        return;
    }
    setFileTraits(result, traits);
}

QImage opaqueCopy(const QImage& picture, const QRect& area)
{
    QImage shown = picture.copy(area);
    if (shown.isNull() && !area.isEmpty())
        throw RuntimeError(RuntimeError::OutOfMemory);
    for (int y = 0; y < shown.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(shown.scanLine(y));
        for (int x = 0; x < shown.width(); ++x)
            row[x] |= 0xFF000000u;
    }
    return shown;
}

} // namespace penumbrix
