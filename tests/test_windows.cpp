// The windows: wiring, what the sliders make of a picture, layout (twips, 15 to the pixel).

#include <unistd.h>

#include "engine/parallel.h"
#include "pictures/memory.h"
#include "widgets/qt_services.h"
#include "rig.h"
#include "ui/look.h"
#include "ui/window_watch.h"

using namespace penumbrix;
using namespace penumbrix::testing;

namespace {

// Opens a scroll bar's style option, to find its arrows and track.
struct BarAccess : QScrollBar {
    using QScrollBar::initStyleOption;
};

// A style whose track clicks jump to the pointer, as some desktops' styles do.
struct JumpingStyle : QProxyStyle {
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        return hint == SH_ScrollBar_LeftClickAbsolutePosition || hint == SH_ScrollBar_MiddleClickAbsolutePosition
                   ? 1 : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// The rule's edge colours, then a pattern.
Picture userPicture(QSize size, quint32 seed)
{
    Picture p = patternPicture(size.width(), size.height(), seed);
    const int edges[] = {0x0000FF, 0x0032FF, 0x010000, 0x000063, 0x000064, 0x000100, 0x00FFFF, 0x020000,
                         0x80FF10, 0x204060, 0xFFFFFF, 0x000000, 0x0031FF, 0x003200};
    for (int i = 0; i < int(std::size(edges)) && i < size.width(); ++i)
        p.setPixel(i, 0, 0xFF000000u | QRgb(((edges[i] & 0xFF) << 16) | (edges[i] & 0xFF00) | (edges[i] >> 16)));
    return p;
}

// `picture` as it is shown: every alpha byte 0xFF.
Picture opaque(Picture out)
{
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            reinterpret_cast<quint32*>(out.scanLine(y))[x] |= 0xFF000000u;
    return out;
}

// Contrast ratio as the web's accessibility guidelines define it.
double contrastRatio(QColor a, QColor b)
{
    auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    auto luminance = [&](QColor c) { return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF()); };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

const char* const kBars[] = {"vsRed", "vsGreen", "vsBlue", "vsLIGHT", "vsContrast", "vsRange", "vsCzoom"};
const char* const kLabels[] = {"lblRed", "lblGreen", "lblBlue", "lblLIGHT", "lblContrast", "lblRange", "lblCzoom"};
const char* const kUi = "MS UI Gothic";
const char* const kP = "ＭＳ Ｐゴシック";

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { keepPictureMemoryForReuse(); } // as the program does
    void cleanup() { delete frmAbout::instance(); }

    void triggers_data()
    {
        // The control clicked or triggered, or given the focus for the keys; what is seen: messages, dialogs,
        // "copied", what changed, "closed", ends, "about", addresses.
        columns<QString, QString, QStringList>("control", "keys", "expected");

        const QStringList saved{qs(text::kSaveDone)}, clear{qs(text::kClearConfirm), "views changed", "name changed"};
        auto row = [](const char* name, const char* control, const char* keys, const QStringList& expected) {
            QTest::newRow(name) << QString::fromLatin1(control) << QString::fromLatin1(keys) << expected;
        };
        row("preview button", "Command3", "", {qs(text::kPreviewDone), "hourglass", "pointer back"});
        row("apply button", "Command2", "",
            {qs(text::kApplyConfirm), qs(text::kApplyDone), "hourglass", "pointer back", "views changed"});
        row("save button", "Command1", "", saved);
        row("save item", "AllImageSave", "", saved);
        row("Ctrl+S on a slider", "vsRed", "Ctrl+S", saved);
        row("clear button", "cmdDelete", "", clear);
        row("new item", "NewImage", "", clear);
        row("Ctrl+N on the preview surface", "Picture2", "Ctrl+N", clear);
        row("quit item", "MenuEnd", "", {"closed", "program ended"});
        row("Ctrl+Q on a button", "Command2", "Ctrl+Q", {"closed", "program ended"});
        row("version item", "Version", "", {"about"});
        row("Ctrl+V on the short slider", "vsCzoom", "Ctrl+V", {"about"});
        row("online help item", "QMKgo", "", {"https://penumbrix.example/"});
        row("Ctrl+H on the reset button", "cmdReset", "Ctrl+H", {"https://penumbrix.example/"});
        const QString noBrowser = qs("実行時エラー '429':\n\nオブジェクトを作成できません。\n\nhttps://penumbrix.example/");
        row("online help item, no browser", "QMKgo", "no browser", {noBrowser});
        // The real browser service, with an xdg-open of the test's own, or none, alone on the path.
        row("online help item, the opener finds no browser", "QMKgo", "opener: exit 3", {noBrowser});
        row("Ctrl+H, no opener at all", "vsRed", "Ctrl+H opener: none", {noBrowser});
        row("online help item, the opener hands the address on", "QMKgo", "opener: exit 0", {});
        row("the about window's picture", "frmAbout/Picture1", "", {"about", "https://penumbrix.example/"});
        row("click on the source view", "Image1", "", {"copied"});
        row("click on the source view after an apply", "Image1", "after an apply", {"copied"});
        row("F5 on the preview surface", "Picture2", "F5", {"copied"});
        row("double click on the source view", "Image1", "double click", {"copied, then open", "views changed"});
        row("Ctrl+O on a slider", "vsBlue", "Ctrl+O", {"copied, then open", "views changed"});
        // Opens that don't happen leave the views, the preview and the name as they were.
        row("open cancelled", "Image1", "double click: cancel", {"copied, then open", "copied"});
        row("open of a missing file", "Image1", "double click: missing",
            {qs("実行時エラー '53':\n\nファイルが見つかりません。\n\nCHOSEN"), "copied, then open", "copied"});
        row("open of a text file named .bmp", "Image1", "double click: text",
            {qs("実行時エラー '481':\n\nピクチャが不正です。\n\nCHOSEN"), "copied, then open", "copied"});
        row("open of a name whose bytes are no text, beside the name they read as", "Image1", "double click: bad bytes",
            {qs("実行時エラー '52':\n\nファイル名または番号が不正です。\n\nCHOSEN"), "copied, then open", "copied"});
        row("double click whose last release went to the dialog, then a click", "Image1",
            "double click, its last release lost, then a click", {"copied, then open", "views changed", "copied"});
        row("right click on the source view", "Image1", "right click", {});
        row("press on the source view, released off it", "Image1", "released off", {});
        row("clear cancelled", "cmdDelete", "cancel", {qs(text::kClearConfirm)});
        row("clear whose second load fails", "cmdDelete", "second load fails",
            {qs(text::kClearConfirm), qs("実行時エラー '481':\n\nピクチャが不正です。\n\nNoImage.bmp")});
        row("Enter on a button: no default button", "Command1", "Return", {});
        row("the only window minimised", "Command1", "minimise", {});
    }
    void triggers()
    {
        auto [control, keys, expected] = fetch<QString, QString, QStringList>("control", "keys", "expected");
        Rig rig;
        const QString picture = rig.folders.file("user.bmp"),
                      other = rig.folders.file(keys.endsWith("bad bytes") ? qs("bad\uFFFD.bmp") : "other.bmp");
        SavePicture(patternPicture(20, 10), picture);
        if (keys.endsWith("text"))
            QVERIFY(writeBytes(other, "this is no picture\n"));
        if (keys.endsWith("bad bytes")) // "bad\xff.bmp" read as "bad\uFFFD.bmp", which is another name of a picture
            for (const QByteArray& name : {QFile::encodeName(rig.folders.root.path()) + "/bad\xff.bmp", QFile::encodeName(other)})
                QVERIFY(::link(QFile::encodeName(picture), name) == 0);
        // Opened now, to save and apply, and again (or what the row chooses) on a double click.
        rig.dialog.choices = {picture, keys.startsWith("double click:") ? keys.endsWith("cancel") ? "" : other : picture};
        rig.form.Image1_DblClick();
        rig.browser.fail = keys == "no browser";
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        const auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });
        std::optional<QtBrowser> browser;
        if (keys.contains("opener: ")) {
            if (!keys.endsWith("none"))
                QVERIFY(writeBytes(bin.filePath("xdg-open"), "#!/bin/sh\nexit " + keys.section(' ', -1).toLatin1() + "\n")
                        && QFile::setPermissions(bin.filePath("xdg-open"), QFile::ReadOwner | QFile::ExeOwner));
            qputenv("PATH", QFile::encodeName(bin.path()));
            rig.browser.real = &browser.emplace(rig.messages);
            keys = keys.section(' ', 0, 0) == "Ctrl+H" ? "Ctrl+H" : "";
        }
        rig.messages.answers = {keys == "cancel" ? kMessageCancel : kMessageOk};
        if (keys == "after an apply") // the result view then differs from the source view
            rig.form.Command2_Click(), rig.messages.texts.clear();
        if (keys == "second load fails") // the first load of the placeholder works, the second doesn't
            const_cast<Document&>(rig.doc()).setPictureLoader([loads = 0](const QString& path) mutable {
                if (++loads == 2)
                    throw RuntimeError(RuntimeError::InvalidPicture, "NoImage.bmp");
                return LoadPicture(path);
            });
        const auto views = rig.views();
        bool ended = false; // the program ends when its last window has closed
        LastWindowWatch windows([&] { ended = true; });
        windows.watch(&rig.form);
        connect(&rig.form, &Form1::aboutWindowShown, &windows, &LastWindowWatch::watch);
        rig.picture2.setPicture(patternPicture(3, 3));
        auto copied = [&] { return rig.picture2.picture().cacheKey() == rig.image1.picture().cacheKey(); };
        QStringList seen;
        rig.dialog.onShow = [&] { seen << (copied() ? "copied, then open" : "open"); };
        // The passes' hourglass is the main window's own pointer, gone when a message shows.
        auto pointer = [&] {
            return QString(rig.form.cursor().shape() == Qt::WaitCursor ? "hourglass" : "pointer back") +
                   (QApplication::overrideCursor() ? " for the whole program" : "");
        };
        CursorWatch watch;
        watch.changed = [&] { if (seen.value(seen.size() - 1) != pointer()) seen << pointer(); }; // told twice
        rig.form.installEventFilter(&watch);
        rig.messages.onShow = [&] { if (pointer() != "pointer back") seen << pointer() + " at a message"; };
        connect(&rig.form, &Form1::aboutWindowShown, this, [&] { seen << "about"; });

        QObject* target = control.startsWith("frmAbout/") ? rig.window("frmAbout")->findChild<QObject*>(control.mid(9))
                                                          : rig.find<QObject>(qPrintable(control));
        if (keys.startsWith("double click")) { // as the window system delivers it
            QList actions{QTest::MousePress, QTest::MouseRelease, QTest::MouseDClick, QTest::MouseRelease,
                          QTest::MousePress, QTest::MouseRelease};
            keys.contains("lost") ? actions.removeAt(3) : actions.resize(4); // its last release lost, then a click
            for (auto action : actions)
                QTest::mouseEvent(action, qobject_cast<QWidget*>(target), Qt::LeftButton, {}, {});
        } else if (keys == "right click") {
            QTest::mouseClick(qobject_cast<QWidget*>(target), Qt::RightButton);
        } else if (keys == "released off") { // the view keeps the pointer until the release
            QTest::mousePress(qobject_cast<QWidget*>(target), Qt::LeftButton);
            QTest::mouseRelease(qobject_cast<QWidget*>(target), Qt::LeftButton, {}, QPoint(-20, 30));
        } else if (keys == "minimise") {
            rig.form.showMinimized();
            QVERIFY(rig.form.isMinimized());
        } else if (keys.startsWith("Ctrl+") || keys == "F5" || keys == "Return") {
            qobject_cast<QWidget*>(target)->setFocus();
            QTest::keySequence(qobject_cast<QWidget*>(target), QKeySequence(keys));
        } else if (auto* action = qobject_cast<QAction*>(target)) {
            action->trigger();
        } else {
            QTest::mouseClick(qobject_cast<QWidget*>(target), Qt::LeftButton);
        }
        QCoreApplication::processEvents(); // the watch looks once the window has closed
        if (browser) // the opener's end is told once it has ended
            QTRY_COMPARE(browser->running(), 0);
        seen = rig.messages.texts.replaceInStrings(other, "CHOSEN") + seen;
        for (const auto& [happened, what] : std::initializer_list<std::pair<bool, const char*>>{
                 {rig.views() != views, "views changed"}, {rig.doc().currentFileName() != picture, "name changed"},
                 {copied(), "copied"}, {!rig.form.isVisible(), "closed"}, {ended, "program ended"}})
            if (happened)
                seen << what;
        QCOMPARE(seen + rig.browser.opened, expected);
        // The about window: a single one, of its own, not modal; closed, it is discarded.
        QPointer<QWidget> about = frmAbout::instance();
        QVERIFY(!about || (rig.window("frmAbout") == about && !about->parentWidget() && !about->isModal()));
        if (about && about->close())
            QTRY_VERIFY(!about && !frmAbout::instance());
    }

    void sliderSteps_data()
    {
        // The part clicked (the thumb: dragged to the value), or minus the key.
        columns<int, int, int, QString, int>("setting", "part", "expectedValue", "expectedLabel", "button");
        auto row = [](const char* name, Setting s, int part, int value, const char* label,
                      Qt::MouseButton button = Qt::LeftButton) {
            QTest::newRow(name) << int(s) << part << value << QString::fromLatin1(label) << int(button);
        };
        row("R arrow right", Setting::Red, QStyle::SC_ScrollBarAddLine, 129, "1");
        row("B track right", Setting::Blue, QStyle::SC_ScrollBarAddPage, 129, "1");
        row("G track left, middle button", Setting::Green, QStyle::SC_ScrollBarSubPage, 127, "-1", Qt::MiddleButton);
        row("czoom track right, middle button", Setting::Czoom, QStyle::SC_ScrollBarAddPage, 2, "2", Qt::MiddleButton);
        row("czoom arrow right", Setting::Czoom, QStyle::SC_ScrollBarAddLine, 2, "2");
        row("G key up: one down, as on the desktop", Setting::Green, -Qt::Key_Up, 127, "-1");
        row("czoom key down: one up", Setting::Czoom, -Qt::Key_Down, 2, "2");
        row("light key home", Setting::Light, -Qt::Key_Home, 0, "-128");
        row("range key end", Setting::Range, -Qt::Key_End, 256, "128");
        row("R thumb dragged to the left end", Setting::Red, QStyle::SC_ScrollBarSlider, 0, "-128");
        row("czoom thumb dragged to its end", Setting::Czoom, QStyle::SC_ScrollBarSlider, 300, "300");
    }
    void sliderSteps()
    {
        const auto [setting, part, expectedValue, expectedLabel, button] =
            fetch<int, int, int, QString, int>("setting", "part", "expectedValue", "expectedLabel", "button");
        JumpingStyle jumping;
        Rig rig;
        QScrollBar* bar = rig.bar(Setting(setting));
        bar->setStyle(&jumping); // a click in the track still steps by one
        const QLabel* label = rig.find<QLabel>(settingInfo(Setting(setting)).labelName);
        const QString start = label->text();
        if (part < 0) {
            bar->setFocus();
            QTest::keyClick(bar, Qt::Key(-part));
        } else if (part == QStyle::SC_ScrollBarSlider) {
            bar->setSliderDown(true);
            bar->setSliderPosition(expectedValue);
            QCOMPARE(label->text(), start); // only on release
            bar->setSliderDown(false);
        } else {
            QStyleOptionSlider option;
            (bar->*&BarAccess::initStyleOption)(&option);
            const auto area = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SubControl(part), bar);
            QTest::mouseClick(bar, Qt::MouseButton(button), {}, area.center());
            if (button != Qt::LeftButton)
                QTest::qWait(600); // past the delay before a held button repeats: released, it doesn't
        }
        QCOMPARE(bar->value(), expectedValue);
        QCOMPARE(label->text(), expectedLabel);
        QVERIFY(!bar->isSliderDown() && bar->sliderPosition() == expectedValue); // the thumb let go, at the value

        // A screen reader hears the value box's number and range, and may set it.
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(bar);
        QAccessibleValueInterface* value = spoken->valueInterface();
        QVERIFY(spoken->role() == QAccessible::Slider && value);
        const int bias = setting == int(Setting::Czoom) ? 0 : 128, largest[] = {255, 255, 255, 255, 255, 256, 300};
        QCOMPARE(QList<int>({value->currentValue().toInt(), value->minimumValue().toInt(), value->maximumValue().toInt()}),
                 QList<int>({expectedLabel.toInt(), -bias, largest[setting] - bias}));
        value->setCurrentValue(largest[setting] - bias - 1);
        QCOMPARE(bar->value(), largest[setting] - 1);
        QCOMPARE(label->text(), QString::number(largest[setting] - bias - 1));
    }

    // From 2048 x 1024 on, picture memory is kept for the next picture; from 8 MiB of rows on, files go in parts.
    void slidersPreviewApplySave_data()
    {
        // values R, G, B, light, contrast, range, multiplier (empty: as started); previews (0: a reset instead; a second
        // on a smaller window); pictures opened one after another; the most parts a pass makes (0: one a core); no thread
        // starting; the opened file's header size and pixels per metre (empty: as saved).
        columns<QList<int>, int, QList<QSize>, int, bool, QList<int>>("values", "previews", "sizes", "parts", "startsFail", "form");
        auto row = [](const char* name, const QList<int>& values, int previews, const QList<QSize>& sizes = {{230, 190}},
                      int parts = 0, bool startsFail = false, const QList<int>& form = {}) {
            QTest::newRow(name) << values << previews << sizes << parts << startsFail << form;
        };
        row("as started: threshold 12,800", {}, 1);
        row("reset from the right ends", {255, 255, 255, 255, 255, 256, 300}, 0);
        row("reset from the left ends", {0, 0, 0, 0, 0, 0, 0}, 0);
        row("neutral", {128, 128, 128, 128, 128, 128, 0}, 1);
        row("threshold 100", {128, 128, 128, 128, 128, 1, 1}, 1);
        row("contrast 0 cuts nothing", {128, 128, 128, 128, 0, 256, 300}, 1);
        row("light and contrast, +44", {128, 128, 128, 200, 100, 128, 0}, 1);
        row("ends of every range", {0, 255, 0, 255, 255, 256, 300}, 1);
        row("two previews brighten twice", {128, 128, 128, 138, 128, 128, 0}, 2);
        row("rows padded by 3, 1 and 2 bytes, many rows to a read, rows wider than a read", {128, 128, 128, 150, 128, 1, 1}, 1,
            {{1, 1}, {3, 3}, {5, 2}, {1, 7}, {1001, 700}, {400001, 2}});
        // Threshold 65,600: cuts every colour without blue; each colour moves its own way.
        const QList<int> cut{100, 128, 200, 138, 128, 8, 82};
        row("no thread can start", cut, 2, {{2049, 1400}}, 8, true);
        row("kept memory, larger after smaller", cut, 2, {{2048, 1024}, {2049, 1400}, {2049, 1400}, {2048, 1024}}, 2);
        // What the rule doesn't touch is saved as the file had it: alpha (saved under a 108-byte header), resolution.
        row("32 bits with alpha, small and in parts", cut, 1, {{37, 23}, {2049, 1400}}, 2, false, {124, 2835, 2835});
        row("300 dpi across, none given down", {}, 1, {{37, 23}}, 0, false, {40, 11811, 0});
    }
    void slidersPreviewApplySave()
    {
        const auto [values, previews, sizes, parts, startsFail, form] =
            fetch<QList<int>, int, QList<QSize>, int, bool, QList<int>>("values", "previews", "sizes", "parts", "startsFail", "form");
        setMostParts(parts);
        setThreadStartsFail(startsFail);
        const auto restore = qScopeGuard([] { setMostParts(0), setThreadStartsFail(false); });
        Rig w;
        // The preview's drawing area: inside its border at (5520, 4560) twips, up to the client's edge.
        const QRect shown(0, 0, 562 - (5520 / 15 + 2), 472 - (4560 / 15 + 2)), smaller = shown.adjusted(0, 0, -60, -50);
        quint32 seed = 0;
        for (const QSize size : sizes) {
            Picture source = userPicture(size, ++seed);
            const QString file = w.folders.file(QString("photo%1.bmp").arg(seed));
            const BmpForm opened = form.isEmpty() ? BmpForm{} : BmpForm{form[0], form[1], form[2]};
            const BmpForm saved = opened.alpha() ? BmpForm{108, opened.ppmX, opened.ppmY} : opened;
            for (int y = 0; y < size.height() && opened.alpha(); ++y) // every alpha, 0 and 255 among them
                for (int x = 0; x < size.width(); ++x)
                    reinterpret_cast<quint32*>(source.scanLine(y))[x] ^= quint32(~(x * 7 + y * 3) & 0xFF) << 24;
            if (form.isEmpty())
                SavePicture(source, file);
            else
                writeBytes(file, expectedBmp(source, opened));
            const QByteArray openedBytes = fileBytes(file);
            w.open(file);
            w.messages.texts.clear();
            QTest::mouseClick(w.find("Image1"), Qt::LeftButton);
            for (int i = 0; i < 7 && !values.isEmpty(); ++i)
                w.find<QScrollBar>(kBars[i])->setValue(values[i]);
            if (previews == 0) // a reset: every bar at 128 but the multiplier at 0, every label "0"
                QTest::mouseClick(w.find("cmdReset"), Qt::LeftButton);
            QList<int> settings;
            for (int i = 0; i < 7; ++i) {
                settings << w.find<QScrollBar>(kBars[i])->value();
                QVERIFY(previews || (w.find<QLabel>(kLabels[i])->text() == "0" && settings[i] == (i == 6 ? 0 : 128)));
            }
            const Picture result = ruled(source, settings);
            const Picture previewed = previews == 0 ? source : previews == 1 ? ruled(source, settings, shown)
                                                         : ruled(ruled(source, settings, shown), settings, smaller);
            const QSize windowSize = w.form.size();
            for (int i = 0; i < previews; ++i) {
                if (i == 1)
                    w.form.resize(windowSize - QSize(60, 50));
                QTRY_COMPARE(w.picture2.parentWidget()->size(), i ? QSize(502, 422) : QSize(562, 472));
                QTest::mouseClick(w.find("Command3"), Qt::LeftButton);
            }
            w.form.resize(windowSize);
            // Applying twice applies once, from the source view; only save writes the file.
            QTest::mouseClick(w.find("Command2"), Qt::LeftButton);
            QTest::mouseClick(w.find("Command2"), Qt::LeftButton);
            QCOMPARE(fileBytes(file), form.isEmpty() ? expectedBmp(source) : openedBytes);
            QCOMPARE(LoadPicture(w.folders.paths.workFile()), opaque(result));
            QTest::mouseClick(w.find("Command1"), Qt::LeftButton);
            const QStringList applied{qs(text::kApplyConfirm), qs(text::kApplyDone)};
            QCOMPARE(w.messages.texts, QStringList(previews, qs(text::kPreviewDone)) + applied + applied << qs(text::kSaveDone));
            QCOMPARE(toPicture(w.image1.picture()), source);
            QCOMPARE(toPicture(w.picture2.image()), previewed);
            QTRY_COMPARE(w.picture2.parentWidget()->size(), QSize(562, 472));
            w.picture2.repaint(); // what the preview drew stays on the surface, inside its border
            QCOMPARE(w.picture2.grab().toImage().convertToFormat(kPictureFormat).copy(QRect({2, 2}, size)), opaque(previewed));
            QCOMPARE(toPicture(w.image2.picture()), result);
            QCOMPARE(fileBytes(file), expectedBmp(result, saved));
        }
    }

    void controls_data()
    {
        // twips: a size of 0, sized to its picture plus the border; family: empty, the platform's own;
        // spoken: what a screen reader says of it, empty: its caption.
        columns<QString, QRect, QString, QString, int, bool, QString>("window", "twips", "caption", "family", "pixelSize", "bold", "spoken");
        auto row = [](const char* window, const char* name, QRect twips, const char* caption, const char* family,
                      int px, bool bold = false, const QString& spoken = {}) {
            QTest::newRow(name) << QString::fromLatin1(window) << twips << QString::fromUtf8(caption)
                                << QString::fromUtf8(family) << px << bold << spoken;
        };
        row("Form1", "Command1", {120, 120, 1695, 360}, "イメージを保存", kUi, 12);
        row("Form1", "cmdDelete", {1920, 120, 1695, 360}, "イメージ削除", kUi, 12);
        row("Form1", "Label5", {1080, 525, 1695, 255}, "編集前イメージ", kUi, 12);
        row("Form1", "Image1", {120, 720, 3255, 3255}, "", kUi, 12, false, qs("編集前イメージ"));
        row("Form1", "Command2", {3480, 1440, 1455, 1080}, "⇒編集", kUi, 19);
        row("Form1", "Picture3", {3495, 2535, 1440, 1440}, "", kUi, 12, false, "Penumbrix");
        row("Form1", "Label6", {5910, 510, 1695, 255}, "編集後イメージ", kUi, 12);
        row("Form1", "Image2", {5040, 720, 3255, 3255}, "", kUi, 12, false, qs("編集後イメージ"));
        row("Form1", "RGB", {840, 4200, 4170, 255}, "--------------PICTURE調整--------------", kUi, 12, false,
            qs("PICTURE調整"));
        const char* colours[] = {"R1", "R", "R2", "G", "R3", "B"};
        const char* words[] = {"Label1", "ﾌﾞﾗｲﾄﾈｽ", "Label2", "ｺﾝｽﾄﾗｽﾄ", "Label3", "ﾍﾟﾇﾝﾌﾞﾘｸｽ", "Label4", "ｶｯﾄ倍率"};
        const char* said[] = {"赤", "緑", "青", "明るさ", "コントラスト", "カット範囲", "カット倍率"}; // what each sets
        for (int i = 0; i < 7; ++i) {
            const int top = 4440 + 360 * i;
            if (i < 3)
                row("Form1", colours[2 * i], {720, top, 255, 255}, colours[2 * i + 1], kUi, 12, true);
            else
                row("Form1", words[2 * (i - 3)], {120, top, 855, 255}, words[2 * (i - 3) + 1], kUi, 12);
            row("Form1", kBars[i], {960, top, i == 6 ? 1935 : 3855, 255}, "", kUi, 12, false, qs(said[i]));
            row("Form1", kLabels[i], {i == 6 ? 3000 : 4920, top, 495, 255}, i == 6 ? "1" : "0", kP, 12, false,
                qs("%1 / %2の値 / labels %2").arg(i == 6 ? "1" : "0", qs(said[i])));
        }
        row("Form1", "cmdReset", {4440, 6600, 975, 300}, "値Reset", kUi, 12);
        row("Form1", "Command3", {5520, 4080, 1695, 300}, "プレビュー", kUi, 12);
        row("Form1", "Label37", {5520, 4410, 2775, 135}, "画像サイズにより反映時間が変わります", kUi, 11);
        row("Form1", "Picture2", {5520, 4560, 0, 0}, "", kUi, 12, false, qs("プレビュー"));
        row("Form1", "Picture1", {8880, 5280, 1575, 1575}, "", kUi, 12, false, qs("作業用イメージ"));
        row("frmAbout", "Picture1", {2070, 465, 1500, 1500}, "", "", 0, false, "Penumbrix / ホームページを開きます");
        row("frmAbout", "lblTitle", {960, 2280, 3885, 240}, "Penumbrix    Version 0.50", "", 0);
        row("frmAbout", "lblDescription", {960, 2520, 3885, 330}, "Copyright (C) 2026 Penumbrix", "", 0);
        row("frmAbout", "cmdOK", {2160, 3120, 1380, 345}, "OK", "", 0);
    }
    void controls()
    {
        const auto [window, twips, caption, family, pixelSize, bold, spoken] = fetch<QString, QRect, QString, QString, int, bool, QString>(
            "window", "twips", "caption", "family", "pixelSize", "bold", "spoken");
        Rig w;
        QWidget* client = w.window(window)->findChild<QWidget*>("client");
        QCOMPARE(client->size(), window == "Form1" ? QSize(562, 472) : QSize(385, 240));
        QWidget* control = client->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control);
        QSize size(twips.width() / 15, twips.height() / 15);
        if (size.isEmpty()) // sized to its picture, with a 2-pixel border on every side
            size = qobject_cast<DrawingSurface*>(control)->picture().size() + QSize(4, 4);
        QCOMPARE(control->geometry(), QRect(QPoint(twips.left() / 15, twips.top() / 15), size));
        QCOMPARE(control->property("text").toString(), caption);
        // The windows name Windows' fonts; the installed IPA Gothic stands in for them.
        const QFont font = control->font();
        QVERIFY(family.isEmpty() || (font.family() == family && font.pixelSize() == pixelSize && font.bold() == bold));
        QVERIFY2(family.isEmpty() || QFontInfo(font).family().startsWith("IPA"), qPrintable(QFontInfo(font).family()));

        // A screen reader names every main-window control; a value box says whose value it is.
        QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(control);
        QStringList said{heard->text(QAccessible::Name)};
        if (!heard->text(QAccessible::Description).isEmpty())
            said << heard->text(QAccessible::Description);
        for (const auto& [other, relation] : heard->relations(QAccessible::Labelled))
            said << "labels " + other->text(QAccessible::Name);
        QCOMPARE(said.join(" / "), spoken.isEmpty() ? caption : spoken);
        QVERIFY(window != "Form1" || (heard->role() != QAccessible::Client && !said.first().isEmpty()));
    }

    void menus()
    {
        Rig w;
        QStringList seen; // each menu's title, then each item's caption and shortcut
        for (const char* name : {"file", "HelpInfo"}) {
            auto* menu = w.form.findChild<QMenu*>(QString::fromLatin1(name));
            seen << menu->title();
            for (QAction* a : menu->actions())
                seen << a->text() << a->shortcut().toString();
        }
        QCOMPARE(seen, QStringList({qs("ファイル"), qs("新規（ｲﾒｰｼﾞ削除）(&N)"), "Ctrl+N", "", "", qs("ｲﾒｰｼﾞを保存(&S)"),
                                    "Ctrl+S", "", "", qs("終了(&Q)"), "Ctrl+Q", qs("ヘルプ"),
                                    qs("Quillmark ｵﾝﾗｲﾝﾍﾙﾌﾟ(&H)"), "Ctrl+H", "", "", qs("ﾊﾞｰｼﾞｮﾝ情報(&V)"), "Ctrl+V"}));
    }

    // On a light or dark theme: every text of the main window (but the coloured R and G) stands out 4.5:1 from
    // its background; Tab takes the focus round, and a click shows no focus ring.
    void themesAndTabOrder_data()
    {
        // The tab order from the control that has the focus at first; the controls clicked, each changing
        // nothing and showing no ring before the keyboard is used.
        columns<QString, QStringList, QStringList, bool>("window", "order", "clicked", "dark");
        const QStringList main{"Command1", "vsRed",    "Picture1", "vsGreen",  "vsBlue",    "Command2", "Picture2", "Command3",
                               "vsLIGHT",  "vsContrast", "vsRange", "cmdReset", "vsCzoom", "cmdDelete", "Picture3"};
        QTest::newRow("main") << "Form1" << main << QStringList{"Picture3", "Image2", "Picture2"} << false;
        QTest::newRow("main, dark palette") << "Form1" << main << QStringList{"Picture2", "Picture3"} << true;
        QTest::newRow("about") << "frmAbout" << QStringList{"cmdOK", "Picture1"} << QStringList{} << false;
    }
    void themesAndTabOrder()
    {
        const auto [window, order, clicked, dark] = fetch<QString, QStringList, QStringList, bool>("window", "order", "clicked", "dark");
        const QPalette before = QApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
        if (dark) { // a dark theme whose highlight stands out less than 3:1 against its face; white texts
            QPalette palette(QColor(0x22, 0x20, 0x20), QColor(0x22, 0x20, 0x20)); // button, window
            palette.setColor(QPalette::Highlight, QColor(0x12, 0x60, 0x8A));
            QApplication::setPalette(palette);
        }
        QCOMPARE(QApplication::style()->name(), "fusion");
        Rig w;
        const QImage screen = w.form.grab().toImage();
        int checked = 0;
        for (QWidget* control : w.find("client")->findChildren<QWidget*>()) {
            const QString name = control->objectName();
            if ((!qobject_cast<QLabel*>(control) && !qobject_cast<QPushButton*>(control)) || name == "R1" || name == "R2")
                continue;
            // Behind the text: the colour that most of the control shows, inside its border.
            QHash<QRgb, int> seen;
            const QRect inside(control->mapTo(&w.form, QPoint(2, 2)), control->size() - QSize(4, 4));
            for (int y = inside.top(); y <= inside.bottom(); ++y)
                for (int x = inside.left(); x <= inside.right(); ++x)
                    ++seen[screen.pixel(x, y)];
            const QRgb behind = std::max_element(seen.keyValueBegin(), seen.keyValueEnd(),
                                                 [](auto a, auto b) { return a.second < b.second; })->first;
            const double ratio = contrastRatio(control->palette().color(control->foregroundRole()), QColor(behind));
            QVERIFY2(ratio >= 4.5, qPrintable(QString("%1: %2:1").arg(name).arg(ratio, 0, 'f', 2)));
            // and the text is drawn: some of its pixels stand out at least 3:1
            double drawn = 1;
            for (auto [colour, count] : seen.asKeyValueRange())
                drawn = std::max(drawn, contrastRatio(QColor(colour), QColor(behind)));
            QVERIFY2(drawn >= 3, qPrintable(QString("%1: %2:1 drawn").arg(name).arg(drawn, 0, 'f', 2)));
            ++checked;
        }
        QCOMPARE(checked, 21); // 16 labels, 5 buttons
        QWidget* top = w.window(window);
        if (window == "Form1")
            w.form.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(top));
        QCOMPARE(top->focusWidget()->objectName(), order.first());
        for (const QString& name : clicked) { // a click is not the keyboard: no ring
            const QImage shown = top->grab().toImage();
            QTest::mouseClick(top->findChild<QWidget*>(name), Qt::LeftButton, {}, QPoint(5, 5));
            QVERIFY2(top->grab().toImage() == shown, qPrintable(name));
        }
        top->findChild<QWidget*>(order.first())->setFocus();
        // Tab takes the focus round and each control shows that it has it; the ring, 2 pixels along the
        // edge of a slider or a surface, stands out at least 3:1 against the window's face.
        for (int i = 1; i <= order.size(); ++i) {
            auto* next = top->findChild<QWidget*>(order[i % order.size()]);
            const QImage unfocused = next->grab().toImage();
            QTest::keyClick(top->focusWidget(), Qt::Key_Tab);
            QCOMPARE(top->focusWidget(), next);
            const QImage focused = next->grab().toImage();
            QVERIFY2(focused != unfocused, qPrintable(next->objectName()));
            const double ratio = contrastRatio(focused.pixelColor(1, focused.height() / 2), top->palette().color(QPalette::Window));
            QVERIFY2(qobject_cast<QPushButton*>(next) || ratio >= 3, qPrintable(next->objectName() + QString(": %1:1").arg(ratio)));
        }
        QVERIFY(w.window("frmAbout")->windowFlags().testFlag(Qt::Tool)); // kept out of the taskbar
    }

    // An image view on its own, with pictures smaller than its frame, wide, and far larger:
    // left half red, right half blue stay halves.
    void viewStretchesAnyPicture()
    {
        for (const QSize picture : {QSize(10, 4), QSize(2000, 30), QSize(4000, 3000)}) {
            QImage image(picture, kPictureFormat);
            image.fill(Qt::red);
            QPainter(&image).fillRect(picture.width() / 2, 0, picture.width(), picture.height(), Qt::blue);
            ImageView view;
            view.resize(217, 217);
            view.setPicture(image);
            QCOMPARE(view.shownImage().size(), QSize(215, 215));
            for (const QPoint at : {QPoint(20, 100), QPoint(20, 0), QPoint(195, 100), QPoint(195, 214)})
                QCOMPARE(QColor(view.shownImage().pixel(at)), QColor(at.x() < 100 ? Qt::red : Qt::blue));
            QCOMPARE(view.picture().size(), picture); // the picture keeps its own size
        }
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
