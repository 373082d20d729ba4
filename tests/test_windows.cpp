// The windows' wiring: every button, menu item and shortcut runs its
// operation, the sliders and their labels, the reset, the about window's
// lifetime and the home-page link. Dialogs, message boxes and the browser are
// scripted fakes; the pictures are real files in temporary folders.

#include <QtTest>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTemporaryDir>

#include "engine/settings.h"
#include "fakes.h"
#include "images/document.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/window_watch.h"

using namespace penumbrix;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// A picture whose pixels all differ, so that any transform shows.
Picture userPicture(int width = 40, int height = 30)
{
    QImage image(width, height, kPictureFormat);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 6, y * 8, (x * y) & 0xFF));
    return image;
}

// The main window on temporary folders, with fakes for everything modal.
struct Rig {
    QTemporaryDir root;
    ProgramPaths paths{root.filePath(QStringLiteral("share")), root.filePath(QStringLiteral("data"))};
    fakes::Messages messages;
    fakes::OpenDialogScript dialog;
    fakes::Pointer pointer;
    fakes::BrowserLog browser;
    std::unique_ptr<Form1> form;

    explicit Rig(bool placeholder = true, bool load = true)
    {
        QDir().mkpath(paths.installFolder);
        if (placeholder)
            QFile::copy(QStringLiteral(PENUMBRIX_SOURCE_DIR "/assets/NoImage.bmp"), paths.placeholder());
        form = std::make_unique<Form1>(WindowServices{messages, dialog, pointer, browser}, paths);
        if (load && !form->Form_Load())
            qFatal("start-up failed");
    }
    template <class T = QWidget>
    T* find(const QString& name) const
    {
        T* found = form->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    QScrollBar* bar(Setting s) const { return find<QScrollBar>(QString::fromLatin1(settingInfo(s).barName)); }
    QLabel* label(Setting s) const { return find<QLabel>(QString::fromLatin1(settingInfo(s).labelName)); }
    ImageView* view(const char* name) const { return find<ImageView>(QString::fromLatin1(name)); }
    DrawingSurface* preview() const { return find<DrawingSurface>(QStringLiteral("Picture2")); }
    QAction* item(const char* name) const { return find<QAction>(QString::fromLatin1(name)); }

    // Opens a picture of the user's through the open dialog; returns its path.
    QString openUserPicture(const QString& name = QStringLiteral("user.bmp"), const Picture& picture = userPicture())
    {
        const QString path = root.filePath(name);
        SavePicture(picture, path);
        dialog.choices.push_back(path);
        form->Image1_DblClick();
        return path;
    }
    bool showActive()
    {
        form->show();
        return QTest::qWaitForWindowActive(form.get());
    }
};

// Lets closed windows go and queued checks run.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QPushButton* okButton(frmAbout* about) { return about->findChild<QPushButton*>(QStringLiteral("cmdOK")); }

// What a trigger is seen to have done.
enum Effect { PreviewDrawn, ResultMade, FileSaved, Cleared, Closed, AboutShown, LinkOpened, PreviewCopied, Nothing };

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<frmAbout*>(); }
    void cleanup() { delete frmAbout::instance(); }

    void startUp_data()
    {
        QTest::addColumn<bool>("placeholder");
        QTest::newRow("placeholder in place") << true;
        QTest::newRow("placeholder missing") << false;
    }
    void startUp()
    {
        QFETCH(bool, placeholder);
        Rig rig(placeholder, false);
        QCOMPARE(rig.form->Form_Load(), placeholder);
        QCOMPARE(rig.messages.shown.size(), placeholder ? 0u : 1u); // the reported error
        QCOMPARE(rig.view("Image1")->picture().isNull(), !placeholder);
        QCOMPARE(rig.preview()->scaleWidth(), placeholder ? 217 : 0);
        QVERIFY(!rig.pointer.busy);
    }

    void triggers_data();
    void triggers();
    void sliderSteps_data();
    void sliderSteps();

    void draggedThumb_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("expectedLabel");
        QTest::newRow("R to the left end") << int(Setting::Red) << 0 << "-128";
        QTest::newRow("B to the right end") << int(Setting::Blue) << 255 << "127";
        QTest::newRow("range to its end") << int(Setting::Range) << 256 << "128";
        QTest::newRow("czoom to its end") << int(Setting::Czoom) << 300 << "300";
    }
    void draggedThumb()
    {
        QFETCH(int, setting);
        QFETCH(int, position);
        QFETCH(QString, expectedLabel);
        Rig rig;
        QScrollBar* bar = rig.bar(Setting(setting));
        const QString labelBefore = rig.label(Setting(setting))->text();
        const int valueBefore = bar->value();

        bar->setSliderDown(true);
        bar->setSliderPosition(position / 2);
        bar->setSliderPosition(position);
        QCOMPARE(rig.label(Setting(setting))->text(), labelBefore);
        QCOMPARE(bar->value(), valueBefore);
        bar->setSliderDown(false);
        QCOMPARE(bar->value(), position);
        QCOMPARE(rig.label(Setting(setting))->text(), expectedLabel);
    }

    void reset_data()
    {
        QTest::addColumn<int>("state"); // 0 at start, 1 all at the left end, 2 at the right end, 3 stale labels
        QTest::newRow("right after start-up") << 0;
        QTest::newRow("every bar at its left end") << 1;
        QTest::newRow("every bar at its right end") << 2;
        QTest::newRow("bars neutral, labels out of step") << 3;
    }
    void reset();
    void doubleClickCopiesThenOpens();
    void aboutWindowIsSingle();

    void aboutClosesOnKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focus");
        QTest::newRow("Enter on OK") << int(Qt::Key_Return) << "cmdOK";
        QTest::newRow("Enter on the picture") << int(Qt::Key_Return) << "Picture1";
        QTest::newRow("keypad Enter on the picture") << int(Qt::Key_Enter) << "Picture1";
        QTest::newRow("Esc on OK") << int(Qt::Key_Escape) << "cmdOK";
        QTest::newRow("Esc on the picture") << int(Qt::Key_Escape) << "Picture1";
    }
    void aboutClosesOnKeys()
    {
        QFETCH(int, key);
        QFETCH(QString, focus);
        Rig rig;
        rig.form->Version_Click();
        QPointer<frmAbout> about = frmAbout::instance();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QCOMPARE(about->focusWidget(), okButton(about));
        QWidget* target = about->findChild<QWidget*>(focus);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        settle();
        QVERIFY(!about);
        QVERIFY(rig.browser.opened.isEmpty());
    }

    void programEndsWithLastWindow_data()
    {
        QTest::addColumn<bool>("mainFirst");
        QTest::newRow("main window closed first") << true;
        QTest::newRow("about window closed first") << false;
    }
    void programEndsWithLastWindow();

    void homePageLink_data()
    {
        QTest::addColumn<bool>("fromAbout");
        QTest::addColumn<bool>("browserFails");
        QTest::newRow("help menu") << false << false;
        QTest::newRow("about window's picture") << true << false;
        QTest::newRow("help menu, no browser") << false << true;
        QTest::newRow("about window's picture, no browser") << true << true;
    }
    void homePageLink();
    void captionsHaveGlyphs();
};

void TestWindows::triggers_data()
{
    QTest::addColumn<QString>("trigger"); // click:<control>, menu:<item> or key:<keys>@<control with the focus>
    QTest::addColumn<QStringList>("expectedMessages");
    QTest::addColumn<int>("effect");

    const QStringList saved{qs(text::kSaveDone)}, clear{qs(text::kClearConfirm)}, none;
    QTest::newRow("プレビュー") << "click:Command3" << QStringList{qs(text::kPreviewDone)} << int(PreviewDrawn);
    QTest::newRow("⇒編集") << "click:Command2" << QStringList{qs(text::kApplyConfirm), qs(text::kApplyDone)}
                         << int(ResultMade);
    QTest::newRow("イメージを保存") << "click:Command1" << saved << int(FileSaved);
    QTest::newRow("save item") << "menu:AllImageSave" << saved << int(FileSaved);
    QTest::newRow("Ctrl+S on a slider") << "key:Ctrl+S@vsRed" << saved << int(FileSaved);
    QTest::newRow("イメージ削除") << "click:cmdDelete" << clear << int(Cleared);
    QTest::newRow("new item") << "menu:NewImage" << clear << int(Cleared);
    QTest::newRow("Ctrl+N on the preview surface") << "key:Ctrl+N@Picture2" << clear << int(Cleared);
    QTest::newRow("quit item") << "menu:MenuEnd" << none << int(Closed);
    QTest::newRow("Ctrl+Q on a button") << "key:Ctrl+Q@Command2" << none << int(Closed);
    QTest::newRow("version item") << "menu:Version" << none << int(AboutShown);
    QTest::newRow("Ctrl+V on the short slider") << "key:Ctrl+V@vsCzoom" << none << int(AboutShown);
    QTest::newRow("online help item") << "menu:QMKgo" << none << int(LinkOpened);
    QTest::newRow("Ctrl+H on the reset button") << "key:Ctrl+H@cmdReset" << none << int(LinkOpened);
    QTest::newRow("click on the source view") << "click:Image1" << none << int(PreviewCopied);
    QTest::newRow("Enter on a slider: no default button") << "key:Return@vsGreen" << none << int(Nothing);
    QTest::newRow("Enter on the first button") << "key:Return@Command1" << none << int(Nothing);
}

void TestWindows::triggers()
{
    QFETCH(QString, trigger);
    QFETCH(QStringList, expectedMessages);
    QFETCH(int, effect);

    Rig rig;
    QVERIFY(rig.showActive());
    const QString userFile = rig.openUserPicture();
    rig.bar(Setting::Red)->setValue(200); // so that a transform changes every pixel
    if (effect == PreviewCopied)
        rig.preview()->setPicture(userPicture(5, 5));
    else
        rig.form->Image1_Click();
    QVERIFY(QFile::remove(userFile)); // saving brings it back
    rig.messages.shown.clear();
    const QImage previewBefore = rig.preview()->image().copy();
    const qint64 resultBefore = rig.view("Image2")->picture().cacheKey();
    QSignalSpy aboutShown(rig.form.get(), &Form1::aboutWindowShown);

    const QString kind = trigger.section(QLatin1Char(':'), 0, 0), what = trigger.section(QLatin1Char(':'), 1);
    if (kind == QLatin1String("click")) {
        QTest::mouseClick(rig.find(what), Qt::LeftButton);
    } else if (kind == QLatin1String("menu")) {
        rig.find<QAction>(what)->trigger();
    } else {
        QWidget* focus = rig.find(what.section(QLatin1Char('@'), 1));
        focus->setFocus();
        QTest::keySequence(focus, QKeySequence(what.section(QLatin1Char('@'), 0, 0)));
    }

    QCOMPARE(rig.messages.texts(), expectedMessages);
    QCOMPARE(rig.dialog.proposed.size(), 1); // only the opening in the set-up
    QCOMPARE(QFile::exists(userFile), effect == FileSaved);
    QCOMPARE(rig.form->isVisible(), effect != Closed);
    QCOMPARE(rig.form->document().currentFileName() == rig.paths.placeholder(), effect == Cleared);
    QCOMPARE(rig.preview()->image() != previewBefore, effect == PreviewDrawn || effect == PreviewCopied);
    QCOMPARE(rig.view("Image2")->picture().cacheKey() != resultBefore, effect == ResultMade || effect == Cleared);
    QCOMPARE(aboutShown.size(), effect == AboutShown ? 1 : 0);
    QCOMPARE(frmAbout::instance() && frmAbout::instance()->isVisible(), effect == AboutShown);
    QCOMPARE(rig.browser.opened.size(), effect == LinkOpened ? 1 : 0);
    if (effect == PreviewCopied)
        QCOMPARE(rig.preview()->picture().cacheKey(), rig.view("Image1")->picture().cacheKey());
    QVERIFY(!rig.pointer.busy);
}

void TestWindows::sliderSteps_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<int>("part"); // the scroll bar part clicked, or minus the key pressed
    QTest::addColumn<int>("expectedValue");
    QTest::addColumn<QString>("expectedLabel");

    auto row = [](const char* name, Setting s, int part, int value, const char* label) {
        QTest::newRow(name) << int(s) << part << value << QString::fromLatin1(label);
    };
    row("R arrow right", Setting::Red, QStyle::SC_ScrollBarAddLine, 129, "1");
    row("G arrow left", Setting::Green, QStyle::SC_ScrollBarSubLine, 127, "-1");
    row("B track right", Setting::Blue, QStyle::SC_ScrollBarAddPage, 129, "1");
    row("light track left", Setting::Light, QStyle::SC_ScrollBarSubPage, 127, "-1");
    row("czoom arrow right", Setting::Czoom, QStyle::SC_ScrollBarAddLine, 2, "2");
    row("czoom track left", Setting::Czoom, QStyle::SC_ScrollBarSubPage, 0, "0");
    row("contrast key right", Setting::Contrast, -Qt::Key_Right, 129, "1");
    row("range key left", Setting::Range, -Qt::Key_Left, 127, "-1");
    row("R key up", Setting::Red, -Qt::Key_Up, 127, "-1");
    row("G key down", Setting::Green, -Qt::Key_Down, 129, "1");
    row("B key page down", Setting::Blue, -Qt::Key_PageDown, 129, "1");
    row("light key home", Setting::Light, -Qt::Key_Home, 0, "-128");
    row("range key end", Setting::Range, -Qt::Key_End, 256, "128");
}

void TestWindows::sliderSteps()
{
    QFETCH(int, setting);
    QFETCH(int, part);
    QFETCH(int, expectedValue);
    QFETCH(QString, expectedLabel);

    Rig rig;
    QVERIFY(rig.showActive());
    QScrollBar* bar = rig.bar(Setting(setting));
    QCOMPARE(rig.label(Setting(setting))->text(), setting == int(Setting::Czoom) ? "1" : "0");
    if (part < 0) {
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key(-part));
    } else {
        QStyleOptionSlider option;
        option.initFrom(bar);
        option.orientation = Qt::Horizontal;
        option.minimum = bar->minimum();
        option.maximum = bar->maximum();
        option.sliderPosition = option.sliderValue = bar->value();
        option.singleStep = bar->singleStep();
        option.pageStep = bar->pageStep();
        const QRect area =
            bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SubControl(part), bar);
        QTest::mouseClick(bar, Qt::LeftButton, {}, area.center());
    }
    QCOMPARE(bar->value(), expectedValue);
    QCOMPARE(rig.label(Setting(setting))->text(), expectedLabel);
    QVERIFY(rig.messages.shown.empty());
}

void TestWindows::reset()
{
    QFETCH(int, state);
    Rig rig;
    for (const SettingInfo& info : kSettings) {
        const int neutral = info.setting == Setting::Czoom ? 0 : 128;
        if (state > 0)
            rig.bar(info.setting)->setValue(state == 1 ? info.minimum : state == 2 ? info.maximum : neutral);
        if (state == 3)
            rig.label(info.setting)->setText(QStringLiteral("?"));
    }
    const qint64 source = rig.view("Image1")->picture().cacheKey(), preview = rig.preview()->image().cacheKey();

    for (int round = 1; round <= 2; ++round) {
        QTest::mouseClick(rig.find(QStringLiteral("cmdReset")), Qt::LeftButton);
        for (const SettingInfo& info : kSettings) {
            QCOMPARE(rig.bar(info.setting)->value(), info.setting == Setting::Czoom ? 0 : 128);
            QCOMPARE(rig.label(info.setting)->text(), QStringLiteral("0"));
        }
    }
    QVERIFY(rig.messages.shown.empty());
    QCOMPARE(rig.view("Image1")->picture().cacheKey(), source);
    QCOMPARE(rig.preview()->image().cacheKey(), preview);
}

void TestWindows::doubleClickCopiesThenOpens()
{
    Rig rig;
    QVERIFY(rig.showActive());
    const QString first = rig.openUserPicture();
    rig.preview()->setPicture(userPicture(3, 3));
    const qint64 shownSource = rig.view("Image1")->picture().cacheKey();
    bool copiedBeforeDialog = false;
    rig.dialog.onShow = [&] { copiedBeforeDialog = rig.preview()->picture().cacheKey() == shownSource; };
    const QString second = rig.root.filePath(QStringLiteral("second.bmp"));
    SavePicture(userPicture(20, 10), second);
    rig.dialog.choices.push_back(second);

    // A double click as the window system delivers it.
    ImageView* view = rig.view("Image1");
    QTest::mousePress(view, Qt::LeftButton);
    QTest::mouseRelease(view, Qt::LeftButton);
    QTest::mouseDClick(view, Qt::LeftButton);
    QTest::mouseRelease(view, Qt::LeftButton);

    QVERIFY(copiedBeforeDialog);
    QCOMPARE(rig.dialog.proposed, QStringList({rig.paths.placeholder(), first}));
    QCOMPARE(rig.dialog.filters.last(), qs("画像(*.BMP)|*.BMP"));
    QCOMPARE(rig.form->document().currentFileName(), second);
    QCOMPARE(rig.view("Image1")->picture().size(), QSize(20, 10));
    QCOMPARE(rig.preview()->picture().cacheKey(), shownSource); // the copy came before the opening
}

void TestWindows::aboutWindowIsSingle()
{
    Rig rig;
    QSignalSpy shown(rig.form.get(), &Form1::aboutWindowShown);
    auto aboutWindows = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<frmAbout*>(w) && w->isVisible();
        return n;
    };
    rig.item("Version")->trigger();
    QPointer<frmAbout> first = frmAbout::instance();
    QVERIFY(first && first->isVisible() && !first->parentWidget() && !first->isModal());
    rig.item("Version")->trigger();
    QCOMPARE(frmAbout::instance(), first.data());
    QCOMPARE(aboutWindows(), 1);
    QCOMPARE(shown.size(), 2);

    // Closing discards it; showing it again builds a new one.
    QLabel* title = first->findChild<QLabel*>(QStringLiteral("lblTitle"));
    title->setText(QStringLiteral("changed"));
    QTest::mouseClick(okButton(first), Qt::LeftButton);
    settle();
    QVERIFY(!first && !frmAbout::instance());
    rig.item("Version")->trigger();
    title = frmAbout::instance()->findChild<QLabel*>(QStringLiteral("lblTitle"));
    QCOMPARE(title->text(), QStringLiteral("Penumbrix    Version 0.50"));
    QCOMPARE(aboutWindows(), 1);
}

void TestWindows::programEndsWithLastWindow()
{
    QFETCH(bool, mainFirst);
    Rig rig;
    int ends = 0;
    LastWindowWatch watch([&] { ++ends; });
    watch.watch(rig.form.get());
    connect(rig.form.get(), &Form1::aboutWindowShown, &watch, &LastWindowWatch::watch);
    rig.form->show();
    rig.form->Version_Click();
    QPointer<frmAbout> about = frmAbout::instance();
    auto closeMain = [&] { rig.item("MenuEnd")->trigger(); };
    auto closeAbout = [&] { QTest::mouseClick(okButton(about), Qt::LeftButton); };

    mainFirst ? closeMain() : closeAbout();
    settle();
    QCOMPARE(ends, 0);
    QCOMPARE(rig.form->isVisible(), !mainFirst);
    QCOMPARE(about && about->isVisible(), mainFirst);
    mainFirst ? closeAbout() : closeMain();
    settle();
    QCOMPARE(ends, 1);
}

void TestWindows::homePageLink()
{
    QFETCH(bool, fromAbout);
    QFETCH(bool, browserFails);
    Rig rig;
    rig.form->show();
    rig.browser.fail = browserFails;
    rig.form->Version_Click();
    QPointer<frmAbout> about = frmAbout::instance();
    if (fromAbout)
        QTest::mouseClick(about->findChild<QWidget*>(QStringLiteral("Picture1")), Qt::LeftButton);
    else
        rig.item("QMKgo")->trigger();

    if (browserFails) {
        QCOMPARE(rig.messages.shown.size(), 1u);
        QVERIFY(rig.messages.texts().front().contains(QStringLiteral("429")));
    } else {
        QVERIFY(rig.messages.shown.empty());
        QCOMPARE(rig.browser.opened, QStringList{QStringLiteral("https://penumbrix.example/")});
    }
    // Both windows stay open, and the program goes on.
    settle();
    QVERIFY(about && about->isVisible() && rig.form->isVisible());
    QVERIFY(!rig.pointer.busy);
    rig.messages.shown.clear();
    QTest::mouseClick(rig.find(QStringLiteral("Command3")), Qt::LeftButton);
    QCOMPARE(rig.messages.texts(), QStringList{qs(text::kPreviewDone)});
}

// Every caption, half-width katakana included, is drawn by its own font, not
// by boxes: the Windows fonts the windows name must map to installed ones.
void TestWindows::captionsHaveGlyphs()
{
    Rig rig;
    rig.form->Version_Click();
    QList<QWidget*> widgets = rig.form->findChildren<QWidget*>() + frmAbout::instance()->findChildren<QWidget*>();
    int captions = 0;
    auto check = [&](const QString& caption, const QFont& font) {
        for (const QChar c : caption)
            QVERIFY2(c == QLatin1Char('&') || c.isSpace() || QFontMetrics(font).inFont(c),
                     qPrintable(caption + QStringLiteral(": no '%1' in ").arg(c) + QFontInfo(font).family()));
        ++captions;
    };
    for (QWidget* w : widgets) {
        if (auto* label = qobject_cast<QLabel*>(w))
            check(label->text(), label->font());
        else if (auto* button = qobject_cast<QPushButton*>(w))
            check(button->text(), button->font());
        else if (auto* menu = qobject_cast<QMenu*>(w)) {
            check(menu->title(), rig.form->menuBar()->font());
            for (QAction* action : menu->actions())
                check(action->text(), menu->font());
        }
    }
    QVERIFY(captions >= 30);
}

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
