#pragma once
// The main window on temporary folders, with scripted fakes for everything modal.

#include <QtTest>
#include <QtWidgets>

#include "fakes.h"
#include "support.h"
#include "ui/form1.h"
#include "ui/frm_about.h"

namespace penumbrix::testing {

struct Rig {
    ProgramFolders folders;
    fakes::Messages messages;
    fakes::OpenDialogScript dialog;
    fakes::BrowserLog browser;
    Form1 form;
    ImageView& image1 = *find<ImageView>("Image1");
    ImageView& image2 = *find<ImageView>("Image2");
    DrawingSurface& picture2 = *find<DrawingSurface>("Picture2");
    DrawingSurface& picture1 = *find<DrawingSurface>("Picture1");

    // `paths`: another running copy of the program, on the folders they name.
    explicit Rig(const ProgramPaths* paths = nullptr) : form{{messages, dialog, browser}, paths ? *paths : folders.paths}
    {
        form.Form_Load();
        form.show();
        (void)QTest::qWaitForWindowActive(&form); // for the shortcuts and the focus
    }
    template <class T = QWidget>
    T* find(const char* name) const { return form.findChild<T*>(QString::fromLatin1(name)); }
    QScrollBar* bar(Setting s) const { return find<QScrollBar>(settingInfo(s).barName); }
    QWidget* window(const QString& name)
    {
        if (name == "Form1")
            return &form;
        form.Version_Click();
        return frmAbout::instance();
    }
    const Document& doc() const { return form.document(); }
    // A picture of the user's, saved under the temporary root.
    QString userPicture(const QString& name, int w = 40, int h = 30, quint32 seed = 7)
    {
        SavePicture(patternPicture(w, h, seed), folders.file(name));
        return folders.file(name);
    }
    // Opens `path` through the open dialog, as a double click on the source view does.
    void open(const QString& path)
    {
        dialog.choices << path;
        form.Image1_DblClick();
    }
    Picture placeholder() const { return LoadPicture(folders.paths.placeholder()); }
    // Which picture objects the two views hold.
    std::pair<qint64, qint64> views() const { return {image1.picture().cacheKey(), image2.picture().cacheKey()}; }
    // The last message shown starts with the run-time error `number`.
    bool lastIsError(int number) const
    {
        return !messages.texts.isEmpty() && messages.texts.last().startsWith(qs("実行時エラー '%1'").arg(number));
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

} // namespace penumbrix::testing
