#pragma once
// How the windows look: design units, colours, fonts, the window face with
// its rules and outlines, and placement on the screen.
//
// The windows are laid out in twips, 15 to the pixel at 96 dpi, from the
// top-left corner of the client area; every control keeps its place and size
// whatever the window's size.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "pictures/picture.h"

class QTranslator;

namespace penumbrix {

constexpr int twipsToPixels(int twips) { return twips / 15; }

// A rectangle given in twips, in pixels.
constexpr QRect twipRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

// A colour given as 0x00BBGGRR, red in the lowest byte.
inline QColor bgrColour(std::uint32_t bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

// The windows name Windows' Japanese fonts; this maps them, once, onto the
// Japanese fonts installed here (IPA P Gothic first).
void useJapaneseFonts();

// Qt's own texts (message box buttons, the open dialog) in Japanese, from
// Qt's translation "qtbase_ja" in `folder`, whatever the desktop's language:
// the program speaks Japanese by design. Returns the installed translation,
// owned by the application, or nullptr when the folder has none; Qt's texts
// then stay English.
QTranslator* useJapanesePlatformTexts(const QString& folder);

// A font of the layout: a family as the windows name it, and a size in
// pixels (the layout is in pixels at 96 dpi: 9 pt is 12 px, 8.25 pt is 11 px,
// 14.25 pt is 19 px).
QFont layoutFont(const char* family, int pixelSize, QFont::Weight weight = QFont::Normal);

inline const char* const kUiGothic = "MS UI Gothic";
inline const char* const kPGothic = "ＭＳ Ｐゴシック";

// The client area of a window: a fixed design size, and straight rules and
// outline rectangles drawn on the face beneath every control.
class WindowFace : public QWidget {
    Q_OBJECT
public:
    explicit WindowFace(QSize designSize, QWidget* parent = nullptr);

    // A rule, given as the pixels it covers (one or two pixels thick).
    void addRule(const QRect& pixels, const QColor& colour);
    // A one-pixel outline just inside `box`, in the window text colour.
    void addOutline(const QRect& box);

    QSize sizeHint() const override { return designSize_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Mark {
        QRect rect;
        QColor colour; // invalid: the window text colour, as an outline
    };
    QSize designSize_;
    std::vector<Mark> marks_;
};

// For a label whose text colour the layout fixes over the window face, whose
// colour follows the desktop's theme: wherever that face would leave the text
// less than 4.5:1 (a dark theme), the label is backed with the light dialog
// face the layout was drawn on. On a light face nothing changes.
void keepReadableOnAnyFace(QWidget* label);

// The program's built-in 96 x 96 picture, shown in both windows.
Picture builtInPicture();
// The program's icon.
QIcon programIcon();

// Moves a top-level window so that it stands in the middle of its screen.
void centreOnScreen(QWidget* window);

} // namespace penumbrix
