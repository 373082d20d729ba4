#include "widgets/surfaces.h"

#include "pictures/memory.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <qdrawutil.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "engine/parallel.h"

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
    dropPatch();
    const int b = borderWidth();
    resize(picture.width() + 2 * b, picture.height() + 2 * b);
    update();
}

const Picture& DrawingSurface::image() const
{
    if (patch_.isNull())
        return drawn_;
    if (whole_.isNull()) {
        // Asked for rarely (the passes never do while a patch is in use).
        whole_ = drawn_.copy();
        const qsizetype rowBytes = qsizetype(patchRect_.width()) * 4;
        for (int y = 0; y < patchRect_.height(); ++y)
            std::memcpy(whole_.scanLine(patchRect_.y() + y) + patchRect_.x() * 4, patch_.constScanLine(y),
                        size_t(rowBytes));
    }
    return whole_;
}

void DrawingSurface::releaseImage()
{
    drawn_ = picture_;
    dropPatch();
}

void DrawingSurface::holdImage(const Picture& samePixels)
{
    drawn_ = samePixels;
    dropPatch();
}

void DrawingSurface::dropPatch()
{
    patch_ = whole_ = Picture();
    patchRect_ = QRect();
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

namespace {

const std::uint32_t* wordAt(const QImage& image, int x, int y)
{
    return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y)) + x;
}

// A copy of `area` of `image`, in memory of its own.
Picture copyOf(const QImage& image, const QRect& area)
{
    Picture copy = newPicture(area.width(), area.height());
    if (copy.isNull())
        throw std::bad_alloc();
    for (int y = 0; y < area.height(); ++y)
        std::memcpy(copy.scanLine(y), wordAt(image, area.x(), area.y() + y), size_t(area.width()) * 4);
    return copy;
}

} // namespace

void DrawingSurface::mapRows(const QRect& area, const RowMapper& map)
{
    const QRect clipped = area.intersected(readableRect());
    if (clipped.isEmpty())
        return;
    whole_ = Picture();
    const std::ptrdiff_t stride = drawn_.bytesPerLine() / 4;
    if (drawn_.isDetached()) {
        // The surface's own image: redraw it in place.
        auto* first = reinterpret_cast<std::uint32_t*>(drawn_.bits()) + clipped.y() * stride + clipped.x();
        map(first, stride, first, stride, clipped.width(), clipped.height());
    } else if (clipped != drawn_.rect()) {
        // Part of a picture held elsewhere too (the shown part of a large
        // picture): only that part gets memory of its own, a patch over the
        // picture that grows with what is drawn.
        if (!patchRect_.contains(clipped)) {
            const QRect grown = patchRect_.united(clipped);
            Picture patch = copyOf(drawn_, grown);
            for (int y = 0; y < patchRect_.height(); ++y)
                std::memcpy(patch.scanLine(patchRect_.y() - grown.y() + y) + (patchRect_.x() - grown.x()) * 4,
                            patch_.constScanLine(y), size_t(patchRect_.width()) * 4);
            patch_ = patch;
            patchRect_ = grown;
        }
        const std::ptrdiff_t patchStride = patch_.bytesPerLine() / 4;
        auto* first = reinterpret_cast<std::uint32_t*>(patch_.bits()) + (clipped.y() - patchRect_.y()) * patchStride
            + (clipped.x() - patchRect_.x());
        map(first, patchStride, first, patchStride, clipped.width(), clipped.height());
    } else {
        // The whole of a picture held elsewhere too: the surface's own image
        // is written as the picture is read, in one pass.
        Picture own = newPicture(drawn_.width(), drawn_.height());
        if (own.isNull())
            throw std::bad_alloc();
        const Picture base = image(); // with any patch drawn before
        map(wordAt(base, 0, 0), base.bytesPerLine() / 4, reinterpret_cast<std::uint32_t*>(own.bits()),
            own.bytesPerLine() / 4, own.width(), own.height());
        drawn_ = own;
        dropPatch();
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
            // A picture with alpha keeps it in the words' top byte, which
            // Qt would copy onto the window: it is drawn opaque.
            const bool alpha = fileTraits(picture_).alpha;
            const auto draw = [&](const QImage& image, const QRect& part, QPoint at) {
                if (alpha)
                    p.drawImage(at, opaqueCopy(image, part));
                else
                    p.drawImage(at, image, part);
            };
            if (!source.isEmpty())
                draw(drawn_, source, source.topLeft() + QPoint(b, b));
            const QRect patched = source.intersected(patchRect_);
            if (!patched.isEmpty())
                draw(patch_, patched.translated(-patchRect_.topLeft()), patched.topLeft() + QPoint(b, b));
        }
    }
    if (border_ == Border::Sunken)
        qDrawWinPanel(&p, rect(), palette(), true);
    if (focus_.shown(*this))
        drawFocusRing(p, *this);
}

void DrawingSurface::focusInEvent(QFocusEvent* event)
{
    focus_.focusIn(event);
    QWidget::focusInEvent(event);
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
    // Both views are given the same picture when one is opened: the second
    // takes the copy the first made.
    static struct {
        qint64 key = 0;
        QSize size;
        QImage shown;
    } last;
    if (picture_.isNull() || inner.isEmpty()) {
        shown_ = QImage();
    } else if (last.key == picture_.cacheKey() && last.size == inner) {
        shown_ = last.shown;
    } else {
        shown_ = stretchedCopy(picture_, inner).convertToFormat(QImage::Format_RGB32);
        last = {picture_.cacheKey(), inner, shown_};
    }
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

void KeyboardFocus::focusIn(const QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    fromKeyboard_ = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

namespace {

// Relative luminance and contrast ratio as the web's accessibility
// guidelines define them.
double luminance(const QColor& c)
{
    const auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

QColor focusRingColour(const QColor& highlight, const QColor& face)
{
    QColor ring = highlight;
    // Towards white on a dark face, towards black on a light one, a step at
    // a time, until the ring stands out 3:1.
    const QColor end = luminance(face) < 0.18 ? QColor(Qt::white) : QColor(Qt::black);
    for (int step = 0; step < 20 && contrast(ring, face) < 3.0; ++step)
        ring = QColor::fromRgbF(ring.redF() + (end.redF() - ring.redF()) * 0.15f,
                                ring.greenF() + (end.greenF() - ring.greenF()) * 0.15f,
                                ring.blueF() + (end.blueF() - ring.blueF()) * 0.15f);
    return ring;
}

void drawFocusRing(QPainter& painter, const QWidget& control)
{
    // Against what surrounds the control: its parent's face.
    const QWidget* around = control.parentWidget() ? control.parentWidget() : &control;
    const QColor colour = focusRingColour(control.palette().color(QPalette::Highlight),
                                          around->palette().color(QPalette::Window));
    const QRect r = control.rect();
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 2), colour);
    painter.fillRect(QRect(r.left(), r.bottom() - 1, r.width(), 2), colour);
    painter.fillRect(QRect(r.left(), r.top(), 2, r.height()), colour);
    painter.fillRect(QRect(r.right() - 1, r.top(), 2, r.height()), colour);
}

QImage stretchedCopy(const QImage& picture, const QSize& size)
{
    if (picture.isNull() || size.isEmpty())
        return QImage();
    const int w = size.width(), h = size.height();
    if (picture.width() <= 2 * w && picture.height() <= 2 * h)
        return picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A large picture: each shown pixel is the mean of two by two samples
    // spread evenly over the picture, so the cost is that of the view, not
    // of the picture.
    const QImage source = picture.format() == kPictureFormat ? picture : picture.convertToFormat(kPictureFormat);
    const auto spread = [](int length, int count) {
        std::vector<int> at(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            at[size_t(i)] = int((2 * qint64(i) + 1) * length / (2 * qint64(count)));
        return at;
    };
    const std::vector<int> xs = spread(source.width(), 2 * w), ys = spread(source.height(), 2 * h);
    QImage shown = newImage(w, h, QImage::Format_RGB32);
    if (shown.isNull())
        return shown;
    uchar* const shownBits = shown.bits();
    inParts(h, 64, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t y = begin; y < end; ++y) {
            const uchar* top = source.constScanLine(ys[size_t(2 * y)]);
            const uchar* bottom = source.constScanLine(ys[size_t(2 * y + 1)]);
            auto* out = reinterpret_cast<quint32*>(shownBits + y * shown.bytesPerLine());
            for (int x = 0; x < w; ++x) {
                const uchar* p[4] = {top + 4 * xs[size_t(2 * x)], top + 4 * xs[size_t(2 * x + 1)],
                                     bottom + 4 * xs[size_t(2 * x)], bottom + 4 * xs[size_t(2 * x + 1)]};
                const auto mean = [&](int c) { return quint32(p[0][c] + p[1][c] + p[2][c] + p[3][c] + 2) / 4; };
                out[x] = 0xFF000000u | mean(0) << 16 | mean(1) << 8 | mean(2); // RGBX bytes into 0xAARRGGBB
            }
        }
    });
    return shown;
}

} // namespace penumbrix
