#pragma once
// Drawing surfaces (picture boxes) and image views.
//
// A DrawingSurface shows a picture at its own resolution, sized to the
// picture plus its border, and keeps an image of its own that starts as the
// assigned picture and keeps every pixel drawn on it until the next picture
// is assigned. Pixels are reached by rows of memory (mapRows), always within
// the readable area: the whole drawing area while AutoRedraw is on, otherwise
// the part of it that lies inside the parent's client area.
//
// An ImageView is a fixed frame with a one-pixel border that shows its
// picture stretched to fill it, drawn from a small copy made once per
// assignment, so repainting costs the same for any picture size.

#include <QFocusEvent>
#include <QRect>
#include <QWidget>

class QPainter;

#include <cstddef>
#include <cstdint>
#include <functional>

#include "pictures/picture.h"

namespace penumbrix {

// Where a control's focus came from: the ring shows only where it came from
// the keyboard (Tab, Shift+Tab, a shortcut), as a button's focus outline
// does; a mouse click changes nothing on the surfaces, and shows nothing.
// The window losing and regaining activation keeps what was shown.
class KeyboardFocus {
public:
    void focusIn(const QFocusEvent* event);
    bool shown(const QWidget& control) const { return fromKeyboard_ && control.hasFocus(); }

private:
    bool fromKeyboard_ = false;
};

// Emits clicked() on the release of a left click and doubleClicked() on a
// double click; a double click is delivered as a click first, then the double
// click, and its second release makes no further click.
class ClickTracker {
public:
    bool press(QMouseEvent* event);
    bool release(QMouseEvent* event, const QRect& inside); // true: a click
    bool doublePress(QMouseEvent* event);                   // true: a double click

private:
    bool pressed_ = false;
    bool swallowRelease_ = false;
};

class DrawingSurface : public QWidget {
    Q_OBJECT
public:
    enum class Border { None, Sunken };

    explicit DrawingSurface(QWidget* parent = nullptr, Border border = Border::None);

    // Assigning a picture replaces everything drawn before and resizes the
    // surface so that its drawing area is exactly the picture's size.
    void setPicture(const Picture& picture);
    const Picture& picture() const { return picture_; }

    void setAutoRedraw(bool on) { autoRedraw_ = on; }
    bool autoRedraw() const { return autoRedraw_; }

    // The persistent image: the picture with every pixel drawn since.
    const Picture& image() const;

    // For a picture's memory: lets go of the persistent image and holds the
    // assigned picture meanwhile, until holdImage gives back a picture with
    // exactly the pixels let go of (one saved and read back), which the
    // surface then holds as its image, sharing that picture's memory.
    void releaseImage();
    void holdImage(const Picture& samePixels);

    // Drawing-area size in pixels: the size of the picture last assigned.
    int borderWidth() const;

    // The part of the drawing area that pixel access reaches.
    QRect readableRect() const;

    // Redraws `area` (clipped to the readable area): `map` gets rows of 32-bit
    // pixels (colour value in the low 24 bits) as the surface shows them now
    // and the rows to write the new pixels to, which may be the same memory.
    // The first drawing after a picture is assigned reads the picture and
    // writes the surface's own image in the same pass; the picture itself is
    // never changed. Does nothing when the clipped area is empty.
    using RowMapper = std::function<void(const std::uint32_t* source, std::ptrdiff_t sourceStride,
                                         std::uint32_t* target, std::ptrdiff_t targetStride, int width,
                                         int height)>;
    void mapRows(const QRect& area, const RowMapper& map);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    Border border_;
    bool autoRedraw_ = false;
    Picture picture_;
    Picture drawn_;          // the picture, or the surface's own image
    Picture patch_;          // over the picture: the part drawn on, in memory of its own
    QRect patchRect_;
    mutable Picture whole_;  // the picture with the patch, made when asked for
    ClickTracker clicks_;
    KeyboardFocus focus_;

    void dropPatch();
};

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    void setPicture(const Picture& picture);
    const Picture& picture() const { return picture_; }

    // What the view paints inside its border (for tests and screenshots).
    const QImage& shownImage() const { return shown_; }

signals:
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void rescale();

    Picture picture_;
    QImage shown_;
    ClickTracker clicks_;
};

// The mark of the keyboard focus on a control of the windows: a ring two
// pixels wide along its edge, in the theme's highlight colour made lighter or
// darker where it would stand out less than 3:1 against the window's face,
// drawn over what the control has painted (its size and place stay as they are).
void drawFocusRing(QPainter& painter, const QWidget& control);
QColor focusRingColour(const QColor& highlight, const QColor& face);

// A picture scaled to `size`, ignoring proportions; large pictures are first
// sampled down cheaply so the cost does not grow with the picture's area.
QImage stretchedCopy(const QImage& picture, const QSize& size);

} // namespace penumbrix
