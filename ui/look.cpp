#include "ui/look.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTranslator>

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
