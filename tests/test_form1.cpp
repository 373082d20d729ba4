// The main window as its user meets it: the pictures its sliders and buttons
// make, checked against the pixel rule written out here again; and where
// every control of both windows stands, what it says and in which font, and
// the order the tab key visits them (the layout as designed, in twips, 15 to
// the pixel, from the top-left corner of the client area).

#include <QtTest>
#include <QtWidgets>

#include "fakes.h"
#include "support.h"
#include "ui/form1.h"
#include "ui/frm_about.h"

using namespace penumbrix;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

struct Windows {
    testing::ProgramFolders folders;
    fakes::Messages messages;
    fakes::OpenDialogScript dialog;
    fakes::BrowserLog browser;
    Form1 form{{messages, dialog, browser}, folders.paths};
    QPointer<frmAbout> about;

    Windows()
    {
        form.Form_Load();
        form.show();
        form.Version_Click();
        about = frmAbout::instance();
    }
    ~Windows() { delete about.data(); }
    QWidget* window(const QString& name) { return name == "Form1" ? static_cast<QWidget*>(&form) : about.data(); }
};

// The adjustment of one colour value 0x00BBGGRR under the seven slider
// values, in the order the sliders stand (R, G, B, light, contrast, range,
// multiplier).
int rule(int v, const QList<int>& s)
{
    if (v < s[5] * 100 * s[6] && s[4] > 0)
        return 0;
    const int r = v % 256, g = v / 256 % 256, b = v / 65536;
    const int common = (s[3] - 128) + (s[4] - 128);
    auto channel = [&](int offset, int c) { return std::clamp(offset - 128 + c + common, 0, 255); };
    return channel(s[0], r) + channel(s[1], g) * 256 + channel(s[2], b) * 65536;
}

int colourAt(const QImage& image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return qRed(p) + qGreen(p) * 256 + qBlue(p) * 65536;
}

// A picture holding the colours at the edges of the rule, then a pattern;
// larger than the part of the preview surface that the window shows.
Picture userPicture()
{
    Picture p = testing::patternPicture(230, 190);
    const int edges[] = {0x0000FF, 0x0032FF, 0x010000, 0x000063, 0x000064, 0x000100, 0x00FFFF, 0x020000,
                         0x80FF10, 0x204060, 0xFFFFFF, 0x000000, 0x0031FF, 0x003200};
    for (int i = 0; i < int(std::size(edges)); ++i)
        p.setPixel(i, 0, 0xFF000000u | QRgb(((edges[i] & 0xFF) << 16) | (edges[i] & 0xFF00) | (edges[i] >> 16)));
    return p;
}

const char* const kUi = "MS UI Gothic";
const char* const kP = "ＭＳ Ｐゴシック";

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    // Open a picture, put it on the preview surface, move the sliders, then
    // preview, apply and save with the window's own controls.
    void slidersPreviewApplySave_data()
    {
        QTest::addColumn<QList<int>>("values"); // R, G, B, light, contrast, range, multiplier; empty: as started
        QTest::addColumn<int>("previews");
        QTest::newRow("as started: threshold 12,800") << QList<int>{} << 1;
        QTest::newRow("neutral") << QList<int>{128, 128, 128, 128, 128, 128, 0} << 1;
        QTest::newRow("threshold 100") << QList<int>{128, 128, 128, 128, 128, 1, 1} << 1;
        QTest::newRow("threshold 65,600") << QList<int>{128, 128, 128, 128, 128, 8, 82} << 1;
        QTest::newRow("contrast 0 cuts nothing") << QList<int>{128, 128, 128, 128, 0, 256, 300} << 1;
        QTest::newRow("light and contrast, +44") << QList<int>{128, 128, 128, 200, 100, 128, 0} << 1;
        QTest::newRow("each colour its own way") << QList<int>{100, 128, 200, 138, 128, 128, 0} << 1;
        QTest::newRow("ends of every range") << QList<int>{0, 255, 0, 255, 255, 256, 300} << 1;
        QTest::newRow("two previews brighten twice") << QList<int>{128, 128, 128, 138, 128, 128, 0} << 2;
    }
    void slidersPreviewApplySave()
    {
        QFETCH(QList<int>, values);
        QFETCH(int, previews);
        Windows w;
        const QString file = w.folders.file("photo.bmp");
        const Picture source = userPicture();
        SavePicture(source, file);
        w.dialog.choices = {file};
        w.form.Image1_DblClick();
        QTest::mouseClick(w.form.findChild<QWidget*>("Image1"), Qt::LeftButton);
        const char* bars[] = {"vsRed", "vsGreen", "vsBlue", "vsLIGHT", "vsContrast", "vsRange", "vsCzoom"};
        QList<int> settings;
        for (int i = 0; i < 7; ++i) {
            auto* bar = w.form.findChild<QScrollBar*>(bars[i]);
            if (!values.isEmpty())
                bar->setValue(values[i]);
            settings << bar->value();
        }
        for (int i = 0; i < previews; ++i)
            QTest::mouseClick(w.form.findChild<QWidget*>("Command3"), Qt::LeftButton);
        QTest::mouseClick(w.form.findChild<QWidget*>("Command2"), Qt::LeftButton);
        QTest::mouseClick(w.form.findChild<QWidget*>("Command1"), Qt::LeftButton);
        QCOMPARE(w.messages.texts(), QStringList(previews, qs(text::kPreviewDone))
                                         << qs(text::kApplyConfirm) << qs(text::kApplyDone) << qs(text::kSaveDone));

        const QImage preview = w.form.findChild<DrawingSurface*>("Picture2")->image();
        const QImage result = w.form.findChild<ImageView*>("Image2")->picture();
        const Picture saved = LoadPicture(file);
        QCOMPARE(result.size(), source.size());
        QCOMPARE(saved.size(), source.size());
        // The preview surface's drawing area starts inside its 2-pixel border
        // at (5520, 4560) twips; past the client area's edge it is not drawn.
        const QRect shown(0, 0, 562 - (5520 / 15 + 2), 472 - (4560 / 15 + 2));
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x) {
                const int v = colourAt(source, x, y);
                const int once = rule(v, settings);
                const int previewed = !shown.contains(x, y) ? v : previews == 1 ? once : rule(once, settings);
                QCOMPARE(colourAt(preview, x, y), previewed);
                QCOMPARE(colourAt(result, x, y), once);
                QCOMPARE(colourAt(saved, x, y), once);
            }
    }

    void controls_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QRect>("twips"); // a size of 0: sized to its picture plus the border
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("family"); // empty: the platform's own
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<bool>("bold");
        auto row = [](const char* window, const char* name, QRect twips, const char* caption, const char* family,
                      int px, bool bold = false) {
            QTest::newRow(name) << QString::fromLatin1(window) << twips << QString::fromUtf8(caption)
                                << QString::fromUtf8(family) << px << bold;
        };
        row("Form1", "Command1", {120, 120, 1695, 360}, "イメージを保存", kUi, 12);
        row("Form1", "cmdDelete", {1920, 120, 1695, 360}, "イメージ削除", kUi, 12);
        row("Form1", "Label5", {1080, 525, 1695, 255}, "編集前イメージ", kUi, 12);
        row("Form1", "Image1", {120, 720, 3255, 3255}, "", kUi, 12);
        row("Form1", "Command2", {3480, 1440, 1455, 1080}, "⇒編集", kUi, 19);
        row("Form1", "Picture3", {3495, 2535, 1440, 1440}, "", kUi, 12);
        row("Form1", "Label6", {5910, 510, 1695, 255}, "編集後イメージ", kUi, 12);
        row("Form1", "Image2", {5040, 720, 3255, 3255}, "", kUi, 12);
        row("Form1", "RGB", {840, 4200, 4170, 255}, "--------------PICTURE調整--------------", kUi, 12);
        const char* colours[] = {"R1", "R", "R2", "G", "R3", "B"};
        const char* words[] = {"Label1", "ﾌﾞﾗｲﾄﾈｽ", "Label2", "ｺﾝｽﾄﾗｽﾄ", "Label3", "ﾍﾟﾇﾝﾌﾞﾘｸｽ", "Label4", "ｶｯﾄ倍率"};
        const char* bars[] = {"vsRed", "vsGreen", "vsBlue", "vsLIGHT", "vsContrast", "vsRange", "vsCzoom"};
        const char* values[] = {"lblRed", "lblGreen", "lblBlue", "lblLIGHT", "lblContrast", "lblRange", "lblCzoom"};
        for (int i = 0; i < 7; ++i) {
            const int top = 4440 + 360 * i;
            if (i < 3)
                row("Form1", colours[2 * i], {720, top, 255, 255}, colours[2 * i + 1], kUi, 12, true);
            else
                row("Form1", words[2 * (i - 3)], {120, top, 855, 255}, words[2 * (i - 3) + 1], kUi, 12);
            row("Form1", bars[i], {960, top, i == 6 ? 1935 : 3855, 255}, "", kUi, 12);
            row("Form1", values[i], {i == 6 ? 3000 : 4920, top, 495, 255}, i == 6 ? "1" : "0", kP, 12);
        }
        row("Form1", "cmdReset", {4440, 6600, 975, 300}, "値Reset", kUi, 12);
        row("Form1", "Command3", {5520, 4080, 1695, 300}, "プレビュー", kUi, 12);
        row("Form1", "Label37", {5520, 4410, 2775, 135}, "画像サイズにより反映時間が変わります", kUi, 11);
        row("Form1", "Picture2", {5520, 4560, 0, 0}, "", kUi, 12);
        row("Form1", "Picture1", {8880, 5280, 1575, 1575}, "", kUi, 12);
        row("frmAbout", "Picture1", {2070, 465, 1500, 1500}, "", "", 0);
        row("frmAbout", "lblTitle", {960, 2280, 3885, 240}, "Penumbrix    Version 0.50", "", 0);
        row("frmAbout", "lblDescription", {960, 2520, 3885, 330}, "Copyright (C) 2026 Penumbrix", "", 0);
        row("frmAbout", "cmdOK", {2160, 3120, 1380, 345}, "OK", "", 0);
    }
    void controls()
    {
        QFETCH(QString, window);
        QFETCH(QRect, twips);
        QFETCH(QString, caption);
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(bool, bold);
        Windows w;
        QWidget* client = w.window(window)->findChild<QWidget*>("client");
        QCOMPARE(client->size(), window == "Form1" ? QSize(562, 472) : QSize(385, 240));
        QWidget* control = client->findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control);
        QSize size(twips.width() / 15, twips.height() / 15);
        if (size.isEmpty()) {
            auto* surface = qobject_cast<DrawingSurface*>(control);
            size = surface->picture().size() + QSize(4, 4);
        }
        QCOMPARE(control->geometry(), QRect(QPoint(twips.left() / 15, twips.top() / 15), size));
        QCOMPARE(control->property("text").toString(), caption);
        if (!family.isEmpty()) {
            QCOMPARE(control->font().family(), family);
            QCOMPARE(control->font().pixelSize(), pixelSize);
            QCOMPARE(control->font().bold(), bold);
        }
    }

    void menus_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QStringList>("items"); // caption, then the shortcut
        QTest::newRow("file") << QString::fromUtf8("ファイル")
                              << QStringList{QString::fromUtf8("新規（ｲﾒｰｼﾞ削除）(&N)"), "Ctrl+N", "", "",
                                             QString::fromUtf8("ｲﾒｰｼﾞを保存(&S)"), "Ctrl+S", "", "",
                                             QString::fromUtf8("終了(&Q)"), "Ctrl+Q"};
        QTest::newRow("HelpInfo") << QString::fromUtf8("ヘルプ")
                                  << QStringList{QString::fromUtf8("Quillmark ｵﾝﾗｲﾝﾍﾙﾌﾟ(&H)"), "Ctrl+H", "", "",
                                                 QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報(&V)"), "Ctrl+V"};
    }
    void menus()
    {
        QFETCH(QString, menu);
        QFETCH(QStringList, items);
        Windows w;
        auto* m = w.form.findChild<QMenu*>(QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(m->title(), menu);
        QStringList seen;
        for (QAction* a : m->actions())
            seen << a->text() << a->shortcut().toString();
        QCOMPARE(seen, items);
    }

    void tabOrder_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QStringList>("order"); // from the control that has the focus at first
        QTest::newRow("main") << "Form1"
                              << QStringList{"Command1", "vsRed",    "Picture1", "vsGreen",    "vsBlue",
                                             "Command2", "Picture2", "Command3", "vsLIGHT",    "vsContrast",
                                             "vsRange",  "cmdReset", "vsCzoom",  "cmdDelete",  "Picture3"};
        QTest::newRow("about") << "frmAbout" << QStringList{"cmdOK", "Picture1"};
    }
    void tabOrder()
    {
        QFETCH(QString, window);
        QFETCH(QStringList, order);
        Windows w;
        QWidget* top = w.window(window);
        if (window == "Form1")
            w.form.showCentred();
        QVERIFY(QTest::qWaitForWindowActive(top));
        QStringList seen;
        for (QWidget* focus = top->focusWidget(); seen.size() < order.size() + 1; focus = focus->nextInFocusChain())
            if (focus->focusPolicy() & Qt::TabFocus && focus->isWindow() == false && focus->window() == top &&
                !qobject_cast<QMenuBar*>(focus))
                seen << focus->objectName();
        QCOMPARE(seen, order + QStringList{order.first()});
        QVERIFY(w.about->windowFlags().testFlag(Qt::Tool)); // kept out of the taskbar
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
