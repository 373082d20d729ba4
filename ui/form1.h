#pragma once
// The main window: the source and result views, the adjustment panel with its
// seven sliders, the preview surface, the buttons and the menus. Each user
// action runs one event procedure, and each procedure runs one operation of
// the document (or the window's own quit, about window or home-page link)
// through the event boundary, which reports a run-time error and goes on.

#include <QMainWindow>

#include <array>
#include <memory>

#include "engine/settings.h"
#include "document/document.h"
#include "document/event_boundary.h"
#include "document/paths.h"
#include "widgets/qt_services.h"
#include "widgets/surfaces.h"
#include "ui/window_services.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QScrollBar;

namespace penumbrix {

class WindowFace;
class frmAbout;

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    // Every control stands at its place with its start value; the image slots
    // stay empty until Form_Load.
    Form1(WindowServices services, ProgramPaths paths, QWidget* parent = nullptr);
    ~Form1() override;

    const Document& document() const { return *document_; }

    // Shows the window in the middle of the screen with the focus on Command1.
    void showCentred();

public slots:
    // Fills the image slots; false when the placeholder picture could not be
    // loaded (the error has then been reported).
    bool Form_Load();

    void Image1_Click();
    void Image1_DblClick();
    void Command3_Click();
    void Command2_Click();
    void Command1_Click();
    void AllImageSave_Click();
    void cmdDelete_Click();
    void NewImage_Click();
    void cmdReset_Click();
    void vsRed_Change();
    void vsGreen_Change();
    void vsBlue_Change();
    void vsLIGHT_Change();
    void vsContrast_Change();
    void vsRange_Change();
    void vsCzoom_Change();
    void MenuEnd_Click();
    void Version_Click();
    void QMKgo_Click();
    // A file named on the command line or dropped on the window, opened as a
    // file chosen in the open dialog is.
    void Form_OpenFile(const QString& path);

signals:
    // The about window has been shown (created afresh or brought to the front).
    void aboutWindowShown(penumbrix::frmAbout* window);

protected:
    // A drop of one local file opens it (after the drop has ended); anything
    // else is refused while it is dragged over the window.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    void buildPanel();
    void buildMenus();
    void setTabOrder();
    void connectEvents();

    QScrollBar* bar(Setting s) const { return bars_[static_cast<int>(s)]; }
    QLabel* valueLabel(Setting s) const { return valueLabels_[static_cast<int>(s)]; }
    // The body of the seven change procedures.
    void showValue(Setting s);
    AdjustmentSettings readSettings() const;

    WindowServices services_;
    // The passes' hourglass: this window's own pointer, not the application's.
    QtBusyPointer busy_{this};
    EventBoundary boundary_;

    WindowFace* face_ = nullptr;
    QPushButton* Command1_ = nullptr;
    QPushButton* cmdDelete_ = nullptr;
    QPushButton* Command2_ = nullptr;
    QPushButton* Command3_ = nullptr;
    QPushButton* cmdReset_ = nullptr;
    ImageView* Image1_ = nullptr;
    ImageView* Image2_ = nullptr;
    DrawingSurface* Picture1_ = nullptr;
    DrawingSurface* Picture2_ = nullptr;
    DrawingSurface* Picture3_ = nullptr;
    std::array<QScrollBar*, kSettingCount> bars_{};
    std::array<QLabel*, kSettingCount> valueLabels_{};

    QAction* NewImage_ = nullptr;
    QAction* AllImageSave_ = nullptr;
    QAction* MenuEnd_ = nullptr;
    QAction* QMKgo_ = nullptr;
    QAction* Version_ = nullptr;

    std::unique_ptr<Document> document_;
};

} // namespace penumbrix
