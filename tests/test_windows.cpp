// The windows' wiring. Dialogs, message boxes and the browser are scripted
// fakes; the pictures are real files in temporary folders.

#include <QtTest>
#include <QtWidgets>

#include "fakes.h"
#include "support.h"
#include "ui/form1.h"
#include "ui/frm_about.h"
#include "ui/look.h"
#include "ui/window_watch.h"

using namespace penumbrix;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// The main window, started up on temporary folders, with fakes for everything modal.
struct Rig {
    testing::ProgramFolders folders;
    fakes::Messages messages;
    fakes::OpenDialogScript dialog;
    fakes::BrowserLog browser;
    Form1 form{{messages, dialog, browser}, folders.paths};

    Rig()
    {
        form.Form_Load();
        form.show();
        (void)QTest::qWaitForWindowActive(&form); // for the shortcuts and the focus
    }
    template <class T = QWidget>
    T* find(const char* name) const { return form.findChild<T*>(QString::fromLatin1(name)); }
    QScrollBar* bar(Setting s) const { return find<QScrollBar>(settingInfo(s).barName); }
    QLabel* label(Setting s) const { return find<QLabel>(settingInfo(s).labelName); }
};

// Opens a scroll bar's style option, to find its arrows and track.
struct BarAccess : QScrollBar {
    using QScrollBar::initStyleOption;
};

// A style that moves the thumb to the pointer on a click in the track, with
// either button, as some desktops' styles do.
struct JumpingStyle : QProxyStyle {
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        return hint == SH_ScrollBar_LeftClickAbsolutePosition || hint == SH_ScrollBar_MiddleClickAbsolutePosition
                   ? 1 : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// Calls `changed` whenever the watched widget's own pointer is set or unset.
struct CursorWatch : QObject {
    std::function<void()> changed;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::CursorChange)
            changed();
        return false;
    }
};

// Once a modal window is up, hands it to `inspect` until that returns true
// (or a few seconds have passed), then closes it as cancelled.
void whenModal(std::function<bool(QWidget*)> inspect)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, inspect, tries = 0]() mutable {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (++tries > 500 || (dialog && inspect(dialog))) {
            timer->deleteLater();
            if (dialog)
                dialog->reject();
        }
    });
    timer->start(10);
}

QString startLabel(Setting s) { return QString::fromLatin1(s == Setting::Czoom ? "1" : "0"); }

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { delete frmAbout::instance(); }

    void triggers_data()
    {
        QTest::addColumn<QString>("control"); // clicked or triggered, or given the focus for the keys
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("expected"); // messages, dialogs, "copied", "closed", "about", addresses

        const QStringList saved{qs(text::kSaveDone)}, clear{qs(text::kClearConfirm)};
        auto row = [](const char* name, const char* control, const char* keys, const QStringList& expected) {
            QTest::newRow(name) << QString::fromLatin1(control) << QString::fromLatin1(keys) << expected;
        };
        row("preview button", "Command3", "", {qs(text::kPreviewDone), "hourglass", "pointer back"});
        row("apply button", "Command2", "",
            {qs(text::kApplyConfirm), qs(text::kApplyDone), "hourglass", "pointer back"});
        row("save button", "Command1", "", saved);
        row("save item", "AllImageSave", "", saved);
        row("Ctrl+S on a slider", "vsRed", "Ctrl+S", saved);
        row("clear button", "cmdDelete", "", clear);
        row("new item", "NewImage", "", clear);
        row("Ctrl+N on the preview surface", "Picture2", "Ctrl+N", clear);
        row("quit item", "MenuEnd", "", {"closed"});
        row("Ctrl+Q on a button", "Command2", "Ctrl+Q", {"closed"});
        row("version item", "Version", "", {"about"});
        row("Ctrl+V on the short slider", "vsCzoom", "Ctrl+V", {"about"});
        row("online help item", "QMKgo", "", {"https://penumbrix.example/"});
        row("Ctrl+H on the reset button", "cmdReset", "Ctrl+H", {"https://penumbrix.example/"});
        row("click on the source view", "Image1", "", {"copied"});
        row("double click on the source view", "Image1", "double click", {"copied, then open"});
        row("Enter on a button: no default button", "Command1", "Return", {});
    }
    void triggers()
    {
        QFETCH(QString, control);
        QFETCH(QString, keys);
        QFETCH(QStringList, expected);
        Rig rig;
        const QString picture = rig.folders.file("user.bmp");
        SavePicture(testing::patternPicture(20, 10), picture);
        rig.dialog.choices = {picture, picture}; // opened now, to save and apply, and again on a double click
        rig.form.Image1_DblClick();
        auto* preview = rig.find<DrawingSurface>("Picture2");
        preview->setPicture(testing::patternPicture(3, 3));
        auto* source = rig.find<ImageView>("Image1");
        auto copied = [&] { return preview->picture().cacheKey() == source->picture().cacheKey(); };
        QStringList seen;
        rig.dialog.onShow = [&] { seen << (copied() ? "copied, then open" : "open"); };
        // The passes' hourglass is the main window's own pointer, and the
        // default pointer is back when a message shows.
        auto pointer = [&] {
            return QString(rig.form.cursor().shape() == Qt::WaitCursor ? "hourglass" : "pointer back") +
                   (QApplication::overrideCursor() ? " for the whole program" : "");
        };
        CursorWatch watch;
        watch.changed = [&] {
            if (seen.value(seen.size() - 1) != pointer()) // Qt tells of a change twice
                seen << pointer();
        };
        rig.form.installEventFilter(&watch);
        rig.messages.onShow = [&] {
            if (pointer() != "pointer back")
                seen << pointer() + " at a message";
        };
        connect(&rig.form, &Form1::aboutWindowShown, this, [&] { seen << "about"; });

        QObject* target = rig.find<QObject>(qPrintable(control));
        if (keys == "double click") { // as the window system delivers it
            for (auto action : {QTest::MousePress, QTest::MouseRelease, QTest::MouseDClick, QTest::MouseRelease})
                QTest::mouseEvent(action, qobject_cast<QWidget*>(target), Qt::LeftButton, {}, {});
        } else if (!keys.isEmpty()) {
            qobject_cast<QWidget*>(target)->setFocus();
            QTest::keySequence(qobject_cast<QWidget*>(target), QKeySequence(keys));
        } else if (auto* action = qobject_cast<QAction*>(target)) {
            action->trigger();
        } else {
            QTest::mouseClick(qobject_cast<QWidget*>(target), Qt::LeftButton);
        }
        seen = rig.messages.texts() + seen;
        if (copied())
            seen << "copied";
        if (!rig.form.isVisible())
            seen << "closed";
        QCOMPARE(seen + rig.browser.opened, expected);
    }

    void sliderSteps_data()
    {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("part"); // the part clicked (the thumb: dragged to the value), or minus the key
        QTest::addColumn<int>("expectedValue");
        QTest::addColumn<QString>("expectedLabel");
        QTest::addColumn<int>("button");
        auto row = [](const char* name, Setting s, int part, int value, const char* label,
                      Qt::MouseButton button = Qt::LeftButton) {
            QTest::newRow(name) << int(s) << part << value << QString::fromLatin1(label) << int(button);
        };
        row("R arrow right", Setting::Red, QStyle::SC_ScrollBarAddLine, 129, "1");
        row("B track right", Setting::Blue, QStyle::SC_ScrollBarAddPage, 129, "1");
        row("G track left, middle button", Setting::Green, QStyle::SC_ScrollBarSubPage, 127, "-1", Qt::MiddleButton);
        row("czoom track right, middle button", Setting::Czoom, QStyle::SC_ScrollBarAddPage, 2, "2", Qt::MiddleButton);
        row("czoom arrow right", Setting::Czoom, QStyle::SC_ScrollBarAddLine, 2, "2");
        row("contrast key right", Setting::Contrast, -Qt::Key_Right, 129, "1");
        row("range key left", Setting::Range, -Qt::Key_Left, 127, "-1");
        row("R key up", Setting::Red, -Qt::Key_Up, 127, "-1");
        row("G key down", Setting::Green, -Qt::Key_Down, 129, "1");
        row("B key page down", Setting::Blue, -Qt::Key_PageDown, 129, "1");
        row("light key home", Setting::Light, -Qt::Key_Home, 0, "-128");
        row("range key end", Setting::Range, -Qt::Key_End, 256, "128");
        row("R thumb dragged to the left end", Setting::Red, QStyle::SC_ScrollBarSlider, 0, "-128");
        row("czoom thumb dragged to its end", Setting::Czoom, QStyle::SC_ScrollBarSlider, 300, "300");
    }
    void sliderSteps()
    {
        QFETCH(int, setting);
        QFETCH(int, part);
        QFETCH(int, expectedValue);
        QFETCH(QString, expectedLabel);
        QFETCH(int, button);
        JumpingStyle jumping;
        Rig rig;
        QScrollBar* bar = rig.bar(Setting(setting));
        bar->setStyle(&jumping); // a click in the track still steps by one
        QLabel* label = rig.label(Setting(setting));
        QCOMPARE(label->text(), startLabel(Setting(setting)));
        if (part < 0) {
            bar->setFocus();
            QTest::keyClick(bar, Qt::Key(-part));
        } else if (part == QStyle::SC_ScrollBarSlider) {
            bar->setSliderDown(true);
            bar->setSliderPosition(expectedValue);
            QCOMPARE(label->text(), startLabel(Setting(setting))); // only on release
            bar->setSliderDown(false);
        } else {
            QStyleOptionSlider option;
            (bar->*&BarAccess::initStyleOption)(&option);
            QRect area = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SubControl(part), bar);
            QTest::mouseClick(bar, Qt::MouseButton(button), {}, area.center());
            if (button != Qt::LeftButton)
                QTest::qWait(600); // past the delay before a held button repeats: released, it doesn't
        }
        QCOMPARE(bar->value(), expectedValue);
        QCOMPARE(label->text(), expectedLabel);
    }

    void reset_data()
    {
        QTest::addColumn<int>("value"); // given to every bar, within its range
        QTest::addColumn<bool>("staleLabels");
        QTest::newRow("every bar at its left end, labels out of step") << -1000 << true;
        QTest::newRow("every bar at its right end") << 1000 << false;
        QTest::newRow("bars at 128, labels out of step") << 128 << true;
    }
    void reset()
    {
        QFETCH(int, value);
        QFETCH(bool, staleLabels);
        Rig rig;
        for (const SettingInfo& info : kSettings) {
            rig.bar(info.setting)->setValue(value);
            if (staleLabels)
                rig.label(info.setting)->setText("?");
        }
        QTest::mouseClick(rig.find("cmdReset"), Qt::LeftButton);
        for (const SettingInfo& info : kSettings) {
            QCOMPARE(rig.bar(info.setting)->value(), info.setting == Setting::Czoom ? 0 : 128);
            QCOMPARE(rig.label(info.setting)->text(), "0");
        }
    }

    void aboutClosesAndProgramEnds_data()
    {
        QTest::addColumn<bool>("mainFirst");
        QTest::addColumn<int>("key"); // closes the about window
        QTest::addColumn<QString>("focus");
        QTest::newRow("main closed, then Enter on OK") << true << int(Qt::Key_Return) << "cmdOK";
        QTest::newRow("main closed, then Esc on the picture") << true << int(Qt::Key_Escape) << "Picture1";
        QTest::newRow("Enter on the picture, then main closed") << false << int(Qt::Key_Return) << "Picture1";
        QTest::newRow("keypad Enter on the picture, then main closed") << false << int(Qt::Key_Enter) << "Picture1";
    }
    void aboutClosesAndProgramEnds()
    {
        QFETCH(bool, mainFirst);
        QFETCH(int, key);
        QFETCH(QString, focus);
        Rig rig;
        int ends = 0;
        LastWindowWatch watch([&] { ++ends; });
        watch.watch(&rig.form);
        connect(&rig.form, &Form1::aboutWindowShown, &watch, &LastWindowWatch::watch);
        rig.form.Version_Click();
        QPointer<frmAbout> about = frmAbout::instance();
        auto closeMain = [&] { rig.form.close(); };
        auto closeAbout = [&] {
            QWidget* target = about->findChild<QWidget*>(focus);
            target->setFocus();
            QTest::keyClick(target, Qt::Key(key));
        };
        mainFirst ? closeMain() : closeAbout();
        QTest::qWait(0); // lets closed windows go and queued checks run
        QCOMPARE(ends, 0);
        QCOMPARE(about && about->isVisible(), mainFirst); // it outlives the main window
        mainFirst ? closeAbout() : closeMain();
        QTest::qWait(0);
        QVERIFY(!about && rig.browser.opened.isEmpty());
        QCOMPARE(ends, 1);
    }

    void aboutWindowAndLink_data()
    {
        QTest::addColumn<bool>("fromAbout"); // the link followed from the about window's picture, or the menu
        QTest::addColumn<bool>("browserFails");
        QTest::newRow("about window's picture") << true << false;
        QTest::newRow("help menu, no browser") << false << true;
        QTest::newRow("about window's picture, no browser") << true << true;
    }
    void aboutWindowAndLink()
    {
        QFETCH(bool, fromAbout);
        QFETCH(bool, browserFails);
        Rig rig;
        rig.browser.fail = browserFails;
        rig.form.Version_Click();
        QPointer<frmAbout> about = frmAbout::instance();
        rig.form.Version_Click();
        QCOMPARE(frmAbout::instance(), about.data()); // a single one, of its own
        QVERIFY(about->isVisible() && !about->parentWidget() && !about->isModal());
        if (fromAbout)
            QTest::mouseClick(about->findChild<QWidget*>("Picture1"), Qt::LeftButton);
        else
            rig.find<QAction>("QMKgo")->trigger();
        QCOMPARE(rig.messages.shown.size(), browserFails ? 1u : 0u);
        QCOMPARE(rig.browser.opened, browserFails ? QStringList() : QStringList{"https://penumbrix.example/"});
        QVERIFY(about->isVisible() && rig.form.isVisible()); // the program goes on
        about->close(); // discards it; the next show builds a new one
        QTest::qWait(0);
        QVERIFY(!about && !frmAbout::instance());
        rig.form.Version_Click();
        QVERIFY(frmAbout::instance() && frmAbout::instance()->isVisible());
    }

    // Qt's own texts: Japanese from Qt's translation, English where it is
    // missing. The open dialog shows the filter's description alone and lists
    // .bmp files in either letter case.
    void platformTexts_data()
    {
        QTest::addColumn<bool>("translated");
        QTest::addColumn<QStringList>("expected"); // the box's buttons; the dialog's labels, types and files
        const QStringList dialog{qs("画像(*.BMP)"), "a.bmp", "b.BMP"};
        QTest::newRow("Qt's Japanese translation")
            << true << QStringList{"OK", qs("キャンセル"), qs("ファイル名(&N):"), qs("ファイルの種類:")} + dialog;
        QTest::newRow("no translation: English")
            << false << QStringList{"OK", "Cancel", "File &name:", "Files of type:"} + dialog;
    }
    void platformTexts()
    {
        QFETCH(bool, translated);
        QFETCH(QStringList, expected);
        QTemporaryDir folder;
        for (const char* name : {"a.bmp", "b.BMP", "c.png"})
            QVERIFY(QFile(folder.filePath(name)).open(QIODevice::WriteOnly));
        const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (translated && !QFile::exists(qtFolder + "/qtbase_ja.qm"))
            QSKIP("Qt's Japanese translation qtbase_ja.qm is not installed (Debian: qt6-translations-l10n)");
        std::unique_ptr<QTranslator> translation(useJapanesePlatformTexts(translated ? qtFolder : folder.path()));
        QCOMPARE(bool(translation), translated);

        QStringList seen;
        whenModal([&](QWidget* box) {
            for (auto* button : box->findChildren<QPushButton*>())
                seen << button->text();
            return true;
        });
        QtMessageService().show("?", MessageButtons::OkCancel);
        whenModal([&](QWidget* dialog) {
            auto* model = dialog->findChild<QFileSystemModel*>();
            const QModelIndex root = model->index(folder.path());
            if (model->rowCount(root) < 2)
                return false;
            for (const char* label : {"fileNameLabel", "fileTypeLabel"})
                seen << dialog->findChild<QLabel*>(label)->text();
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            for (int i = 0; i < types->count(); ++i)
                seen << types->itemText(i);
            QStringList files;
            for (int row = 0; row < model->rowCount(root); ++row)
                files << model->index(row, 0, root).data().toString();
            files.sort();
            seen += files;
            return true;
        });
        QVERIFY(!QtOpenDialog().showOpen(qs(text::kImageFilter), folder.filePath("a.bmp")));
        QCOMPARE(seen, expected);
    }

    // Every caption, half-width katakana included, is drawn by its own font,
    // not by boxes: the Windows fonts named must map to installed ones.
    void captionsHaveGlyphs()
    {
        Rig rig;
        rig.form.Version_Click();
        int captions = 0;
        for (QWidget* w : rig.form.findChildren<QWidget*>() + frmAbout::instance()->findChildren<QWidget*>()) {
            QStringList texts{w->property("text").toString(), w->property("title").toString()};
            for (QAction* action : qobject_cast<QMenu*>(w) ? w->actions() : QList<QAction*>())
                texts << action->text();
            texts.removeAll(QString());
            for (const QString& caption : texts)
                for (const QChar c : caption)
                    QVERIFY2(c == '&' || c.isSpace() || QFontMetrics(w->font()).inFont(c), qPrintable(caption));
            captions += int(texts.size());
        }
        QVERIFY(captions >= 30);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
