#pragma once
// The document: the four image slots, the current file name and the open
// dialog's proposed name, and the operations that the window's event
// procedures run on them.
//
// Every operation is all or nothing where files are concerned: whatever it
// loads is loaded before any slot or name changes, so a failed load leaves
// the document as it was.

#include <QString>

#include <functional>
#include <memory>

#include "engine/pixel_transform.h"
#include "document/paths.h"
#include "files/user_files.h"
#include "pictures/work_file.h"
#include "widgets/services.h"
#include "widgets/surfaces.h"

namespace penumbrix {

namespace text {
inline const char* const kImageFilter = "画像(*.BMP)|*.BMP";
inline const char* const kPreviewDone = "PREVIEWイメージ描画完了";
inline const char* const kApplyConfirm =
    "全画像の反映には画像数・サイズ・PCの処理速度によって数分かかる場合があります。";
inline const char* const kApplyDone = "編集作業が完了しました";
inline const char* const kSaveDone = "画像の保存が完了しました";
inline const char* const kClearConfirm = "全てのイメージを削除します。";
// The note of the error that refuses to write the placeholder.
inline const char* const kPlaceholderRefused =
    "この名前は今、プログラムの画像 NoImage.bmp を指しているため、保存しませんでした。";
} // namespace text

struct ImageSlots {
    ImageView& image1;        // source view
    ImageView& image2;        // result view
    DrawingSurface& picture2; // preview surface
    DrawingSurface& picture1; // work surface
};

struct DocumentServices {
    MessageService& messages;
    OpenDialog& openDialog;
    BusyPointer& busy;
};

class Document {
public:
    // `readSettings` reads the sliders' current values; a pass calls it once.
    Document(ImageSlots imageSlots, DocumentServices services, ProgramPaths paths,
             std::function<AdjustmentSettings()> readSettings);

    // Loads the placeholder into the source view, the result view and the
    // preview surface; makes the placeholder the current and proposed name.
    // First it finishes what saves killed in an earlier run left (their
    // journals in the data folder), and tells the user what it did.
    void startUp();
    // Puts the source view's picture on the preview surface.
    void copyToPreview();
    // Asks for a file and loads it into both views.
    void open();
    // Loads the file at `path` into both views, as a file chosen in the open
    // dialog is loaded (the command line and a drop come this way), and
    // makes it the open dialog's proposed name.
    void openFile(const QString& path);
    // Transforms the shown part of the preview surface in place.
    void preview();
    // After a confirmation, transforms the source picture into the result view
    // through the work file.
    void apply();
    // Writes the result view over the current file. A name that leads to
    // the placeholder is refused with an error.
    void save();
    // After a confirmation, puts the placeholder back into both views.
    void clear();

    // True when a user's picture is open: the current file name is neither
    // empty, nor the placeholder path, nor another name of the placeholder file.
    bool isPictureOpen() const;

    const QString& currentFileName() const { return currentFileName_; }
    const QString& proposedFileName() const { return proposedFileName_; }
    const ProgramPaths& paths() const { return paths_; }
    // This copy's work file (another name when another running copy holds
    // the usual one).
    const QString& workFile() const { return workFile_->path(); }

    // Where pictures come from; LoadPicture unless replaced.
    using PictureLoader = std::function<Picture(const QString& path)>;
    void setPictureLoader(PictureLoader loader) { load_ = std::move(loader); }

private:
    ImageSlots slots_;
    DocumentServices services_;
    ProgramPaths paths_;
    std::function<AdjustmentSettings()> readSettings_;
    QString currentFileName_;
    UserFile currentFile_; // the file the current name led to when it was opened
    QString proposedFileName_;
    PictureLoader load_;
    std::unique_ptr<WorkFile> workFile_;
};

} // namespace penumbrix
