#include "ui/frm_about.h"

#include <QKeyEvent>
#include <QPainter>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "ui/home_page.h"
#include "ui/look.h"

namespace penumbrix {

namespace {

QPointer<frmAbout> theAboutWindow;

// Client area: 5775 x 3600 twips.
constexpr QSize kAboutClientSize{twipsToPixels(5775), twipsToPixels(3600)};

// The default button looks the same with the focus as without it: once the
// keyboard has moved the focus, the focused button shows the program's ring.
class RingedButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPushButton::paintEvent(event);
        if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
            QPainter painter(this);
            drawFocusRing(painter, *this);
        }
    }
};

QLabel* makeWhiteLabel(QWidget* parent, const char* name, const char* caption, const QRect& geometry)
{
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(1);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, bgrColour(0x00FFFFFF));
    palette.setColor(QPalette::WindowText, bgrColour(0x00000000));
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    return label;
}

} // namespace

frmAbout* frmAbout::showInstance(const WindowServices& services)
{
    if (!theAboutWindow) {
        theAboutWindow = new frmAbout(services);
        centreOnScreen(theAboutWindow);
    }
    theAboutWindow->setWindowState(theAboutWindow->windowState() & ~Qt::WindowMinimized);
    theAboutWindow->show();
    theAboutWindow->raise();
    theAboutWindow->activateWindow();
    return theAboutWindow;
}

frmAbout* frmAbout::instance() { return theAboutWindow; }

frmAbout::frmAbout(const WindowServices& services)
    : QDialog(nullptr), services_(services), boundary_(services.messages, busy_)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報"));
    // A tool window with a title and a close box: no minimise or maximise
    // button, no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(kAboutClientSize);

    auto* face = new WindowFace(kAboutClientSize, this);
    face->setObjectName(QStringLiteral("client"));
    // The etched rule between the labels and the button: the white line is
    // two pixels thick, the grey one lies on top of it.
    face->addRule(QRect(twipsToPixels(105), twipsToPixels(2985), twipsToPixels(5654) - twipsToPixels(105) + 1, 2),
                  bgrColour(0x00FFFFFF));
    face->addRule(QRect(twipsToPixels(120), twipsToPixels(2970), twipsToPixels(5684) - twipsToPixels(120) + 1, 1),
                  bgrColour(0x00808080));

    Picture1_ = new DrawingSurface(face, DrawingSurface::Border::Sunken);
    Picture1_->setObjectName(QStringLiteral("Picture1"));
    Picture1_->move(twipsToPixels(2070), twipsToPixels(465));
    Picture1_->setPicture(builtInPicture());
    Picture1_->setAccessibleName(QString::fromUtf8(kProgramTitle));
    Picture1_->setAccessibleDescription(QStringLiteral("ホームページを開きます"));

    makeWhiteLabel(face, "lblTitle", kAboutTitle, twipRect(960, 2280, 3885, 240));
    makeWhiteLabel(face, "lblDescription", kAboutCopyright, twipRect(960, 2520, 3885, 330));

    cmdOK_ = new RingedButton(QStringLiteral("OK"), face);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    cmdOK_->setGeometry(twipRect(2160, 3120, 1380, 345));
    cmdOK_->setDefault(true);

    QWidget::setTabOrder(cmdOK_, Picture1_);
    cmdOK_->setFocus();

    connect(cmdOK_, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(Picture1_, &DrawingSurface::clicked, this, &frmAbout::Picture1_Click);
}

void frmAbout::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdOK_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmAbout::cmdOK_Click()
{
    boundary_.run([this] { close(); });
}

void frmAbout::Picture1_Click()
{
    boundary_.run([this] { openHomePage(services_.browser); });
}

} // namespace penumbrix
