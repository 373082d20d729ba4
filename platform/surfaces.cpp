#include "platform/surfaces.h"

#include "platform/memory.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <qdrawutil.h>

#include <cstring>
#include <new>

namespace penumbrix {

bool ClickTracker::press(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    // A double click whose last release went elsewhere (to the dialog it
    // opened) must not cost the next click.
    swallowRelease_ = false;
    pressed_ = true;
    return true;
}

bool ClickTracker::release(QMouseEvent* event, const QRect& inside)
{
    if (event->button() != Qt::LeftButton || !pressed_)
        return false;
    pressed_ = false;
    if (swallowRelease_) {
        swallowRelease_ = false;
        return false;
    }
    return inside.contains(event->position().toPoint());
}

bool ClickTracker::doublePress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return false;
    pressed_ = true;
    swallowRelease_ = true;
    return true;
}

// --- DrawingSurface -------------------------------------------------------

DrawingSurface::DrawingSurface(QWidget* parent, Border border) : QWidget(parent), border_(border)
{
    setFocusPolicy(Qt::StrongFocus);
    resize(2 * borderWidth(), 2 * borderWidth());
}

int DrawingSurface::borderWidth() const { return border_ == Border::Sunken ? 2 : 0; }

void DrawingSurface::setPicture(const Picture& picture)
{
    picture_ = picture;
    drawn_ = picture; // shared until something is drawn
    const int b = borderWidth();
    resize(picture.width() + 2 * b, picture.height() + 2 * b);
    update();
}

Picture DrawingSurface::releaseImage()
{
    Picture image = drawn_;
    drawn_ = picture_;
    return image;
}

void DrawingSurface::holdImage(const Picture& samePixels)
{
    drawn_ = samePixels;
}

QRect DrawingSurface::readableRect() const
{
    const QRect area(0, 0, drawn_.width(), drawn_.height());
    if (autoRedraw_ || !parentWidget())
        return area;
    // The parent's client area, in drawing-area coordinates.
    const int b = borderWidth();
    const QRect client = parentWidget()->rect().translated(-pos() - QPoint(b, b));
    return area.intersected(client);
}

std::int32_t DrawingSurface::getPixel(int x, int y) const
{
    if (!readableRect().contains(x, y))
        return -1;
    const auto* row = reinterpret_cast<const std::uint32_t*>(drawn_.constScanLine(y));
    return std::int32_t(row[x] & 0xFFFFFFu);
}

void DrawingSurface::setPixel(int x, int y, std::int32_t colour)
{
    mapRows(QRect(x, y, 1, 1), [colour](const std::uint32_t*, std::ptrdiff_t, std::uint32_t* p, std::ptrdiff_t, int, int) {
        *p = 0xFF000000u | (std::uint32_t(colour) & 0xFFFFFFu);
    });
}

void DrawingSurface::mapRows(const QRect& area, const RowMapper& map)
{
    const QRect clipped = area.intersected(readableRect());
    if (clipped.isEmpty())
        return;
    const auto word = [](const QImage& image, int x, int y) {
        return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y)) + x;
    };
    const std::ptrdiff_t stride = drawn_.bytesPerLine() / 4;
    if (drawn_.isDetached()) {
        // The surface's own image: redraw it in place.
        auto* first = reinterpret_cast<std::uint32_t*>(drawn_.bits()) + clipped.y() * stride + clipped.x();
        map(first, stride, first, stride, clipped.width(), clipped.height());
    } else {
        // Still the assigned picture (or held elsewhere too): build the
        // surface's own image, the area mapped and the rest copied.
        QImage own = newPicture(drawn_.width(), drawn_.height());
        if (own.isNull())
            throw std::bad_alloc();
        const std::ptrdiff_t ownStride = own.bytesPerLine() / 4;
        const qsizetype rowBytes = qsizetype(drawn_.width()) * 4;
        for (int y = 0; y < drawn_.height(); ++y) {
            auto* to = reinterpret_cast<std::uint32_t*>(own.scanLine(y));
            const std::uint32_t* from = word(drawn_, 0, y);
            if (y < clipped.top() || y > clipped.bottom()) {
                std::memcpy(to, from, rowBytes);
            } else {
                std::memcpy(to, from, std::size_t(clipped.left()) * 4);
                std::memcpy(to + clipped.right() + 1, from + clipped.right() + 1,
                            std::size_t(drawn_.width() - clipped.right() - 1) * 4);
            }
        }
        auto* first = reinterpret_cast<std::uint32_t*>(own.bits()) + clipped.y() * ownStride + clipped.x();
        map(word(drawn_, clipped.x(), clipped.y()), stride, first, ownStride, clipped.width(), clipped.height());
        drawn_ = own;
    }
    const int b = borderWidth();
    update(clipped.translated(b, b));
}

void DrawingSurface::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const int b = borderWidth();
    const QRect inner = rect().adjusted(b, b, -b, -b);
    const QRect exposed = event->rect().intersected(inner);
    if (!exposed.isEmpty()) {
        p.fillRect(exposed, palette().window());
        if (!drawn_.isNull()) {
            // Only the exposed part is converted and drawn.
            const QRect source = exposed.translated(-b, -b).intersected(drawn_.rect());
            if (!source.isEmpty())
                p.drawImage(source.topLeft() + QPoint(b, b), drawn_, source);
        }
    }
    if (border_ == Border::Sunken)
        qDrawWinPanel(&p, rect(), palette(), true);
}

void DrawingSurface::mousePressEvent(QMouseEvent* event)
{
    clicks_.press(event);
    QWidget::mousePressEvent(event);
}

void DrawingSurface::mouseReleaseEvent(QMouseEvent* event)
{
    if (clicks_.release(event, rect()))
        emit clicked();
}

void DrawingSurface::mouseDoubleClickEvent(QMouseEvent* event) { clicks_.doublePress(event); }

// --- ImageView ------------------------------------------------------------

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

void ImageView::setPicture(const Picture& picture)
{
    picture_ = picture;
    rescale();
    update();
}

void ImageView::rescale()
{
    const QSize inner = size() - QSize(2, 2);
    if (picture_.isNull() || inner.isEmpty())
        shown_ = QImage();
    else
        shown_ = stretchedCopy(picture_, inner).convertToFormat(QImage::Format_RGB32);
}

void ImageView::resizeEvent(QResizeEvent*)
{
    rescale();
}

void ImageView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!shown_.isNull())
        p.drawImage(1, 1, shown_);
    p.setPen(QColor(0, 0, 0));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ImageView::mousePressEvent(QMouseEvent* event) { clicks_.press(event); }

void ImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (clicks_.release(event, rect()))
        emit clicked();
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (clicks_.doublePress(event))
        emit doubleClicked();
}

QImage stretchedCopy(const QImage& picture, const QSize& size)
{
    if (picture.isNull() || size.isEmpty())
        return QImage();
    // Beyond twice the target, take an evenly spread sample first: the smooth
    // pass then averages a bounded number of pixels.
    const QSize sample = size * 2;
    QImage source = picture;
    if (picture.width() > sample.width() || picture.height() > sample.height()) {
        const QSize bounded(std::min(picture.width(), sample.width()), std::min(picture.height(), sample.height()));
        source = picture.scaled(bounded, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    }
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace penumbrix
