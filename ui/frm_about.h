#pragma once
// The about window: the program's name and version, the maker's copyright
// line and the built-in picture, which opens the maker's home page.
//
// There is at most one about window. It has no owner and is modeless, so it
// stays open when the main window closes; closing it discards it, and the
// next show builds it afresh. It is a tool window, kept out of the taskbar.

#include <QDialog>

#include "document/event_boundary.h"
#include "widgets/qt_services.h"
#include "widgets/surfaces.h"
#include "ui/window_services.h"

class QPushButton;

namespace penumbrix {

inline const char* const kAboutTitle = "Penumbrix    Version 0.50";
inline const char* const kAboutCopyright = "Copyright (C) 2026 Penumbrix";

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // Shows the about window, building it first when there is none, and
    // brings it to the front; returns at once.
    static frmAbout* showInstance(const WindowServices& services);
    // The about window while one exists.
    static frmAbout* instance();

public slots:
    void cmdOK_Click();
    void Picture1_Click();

protected:
    // Esc presses OK, the cancel button, wherever the focus is (Enter presses
    // it as the default button).
    void keyPressEvent(QKeyEvent* event) override;

private:
    explicit frmAbout(const WindowServices& services);

    WindowServices services_;
    QtBusyPointer busy_{this};
    EventBoundary boundary_;
    QPushButton* cmdOK_ = nullptr;
    DrawingSurface* Picture1_ = nullptr;
};

} // namespace penumbrix
