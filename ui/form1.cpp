#include "ui/form1.h"

#include <QAction>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionSlider>

#include "ui/access.h"
#include "ui/frm_about.h"
#include "ui/home_page.h"
#include "ui/look.h"

namespace penumbrix {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// Client area: 8430 x 7080 twips.
constexpr QSize kClientSize{twipsToPixels(8430), twipsToPixels(7080)};

constexpr std::uint32_t kPanelGrey = 0x00C0C0C0;
constexpr std::uint32_t kValueGrey = 0x00E0E0E0;
constexpr std::uint32_t kLayoutText = 0x00000000;

struct LabelLook {
    QFont font;
    QColor back; // invalid: the window face shows through
    QColor text; // invalid: the window text colour
    bool border = false;
};

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QRect& geometry,
                  const LabelLook& look)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(look.font);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette palette = label->palette();
    if (look.back.isValid()) {
        palette.setColor(QPalette::Window, look.back);
        label->setAutoFillBackground(true);
    }
    if (look.text.isValid())
        palette.setColor(QPalette::WindowText, look.text);
    label->setPalette(palette);
    if (look.border) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setLineWidth(1);
    }
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, const QRect& geometry)
{
    auto* button = new QPushButton(qs(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    // The main window has no default button: Enter presses nothing.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// A setting's slider. Its keys step as on a horizontal scroll bar of the
// Windows desktop: Left and Up one down, Right and Down one up, Page Up and
// Page Down a page, Home and End to the ends. (Qt's own horizontal scroll bar
// steps down on Right and up on Left.)
class SettingBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            QScrollBar::keyPressEvent(event);
            return;
        }
        SliderAction action = SliderNoAction;
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up: action = SliderSingleStepSub; break;
        case Qt::Key_Right:
        case Qt::Key_Down: action = SliderSingleStepAdd; break;
        case Qt::Key_PageUp: action = SliderPageStepSub; break;
        case Qt::Key_PageDown: action = SliderPageStepAdd; break;
        case Qt::Key_Home: action = SliderToMinimum; break;
        case Qt::Key_End: action = SliderToMaximum; break;
        default: QScrollBar::keyPressEvent(event); return;
        }
        triggerAction(action);
        event->accept();
    }

    // A press in the track steps the value by one towards the pointer, with
    // the left or the middle button, whatever the style's habit of jumping to
    // the pointer; held, it goes on stepping by one until the release.
    void mousePressEvent(QMouseEvent* event) override
    {
        const bool stepButton = event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton;
        if (stepButton && !(event->buttons() & ~event->button()) && minimum() != maximum()) {
            QStyleOptionSlider option;
            initStyleOption(&option);
            const QStyle::SubControl part =
                style()->hitTestComplexControl(QStyle::CC_ScrollBar, &option, event->position().toPoint(), this);
            if (part == QStyle::SC_ScrollBarAddPage || part == QStyle::SC_ScrollBarSubPage) {
                const SliderAction step = part == QStyle::SC_ScrollBarAddPage ? SliderSingleStepAdd
                                                                           : SliderSingleStepSub;
                trackButton_ = event->button();
                triggerAction(step);
                setRepeatAction(step);
                event->accept();
                return;
            }
        }
        QScrollBar::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (trackButton_ == Qt::NoButton) {
            QScrollBar::mouseReleaseEvent(event);
        } else if (event->button() == trackButton_) {
            trackButton_ = Qt::NoButton;
            setRepeatAction(SliderNoAction);
        }
    }
    // The focus shows as a ring along the slider's edge; the style alone
    // draws a focused scroll bar exactly as an unfocused one.
    void paintEvent(QPaintEvent* event) override
    {
        QScrollBar::paintEvent(event);
        if (focus_.shown(*this)) {
            QPainter painter(this);
            drawFocusRing(painter, *this);
        }
    }
    void focusInEvent(QFocusEvent* event) override
    {
        focus_.focusIn(event);
        QScrollBar::focusInEvent(event);
    }
    void hideEvent(QHideEvent* event) override
    {
        trackButton_ = Qt::NoButton;
        setRepeatAction(SliderNoAction);
        QScrollBar::hideEvent(event);
    }

private:
    Qt::MouseButton trackButton_ = Qt::NoButton;
    KeyboardFocus focus_;
};

// The seven rows of the adjustment panel, top to bottom.
enum class NameStyle { Colour, Word };
struct PanelRow {
    Setting setting;
    const char* nameLabel;
    const char* caption;
    int top; // twips
    NameStyle style;
    std::uint32_t nameColour;
};
const PanelRow kPanelRows[] = {
    {Setting::Red, "R1", "R", 4440, NameStyle::Colour, 0x000000FF},
    {Setting::Green, "R2", "G", 4800, NameStyle::Colour, 0x0000FF00},
    {Setting::Blue, "R3", "B", 5160, NameStyle::Colour, 0x00FF0000},
    {Setting::Light, "Label1", "ﾌﾞﾗｲﾄﾈｽ", 5520, NameStyle::Word, 0x00000000},
    {Setting::Contrast, "Label2", "ｺﾝｽﾄﾗｽﾄ", 5880, NameStyle::Word, 0x00000000},
    {Setting::Range, "Label3", "ﾍﾟﾇﾝﾌﾞﾘｸｽ", 6240, NameStyle::Word, 0x00000000},
    {Setting::Czoom, "Label4", "ｶｯﾄ倍率", 6600, NameStyle::Word, 0x00000000},
};
constexpr int kRowHeight = 255;

} // namespace

Form1::Form1(WindowServices services, ProgramPaths paths, QWidget* parent)
    : QMainWindow(parent), services_(services), boundary_(services.messages, busy_)
{
    // Before any control is made: a screen reader may ask about each control
    // as it is made, and keeps the answer.
    installAccessibility();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kProgramTitle));
    setWindowIcon(programIcon());
    setFont(layoutFont(kUiGothic, 12));

    face_ = new WindowFace(kClientSize, this);
    face_->setObjectName(QStringLiteral("client"));
    setCentralWidget(face_);

    buildControls();
    buildPanel();
    buildMenus();
    setTabOrder();
    connectEvents();
    describeMainWindow(*this);

    document_ = std::make_unique<Document>(ImageSlots{*Image1_, *Image2_, *Picture2_, *Picture1_},
                                           DocumentServices{services.messages, services.openDialog, busy_},
                                           std::move(paths), [this] { return readSettings(); });

    resize(kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height());
    Command1_->setFocus();
    setAcceptDrops(true);
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    QWidget* face = face_;

    // Etched rule under the menu bar, running past the right edge.
    face_->addRule(QRect(twipsToPixels(-90), 0, twipsToPixels(12615 + 90), 1), bgrColour(0x00808080));
    face_->addRule(QRect(0, 1, twipsToPixels(12705), 1), bgrColour(0x00FFFFFF));

    // Command row.
    Command1_ = makeButton(face, "Command1", "イメージを保存", twipRect(120, 120, 1695, 360));
    cmdDelete_ = makeButton(face, "cmdDelete", "イメージ削除", twipRect(1920, 120, 1695, 360));

    // Picture area.
    const LabelLook plain{font(), QColor(), QColor(), false};
    makeLabel(face, "Label5", qs("編集前イメージ"), twipRect(1080, 525, 1695, 255), plain);
    Image1_ = new ImageView(face);
    Image1_->setObjectName(QStringLiteral("Image1"));
    Image1_->setGeometry(twipRect(120, 720, 3255, 3255));

    Command2_ = makeButton(face, "Command2", "⇒編集", twipRect(3480, 1440, 1455, 1080));
    Command2_->setFont(layoutFont(kUiGothic, 19));

    Picture3_ = new DrawingSurface(face, DrawingSurface::Border::None);
    Picture3_->setObjectName(QStringLiteral("Picture3"));
    Picture3_->move(twipsToPixels(3495), twipsToPixels(2535));
    Picture3_->setPicture(builtInPicture());

    makeLabel(face, "Label6", qs("編集後イメージ"), twipRect(5910, 510, 1695, 255), plain);
    Image2_ = new ImageView(face);
    Image2_->setObjectName(QStringLiteral("Image2"));
    Image2_->setGeometry(twipRect(5040, 720, 3255, 3255));

    // Preview area.
    Command3_ = makeButton(face, "Command3", "プレビュー", twipRect(5520, 4080, 1695, 300));
    keepReadableOnAnyFace(makeLabel(face, "Label37", qs("画像サイズにより反映時間が変わります"),
                                    twipRect(5520, 4410, 2775, 135),
                                    {layoutFont(kUiGothic, 11), QColor(), bgrColour(0x00C00000), false}));
    Picture2_ = new DrawingSurface(face, DrawingSurface::Border::Sunken);
    Picture2_->setObjectName(QStringLiteral("Picture2"));
    Picture2_->setGeometry(twipRect(5520, 4560, 2775, 2415));

    // The work surface lies right of the design width: it shows only in a
    // widened window.
    Picture1_ = new DrawingSurface(face, DrawingSurface::Border::None);
    Picture1_->setObjectName(QStringLiteral("Picture1"));
    Picture1_->setGeometry(twipRect(8880, 5280, 1575, 1575));
    QPalette workPalette = Picture1_->palette();
    workPalette.setColor(QPalette::Window, workPalette.color(QPalette::Base));
    workPalette.setColor(QPalette::WindowText, workPalette.color(QPalette::Text));
    Picture1_->setPalette(workPalette);
}

void Form1::buildPanel()
{
    QWidget* face = face_;

    // Outlines on the face, beneath the sliders and labels that cover them.
    face_->addOutline(twipRect(1605, 4440, 2565, 2055));
    face_->addOutline(twipRect(2250, 4440, 1275, 2055));
    face_->addOutline(twipRect(1590, 6435, 345, 375));
    face_->addOutline(twipRect(1920, 6390, 345, 390));

    // Where a label's back colour is fixed, so is its text colour: the black
    // of the window text the layout was drawn with, whatever the theme's.
    makeLabel(face, "RGB", qs("--------------PICTURE調整--------------"), twipRect(840, 4200, 4170, 255),
              {font(), bgrColour(kPanelGrey), bgrColour(kLayoutText), false});

    const QFont bold = layoutFont(kUiGothic, 12, QFont::Bold);
    const QFont valueFont = layoutFont(kPGothic, 12);
    for (const PanelRow& row : kPanelRows) {
        const SettingInfo& info = settingInfo(row.setting);
        const bool czoom = row.setting == Setting::Czoom;

        if (row.style == NameStyle::Colour)
            makeLabel(face, row.nameLabel, qs(row.caption), twipRect(720, row.top, 255, kRowHeight),
                      {bold, bgrColour(kPanelGrey), bgrColour(row.nameColour), false});
        else
            makeLabel(face, row.nameLabel, qs(row.caption), twipRect(120, row.top, 855, kRowHeight),
                      {font(), bgrColour(kPanelGrey), bgrColour(row.nameColour), false});

        auto* bar = new SettingBar(Qt::Horizontal, face);
        bar->setObjectName(QString::fromLatin1(info.barName));
        bar->setGeometry(twipRect(960, row.top, czoom ? 1935 : 3855, kRowHeight));
        bar->setRange(info.minimum, info.maximum);
        bar->setValue(info.start);
        bar->setSingleStep(info.step);
        bar->setPageStep(info.step);
        // The value changes when a dragged thumb is let go, not while it moves.
        bar->setTracking(false);
        bar->setFocusPolicy(Qt::StrongFocus);
        bars_[static_cast<int>(row.setting)] = bar;

        valueLabels_[static_cast<int>(row.setting)] =
            makeLabel(face, info.labelName, QString::fromStdString(startLabelText(row.setting)),
                      twipRect(czoom ? 3000 : 4920, row.top, 495, kRowHeight),
                      {valueFont, bgrColour(kValueGrey), bgrColour(kLayoutText), true});
    }

    cmdReset_ = makeButton(face, "cmdReset", "値Reset", twipRect(4440, 6600, 975, 300));
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    auto item = [this](QMenu* menu, const char* name, const char* caption, QKeySequence key) {
        QAction* action = menu->addAction(qs(caption));
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        // The keys work whichever control of the window has the focus.
        action->setShortcutContext(Qt::WindowShortcut);
        return action;
    };
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    QMenu* file = bar->addMenu(qs("ファイル"));
    file->setObjectName(QStringLiteral("file"));
    file->setFont(font());
    NewImage_ = item(file, "NewImage", "新規（ｲﾒｰｼﾞ削除）(&N)", QKeySequence(Qt::CTRL | Qt::Key_N));
    separator(file, "Line1");
    AllImageSave_ = item(file, "AllImageSave", "ｲﾒｰｼﾞを保存(&S)", QKeySequence(Qt::CTRL | Qt::Key_S));
    separator(file, "Line2");
    MenuEnd_ = item(file, "MenuEnd", "終了(&Q)", QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* help = bar->addMenu(qs("ヘルプ"));
    help->setObjectName(QStringLiteral("HelpInfo"));
    help->setFont(font());
    QMKgo_ = item(help, "QMKgo", "Quillmark ｵﾝﾗｲﾝﾍﾙﾌﾟ(&H)", QKeySequence(Qt::CTRL | Qt::Key_H));
    separator(help, "line3");
    Version_ = item(help, "Version", "ﾊﾞｰｼﾞｮﾝ情報(&V)", QKeySequence(Qt::CTRL | Qt::Key_V));
}

void Form1::setTabOrder()
{
    const QWidget* order[] = {Command1_,           bar(Setting::Red),      Picture1_,           bar(Setting::Green),
                              bar(Setting::Blue),  Command2_,              Picture2_,           Command3_,
                              bar(Setting::Light), bar(Setting::Contrast), bar(Setting::Range), cmdReset_,
                              bar(Setting::Czoom), cmdDelete_,             Picture3_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void Form1::connectEvents()
{
    connect(Image1_, &ImageView::clicked, this, &Form1::Image1_Click);
    connect(Image1_, &ImageView::doubleClicked, this, &Form1::Image1_DblClick);
    connect(Command3_, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command2_, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command1_, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(AllImageSave_, &QAction::triggered, this, &Form1::AllImageSave_Click);
    connect(cmdDelete_, &QPushButton::clicked, this, &Form1::cmdDelete_Click);
    connect(NewImage_, &QAction::triggered, this, &Form1::NewImage_Click);
    connect(cmdReset_, &QPushButton::clicked, this, &Form1::cmdReset_Click);
    connect(bar(Setting::Red), &QScrollBar::valueChanged, this, &Form1::vsRed_Change);
    connect(bar(Setting::Green), &QScrollBar::valueChanged, this, &Form1::vsGreen_Change);
    connect(bar(Setting::Blue), &QScrollBar::valueChanged, this, &Form1::vsBlue_Change);
    connect(bar(Setting::Light), &QScrollBar::valueChanged, this, &Form1::vsLIGHT_Change);
    connect(bar(Setting::Contrast), &QScrollBar::valueChanged, this, &Form1::vsContrast_Change);
    connect(bar(Setting::Range), &QScrollBar::valueChanged, this, &Form1::vsRange_Change);
    connect(bar(Setting::Czoom), &QScrollBar::valueChanged, this, &Form1::vsCzoom_Change);
    connect(MenuEnd_, &QAction::triggered, this, &Form1::MenuEnd_Click);
    connect(Version_, &QAction::triggered, this, &Form1::Version_Click);
    connect(QMKgo_, &QAction::triggered, this, &Form1::QMKgo_Click);

    // Keys for what the source view does under the mouse, window-wide and on
    // no menu: Ctrl+O as a double click (its click first, then the open
    // dialog), F5 as a click (the source picture onto the preview surface).
    auto* openKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    connect(openKey, &QShortcut::activated, Image1_, [this] {
        emit Image1_->clicked();
        emit Image1_->doubleClicked();
    });
    auto* copyKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(copyKey, &QShortcut::activated, Image1_, [this] { emit Image1_->clicked(); });
}

void Form1::showCentred()
{
    centreOnScreen(this);
    show();
    raise();
    activateWindow();
    Command1_->setFocus();
}

AdjustmentSettings Form1::readSettings() const
{
    SettingValues values;
    for (const SettingInfo& info : kSettings)
        values[info.setting] = static_cast<std::int16_t>(bar(info.setting)->value());
    return values.adjustment();
}

void Form1::showValue(Setting s)
{
    valueLabel(s)->setText(
        QString::fromStdString(labelText(s, static_cast<std::int16_t>(bar(s)->value()))));
}

// --- Event procedures -------------------------------------------------------

bool Form1::Form_Load()
{
    return boundary_.run([this] { document_->startUp(); });
}

void Form1::Image1_Click() { boundary_.run([this] { document_->copyToPreview(); }); }
void Form1::Image1_DblClick() { boundary_.run([this] { document_->open(); }); }
void Form1::Command3_Click() { boundary_.run([this] { document_->preview(); }); }
void Form1::Command2_Click() { boundary_.run([this] { document_->apply(); }); }
void Form1::Command1_Click() { boundary_.run([this] { document_->save(); }); }
void Form1::AllImageSave_Click() { boundary_.run([this] { document_->save(); }); }
void Form1::cmdDelete_Click() { boundary_.run([this] { document_->clear(); }); }
void Form1::NewImage_Click() { boundary_.run([this] { document_->clear(); }); }

void Form1::cmdReset_Click()
{
    boundary_.run([this] {
        for (const ResetStep& step : kResetSteps) {
            valueLabel(step.setting)->setText(QString::fromLatin1(step.labelCaption));
            bar(step.setting)->setValue(step.value);
        }
    });
}

void Form1::vsRed_Change() { boundary_.run([this] { showValue(Setting::Red); }); }
void Form1::vsGreen_Change() { boundary_.run([this] { showValue(Setting::Green); }); }
void Form1::vsBlue_Change() { boundary_.run([this] { showValue(Setting::Blue); }); }
void Form1::vsLIGHT_Change() { boundary_.run([this] { showValue(Setting::Light); }); }
void Form1::vsContrast_Change() { boundary_.run([this] { showValue(Setting::Contrast); }); }
void Form1::vsRange_Change() { boundary_.run([this] { showValue(Setting::Range); }); }
void Form1::vsCzoom_Change() { boundary_.run([this] { showValue(Setting::Czoom); }); }

void Form1::MenuEnd_Click()
{
    // No question, even with an unsaved result.
    boundary_.run([this] { close(); });
}

void Form1::Version_Click()
{
    boundary_.run([this] { emit aboutWindowShown(frmAbout::showInstance(services_)); });
}

void Form1::QMKgo_Click() { boundary_.run([this] { openHomePage(services_.browser); }); }

// --- Files from outside: the command line and drops ----------------------

void Form1::Form_OpenFile(const QString& path) { boundary_.run([this, path] { document_->openFile(path); }); }

namespace {

// The one local file a drag holds, as the bytes of its name decoded like a
// name on the command line; none for several files, text, or another host's
// file.
std::optional<QString> draggedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return std::nullopt;
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return std::nullopt;
    const QByteArray name = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (name.isEmpty())
        return std::nullopt;
    return QFile::decodeName(name);
}

void answerDrag(QDropEvent* event)
{
    if (draggedFile(event->mimeData()) && (event->possibleActions() & Qt::CopyAction)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

} // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event) { answerDrag(event); }
void Form1::dragMoveEvent(QDragMoveEvent* event) { answerDrag(event); }

void Form1::dropEvent(QDropEvent* event)
{
    answerDrag(event);
    const std::optional<QString> file = draggedFile(event->mimeData());
    if (!event->isAccepted() || !file)
        return;
    // The drag's source waits for the drop to end: the open, and any error
    // box it shows, come after.
    QTimer::singleShot(0, this, [this, path = *file] { Form_OpenFile(path); });
}

} // namespace penumbrix
