// Where every control of both windows stands, what it says and in which
// font, and the order the tab key visits them: the layout as designed, in
// twips (15 to the pixel) from the top-left corner of the client area.

#include <QtTest>
#include <QtWidgets>

#include "fakes.h"
#include "support.h"
#include "ui/form1.h"
#include "ui/frm_about.h"

using namespace penumbrix;

namespace {

struct Windows {
    testing::ProgramFolders folders;
    fakes::Messages messages;
    fakes::OpenDialogScript dialog;
    fakes::Pointer pointer;
    fakes::BrowserLog browser;
    Form1 form{{messages, dialog, pointer, browser}, folders.paths};
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

const char* const kUi = "MS UI Gothic";
const char* const kP = "ＭＳ Ｐゴシック";

} // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
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

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
