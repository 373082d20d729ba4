#include "ui/look.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QLocale>
#include <QTranslator>

#include <algorithm>
#include <cmath>

// The windows' pictures are compiled into this library; a static library's
// resources are registered by hand.
static void registerWindowResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(windows);
        return true;
    }();
    (void)registered;
}

namespace penumbrix {

Picture builtInPicture()
{
    registerWindowResources();
    return toPicture(QImage(QStringLiteral(":/penumbrix/penumbrix.bmp")));
}

QIcon programIcon()
{
    registerWindowResources();
    return QIcon(QStringLiteral(":/penumbrix/penumbrix.png"));
}

QTranslator* useJapanesePlatformTexts(const QString& folder)
{
    // Qt's words and numbers too (the open dialog's file types, say).
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QStringLiteral("qtbase_ja"), folder) && QCoreApplication::installTranslator(translator))
        return translator;
    delete translator;
    return nullptr;
}

void useJapaneseFonts()
{
    static const bool done = [] {
        const QStringList installed{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic"),
                                    QStringLiteral("TakaoPGothic")};
        for (const char* family : {kUiGothic, kPGothic})
            QFont::insertSubstitutions(QString::fromUtf8(family), installed);
        return true;
    }();
    (void)done;
}

QFont layoutFont(const char* family, int pixelSize, QFont::Weight weight)
{
    useJapaneseFonts();
    QFont font(QString::fromUtf8(family));
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

WindowFace::WindowFace(QSize designSize, QWidget* parent) : QWidget(parent), designSize_(designSize)
{
    resize(designSize_);
}

void WindowFace::addRule(const QRect& pixels, const QColor& colour)
{
    marks_.push_back({pixels, colour});
    update(pixels);
}

void WindowFace::addOutline(const QRect& box)
{
    marks_.push_back({box, QColor()});
    update(box);
}

void WindowFace::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    for (const Mark& mark : marks_) {
        if (mark.colour.isValid()) {
            p.fillRect(mark.rect, mark.colour);
        } else {
            p.setPen(QPen(palette().color(QPalette::WindowText), 0));
            p.setBrush(Qt::NoBrush);
            p.drawRect(mark.rect.adjusted(0, 0, -1, -1));
        }
    }
}

namespace {

// Relative luminance and contrast ratio as the web's accessibility
// guidelines define them.
double luminance(const QColor& c)
{
    auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Paints the light face beneath the label, before the label paints its text,
// whenever the face it stands on is too dark for its text. Decided at every
// paint, so a theme changed while the program runs is followed.
class ReadableFace : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            auto* label = static_cast<QWidget*>(watched);
            const QPalette& palette = label->palette();
            if (contrast(palette.color(label->foregroundRole()), palette.color(QPalette::Window)) < 4.5)
                QPainter(label).fillRect(label->rect(), bgrColour(0x00F0F0F0)); // the dialog face of the layout
        }
        return false;
    }
};

} // namespace

void keepReadableOnAnyFace(QWidget* label)
{
    label->installEventFilter(new ReadableFace(label));
}

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    window->move(available.center() - frame.center() + frame.topLeft());
}

} // namespace penumbrix
