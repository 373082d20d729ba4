#include "document/document.h"

#include "files/save.h"
#include "pictures/picture_files.h"
#include "files/runtime_error.h"
#include "pictures/work_file.h"

namespace penumbrix {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// Shows the hourglass for its lifetime.
class BusyScope {
public:
    explicit BusyScope(BusyPointer& busy) : busy_(busy) { busy_.setBusy(true); }
    ~BusyScope() { end(); }
    void end()
    {
        if (on_)
            busy_.setBusy(false);
        on_ = false;
    }

private:
    BusyPointer& busy_;
    bool on_ = true;
};

// Switches a surface's persistent drawing on for its lifetime.
class AutoRedrawScope {
public:
    explicit AutoRedrawScope(DrawingSurface& surface) : surface_(surface) { surface_.setAutoRedraw(true); }
    ~AutoRedrawScope() { surface_.setAutoRedraw(false); }

private:
    DrawingSurface& surface_;
};

void transformReadable(DrawingSurface& surface, const AdjustmentSettings& settings)
{
    surface.mapRows(surface.readableRect(), [&](const std::uint32_t* source, std::ptrdiff_t sourceStride,
                                                std::uint32_t* target, std::ptrdiff_t targetStride, int w, int h) {
        transformGridInto(source, sourceStride, target, targetStride, w, h, settings);
    });
}

} // namespace

Document::Document(ImageSlots imageSlots, DocumentServices services, ProgramPaths paths,
                   std::function<AdjustmentSettings()> readSettings)
    : slots_(imageSlots), services_(services), paths_(std::move(paths)), readSettings_(std::move(readSettings)), load_(LoadPicture),
      workFile_(std::make_unique<WorkFile>(paths_.dataFolder, QString::fromLatin1(kWorkFileName)))
{
}

void Document::startUp()
{
    // Saves keep their journals in the data folder; those of saves killed
    // in an earlier run are finished first, whatever else start-up meets.
    // A data folder that others may write is told of, and neither looked
    // into nor written.
    useSaveJournalFolder(paths_.dataFolder);
    const QStringList recovered = recoverUnfinishedSaves(paths_.dataFolder);
    if (!recovered.isEmpty())
        services_.messages.show(recovered.join(QStringLiteral("\n\n")), MessageButtons::Ok);
    const QString placeholder = paths_.placeholder();
    proposedFileName_ = placeholder;
    Picture source = load_(placeholder);
    Picture result = load_(placeholder);
    Picture preview = load_(placeholder);
    slots_.image1.setPicture(source);
    currentFileName_ = placeholder;
    slots_.image2.setPicture(result);
    slots_.picture2.setPicture(preview);
}

void Document::copyToPreview()
{
    slots_.picture2.setPicture(slots_.image1.picture());
}

void Document::open()
{
    const auto chosen = services_.openDialog.showOpen(qs(text::kImageFilter), proposedFileName_);
    if (!chosen)
        return;
    openFile(*chosen);
}

void Document::openFile(const QString& path)
{
    proposedFileName_ = path;
    // Found once, as the kernel finds it: the load reads, and save replaces,
    // that file, whatever links and ".." the chosen name holds. One load
    // serves both views: nothing changes a picture's pixels.
    const UserFile file = findUserFile(path);
    const Picture picture = load_(file.path);
    slots_.image1.setPicture(picture);
    currentFileName_ = path;
    currentFile_ = file;
    slots_.image2.setPicture(picture);
}

void Document::preview()
{
    BusyScope busy(services_.busy);
    const AdjustmentSettings settings = readSettings_();
    transformReadable(slots_.picture2, settings);
    busy.end();
    services_.messages.show(qs(text::kPreviewDone), MessageButtons::Ok);
}

void Document::apply()
{
    if (services_.messages.show(qs(text::kApplyConfirm), MessageButtons::OkCancel) != kMessageOk)
        return;
    BusyScope busy(services_.busy);
    const AdjustmentSettings settings = readSettings_();
    QString workFile;
    DrawingSurface& work = slots_.picture1;
    {
        AutoRedrawScope persistent(work);
        if (isPictureOpen()) {
            work.setPicture(slots_.image1.picture());
            transformReadable(work, settings);
            workFile = workFile_->save(work.image());
        }
    }
    const bool open = isPictureOpen();
    if (open) {
        // The work surface's image and the picture loaded back from the work
        // file have the same pixels: the surface holds the loaded one, so the
        // two never take memory side by side. (Should the load fail, the
        // off-screen surface is left with its picture.)
        work.releaseImage();
        Picture result;
        try {
            result = load_(workFile); // the file held, by its descriptor
        } catch (const RuntimeError& e) {
            throw RuntimeError(e.code(), workFile_->path(), e.detail());
        }
        // The result is the opened picture's: its resolution and its alpha,
        // which the rule leaves alone, not the work file's.
        keepFileTraits(slots_.image1.picture(), result);
        work.holdImage(result);
        slots_.image2.setPicture(result);
    }
    busy.end();
    if (open)
        services_.messages.show(qs(text::kApplyDone), MessageButtons::Ok);
}

void Document::save()
{
    if (currentFileName_.isEmpty() || currentFileName_ == paths_.placeholder())
        return;
    // Another name of the placeholder, or the placeholder put at the opened
    // file's place since: never written, and the user is told.
    if (!isPictureOpen())
        throw RuntimeError(RuntimeError::PermissionDenied, currentFileName_)
            .withNote(qs(text::kPlaceholderRefused));
    SavePicture(slots_.image2.picture(), currentFile_.isNull() ? saveTargetOf(currentFileName_) : currentFile_);
    // A file replaced by the save is the opened file from now on.
    if (!currentFile_.isNull()) {
        try {
            const UserFile saved = findUserFile(currentFile_.path);
            if (saved.path == currentFile_.path)
                currentFile_ = saved;
        } catch (const RuntimeError&) {
            // Gone already: the next save makes it anew.
        }
    }
    services_.messages.show(qs(text::kSaveDone), MessageButtons::Ok);
}

void Document::clear()
{
    if (services_.messages.show(qs(text::kClearConfirm), MessageButtons::OkCancel) != kMessageOk)
        return;
    const QString placeholder = paths_.placeholder();
    Picture source = load_(placeholder);
    Picture result = load_(placeholder);
    slots_.image1.setPicture(source);
    currentFileName_ = placeholder;
    currentFile_ = {};
    slots_.image2.setPicture(result);
}

bool Document::isPictureOpen() const
{
    const QString placeholder = paths_.placeholder();
    if (currentFileName_.isEmpty() || currentFileName_ == placeholder)
        return false;
    // The placeholder must never be written, whatever name it was opened by
    // or whatever has been put in the opened file's place since.
    const UserFile file = currentFile_.isNull() ? UserFile{currentFileName_} : currentFile_;
    return !isSameFile(file, placeholder);
}

} // namespace penumbrix
