#!/usr/bin/env python3
"""Breaks the program on purpose, one realistic fault at a time, and checks
that the test run notices each.

    scripts/mutate.py                 every fault below
    scripts/mutate.py -k apply        the faults whose description holds "apply"
    scripts/mutate.py --list          the faults, without running anything
    scripts/mutate.py --shard 2/2     every second fault from the second

The sources are copied to a work folder (default /tmp/penumbrix-mutate) and
built there once; each fault is then written into its file, the copy rebuilt
and every test run. A fault is caught when the test run fails. A fault whose
text is no longer found, or which doesn't build, is reported as an error: the
list must follow the code.
"""

import argparse
import collections
import filecmp
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (file, text as it stands, the faulty text, what the fault is); a fault that
# changes several places gives lists of texts.
FAULTS = [
    # engine
    ("engine/pixel_transform.cpp", "if (v < cutoffThreshold(s) && contrast > 0)",
     "if (v <= cutoffThreshold(s) && contrast > 0)", "engine: a colour equal to the threshold is cut off"),
    ("engine/pixel_transform.cpp", "if (v < cutoffThreshold(s) && contrast > 0)",
     "if (v < cutoffThreshold(s) && contrast >= 0)", "engine: contrast 0 still cuts off"),
    ("engine/pixel_transform.cpp", "return (std::int32_t(s.vsRange) * 100) * std::int32_t(s.vsCzoom);",
     "return (std::int32_t(s.vsRange) * 10) * std::int32_t(s.vsCzoom);", "engine: threshold factor 10, not 100"),
    ("engine/pixel_transform.cpp", "const std::int32_t b = q / 256;", "const std::int32_t b = q % 256;",
     "engine: blue taken as a remainder"),
    ("engine/pixel_transform.cpp",
     "return clamp(red) + clamp(green) * 256 + clamp(blue) * 65536;",
     "return clamp(blue) + clamp(green) * 256 + clamp(red) * 65536;", "engine: red and blue swapped in the result"),
    ("engine/settings.h", '{Setting::Range, "vsRange", "lblRange", 0, 256, 128, 1, 128},',
     '{Setting::Range, "vsRange", "lblRange", 0, 255, 128, 1, 128},', "engine: range slider stops at 255"),
    ("engine/settings.h", '{Setting::Czoom, "0", 0},', '{Setting::Czoom, "0", 1},',
     "engine: reset puts the multiplier back to its start value 1"),
    ("engine/settings.h", '{Setting::Czoom, "vsCzoom", "lblCzoom", 0, 300, 1, 1, 0},',
     '{Setting::Czoom, "vsCzoom", "lblCzoom", 0, 300, 1, 10, 0},', "engine: multiplier steps by 10"),
    ("engine/parallel.h", "work(count * part / parts, count * (part + 1) / parts);",
     "work(count * part / parts + 1, count * (part + 1) / parts);", "engine: each core skips the first row of its part"),
    # images
    ("document/document.cpp", "if (currentFileName_.isEmpty() || currentFileName_ == placeholder)",
     "if (currentFileName_.isEmpty() || currentFileName_.compare(placeholder, Qt::CaseInsensitive) == 0)",
     "images: the open-image test ignores letter case"),
    ("document/document.cpp", "    busy.end();\n    services_.messages.show(qs(text::kPreviewDone), MessageButtons::Ok);",
     "    services_.messages.show(qs(text::kPreviewDone), MessageButtons::Ok);\n    busy.end();",
     "images: the hourglass stays on over the preview's message"),
    ("document/document.cpp", "    proposedFileName_ = path;\n", "",
     "images: the open dialog goes on proposing the placeholder"),
    ("document/document.cpp", "    currentFileName_ = placeholder;\n    currentFile_ = {};\n    slots_.image2.setPicture(result);",
     "    currentFile_ = {};\n    slots_.image2.setPicture(result);", "images: clearing keeps the current file name"),
    ("document/document.cpp", "SavePicture(slots_.image2.picture(), currentFile_",
     "SavePicture(slots_.picture2.image(), currentFile_", "images: save writes the preview surface"),
    ("document/document.cpp", "return !isSameFile(file, placeholder);", "return true;",
     "images: the placeholder reached by another name counts as a picture open"),
    ("document/document.cpp", "            result = load_(workFile);", "            result = work.image();",
     "images: the result view shows the work surface, not the work file read back"),
    ("document/paths.cpp", 'QStringLiteral("/../share/penumbrix")', 'QStringLiteral("/../share")',
     "images: the program looks for its placeholder in the wrong folder"),
    ("document/event_boundary.cpp", "        busy_.setBusy(false);\n", "",
     "images: an error leaves the hourglass on"),
    # files, pictures, widgets
    ("widgets/surfaces.cpp", "return border_ == Border::Sunken ? 2 : 0;", "return border_ == Border::Sunken ? 1 : 0;",
     "widgets: a sunken border counted once, not on both sides"),
    ("widgets/surfaces.cpp", "return area.intersected(client);", "return area;",
     "widgets: the preview draws past the window's edge"),
    ("widgets/surfaces.cpp", "    swallowRelease_ = false;\n    pressed_ = true;", "    pressed_ = true;",
     "widgets: a double click whose last release went to the dialog costs the next click"),
    ("widgets/surfaces.cpp", ["bool ClickTracker::press(QMouseEvent* event)\n{\n    if (event->button() != Qt::LeftButton)",
                               "if (event->button() != Qt::LeftButton || !pressed_)"],
     ["bool ClickTracker::press(QMouseEvent* event)\n{\n    if (false)", "if (!pressed_)"],
     "widgets: a right click on the source view counts as a click"),
    ("widgets/surfaces.cpp", "out[x] = 0xFF000000u | mean(0) << 16 | mean(1) << 8 | mean(2);",
     "out[x] = 0xFF000000u | mean(2) << 16 | mean(1) << 8 | mean(0);",
     "widgets: a large picture's view shows red as blue"),
    ("files/save.cpp", "check(::renameat(dir, next.name().constData(), dir, r.name.constData()) == 0, path);",
     "(void)::renameat(dir, next.name().constData(), dir, r.name.constData());", "files: a failed rename of the saved file is ignored"),
    ("files/save.cpp", "} else if (old.st_nlink > 1\n", "} else if (old.st_nlink > 100\n",
     "files: a file with hard links is replaced, not rewritten"),
    ("files/save.cpp", "for (std::size_t i = 0; i < names.size(); i += std::strlen(names.data() + i) + 1) {\n        const char* name",
     "for (std::size_t i = 0; i < 0; i += std::strlen(names.data() + i) + 1) {\n        const char* name",
     "files: a save drops ACLs and extended attributes"),
    ("files/save.cpp", "if ((st.st_mode & 0222) == 0) {", "if (false) {",
     "files: root replaces a read-only file"),
    ("files/save.cpp", "        undo(e);\n        throw;", "        throw;",
     "files: a failed write in place is not undone"),
    ("pictures/bmp_reader.cpp", "l.paletteEntrySize = core ? 3 : 4;", "l.paletteEntrySize = core || os2 ? 3 : 4;",
     "pictures: OS/2 2.x palettes read with 3-byte entries"),
    ("widgets/qt_services.cpp", ["#include <QUrl>", "window_->setCursor(Qt::WaitCursor);", "window_->unsetCursor();"],
     ["#include <QUrl>\n#include <QApplication>", "QApplication::setOverrideCursor(Qt::WaitCursor);",
      "QApplication::restoreOverrideCursor();"], "widgets: the hourglass covers the whole program"),
    ("widgets/qt_services.cpp", "QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails",
     "QFileDialog::DontUseNativeDialog", "widgets: the open dialog's type box shows its patterns"),
    # ui
    ("ui/form1.cpp", "values[info.setting] = static_cast<std::int16_t>(bar(info.setting)->value());",
     "values[info.setting] = static_cast<std::int16_t>(bar(info.setting)->value() - info.labelBias);",
     "ui: the passes get the label values, not the bars'"),
    ("ui/form1.cpp", "Picture2_->setGeometry(twipRect(5520, 4560, 2775, 2415));",
     "Picture2_->setGeometry(twipRect(5520, 4650, 2775, 2415));", "ui: the preview surface 6 px low"),
    ("ui/form1.cpp", "twipRect(czoom ? 3000 : 4920, row.top, 495, kRowHeight)",
     "twipRect(czoom ? 4440 : 4920, row.top, 495, kRowHeight)", "ui: lblCzoom under the reset button"),
    ("ui/form1.cpp", '"終了(&Q)"', '"終了(&X)"', "ui: quit item with the access key X"),
    ("ui/form1.cpp", "bar(Setting::Red),      Picture1_,           bar(Setting::Green),",
     "bar(Setting::Red),      bar(Setting::Green),           Picture1_,", "ui: Picture1 after vsGreen in tab order"),
    ("ui/frm_about.h", '"Penumbrix    Version 0.50"', '"Penumbrix   Version 0.50"', "ui: about title with three spaces"),
    ("ui/frm_about.cpp", "setWindowFlags(Qt::Tool | ", "setWindowFlags(Qt::Dialog | ",
     "ui: the about window shows in the taskbar"),
    ("ui/form1.cpp", "const bool stepButton = event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton;",
     "const bool stepButton = event->button() == Qt::LeftButton;", "ui: a middle click in a slider's track jumps"),
    ("ui/look.cpp", "if (translator->load(QStringLiteral(\"qtbase_ja\"), folder)", "if (translator->load(QStringLiteral(\"qtbase_de\"), folder)",
     "ui: Qt's texts stay English"),
    ("ui/start_up.cpp", "QObject::connect(form_, &Form1::aboutWindowShown, watch_.get(), &LastWindowWatch::watch);", "",
     "ui: main stops watching the about window"),
    ("ui/frm_about.cpp", "setAttribute(Qt::WA_DeleteOnClose);", "setAttribute(Qt::WA_DeleteOnClose, false);",
     "ui: a closed about window is kept, not discarded"),
    # fast paths: kept memory, parts and threads, strides; reader corners
    ("pictures/memory.cpp", "    ready = {nullptr, 0};\n    return address;", "    return address;",
     "pictures: kept picture memory handed out twice"),
    ("pictures/memory.cpp", "if (!ready.address || ready.length != length)", "if (!ready.address)",
     "pictures: kept picture memory handed to a picture of another size"),
    ("pictures/memory.cpp", "std::swap(ready, *mapping);", "ready = *mapping;",
     "pictures: kept picture memory given back to the system all the same"),
    ("pictures/bmp_writer.cpp", "            out.write(r, n, topRow(p) + r * strideOf(p), strideOf(p), buffer.get());",
     "            out.write(r - begin, n, topRow(p) + r * strideOf(p), strideOf(p), buffer.get());",
     "pictures: the save's parts written at offsets relative to their own part"),
    ("engine/parallel.cpp", ["while (started_ < count) {", "parts_ = parts;\n            pending_.store(parts - 1);"],
     ["while (started_ == 0 && started_ < count) {",
      "parts_ = std::min(parts, started_ + 1);\n            pending_.store(parts_ - 1);"],
     "engine: a later pass with more parts than threads skips the extra parts"),
    ("engine/parallel.cpp", "            part(p); // no thread to be had: here, then\n", "",
     "engine: a part whose thread can't start is skipped"),
    ("engine/pixel_transform.cpp",
     ["source + std::ptrdiff_t(y) * sourceStride;", "target + std::ptrdiff_t(y) * targetStride;"],
     ["source + std::ptrdiff_t(y) * width;", "target + std::ptrdiff_t(y) * width;"],
     "engine: the grid kernel takes the width as the row stride"),
    ("pictures/bmp_reader.cpp", "buffer.get(), (n - 1) * l.rowBytes + lastRow, path);",
     "buffer.get(), n * l.rowBytes, path);", "pictures: a palette picture whose last row lacks its padding refused"),
    ("pictures/bmp_reader.cpp", "        if (offBits > structuresEnd)\n            count = std::min(count, (offBits - structuresEnd) / l.paletteEntrySize);\n", "",
     "pictures: the palette size no longer bounded by the pixel offset"),
    # keyboard, screen readers, themes and the window's corners
    ("ui/form1.cpp", ["case Qt::Key_Up: action = SliderSingleStepSub", "case Qt::Key_Down: action = SliderSingleStepAdd"],
     ["case Qt::Key_Down: action = SliderSingleStepSub", "case Qt::Key_Up: action = SliderSingleStepAdd"],
     "window: Up and Down step a slider the wrong way"),
    ("ui/form1.cpp", "                setRepeatAction(step);\n                event->accept();\n                return;\n",
     "                setRepeatAction(step);\n", "window: a track press also reaches Qt's own handling"),
    ("widgets/surfaces.cpp", "return inside.contains(event->position().toPoint());", "return true;",
     "window: a press dragged off a view and released elsewhere counts as a click"),
    ("ui/window_watch.cpp", "return w && w->isVisible(); });", "return w && w->isVisible() && !w->isMinimized(); });",
     "window: minimising the only window ends the program"),
    ("ui/look.cpp", "for (const char* family : {kUiGothic, kPGothic})", 'for (const char* family : {"MS Gothic", "MS PGothic"})',
     "window: Windows font names no longer mapped to the installed Japanese fonts"),
    ("document/document.cpp", "slots_.picture2.setPicture(slots_.image1.picture());",
     "slots_.picture2.setPicture(slots_.image2.picture());",
     "window: a click on the source view after an apply copies the result view to the preview"),
    ("document/document.cpp",
     "    Picture result = load_(placeholder);\n    slots_.image1.setPicture(source);\n    currentFileName_ = placeholder;\n    currentFile_ = {};\n",
     "    slots_.image1.setPicture(source);\n    currentFileName_ = placeholder;\n    currentFile_ = {};\n    Picture result = load_(placeholder);\n",
     "window: clear's all-or-nothing order lost"),
    ("ui/form1.cpp", "        emit Image1_->clicked();\n        emit Image1_->doubleClicked();",
     "        emit Image1_->doubleClicked();", "window: Ctrl+O opens without the click that comes first"),
    ("ui/form1.cpp", "Image1_, [this] { emit Image1_->clicked(); });", "Image1_, [this] { emit Image1_->doubleClicked(); });",
     "window: F5 opens the dialog instead of putting the source picture on the preview surface"),
    ("ui/form1.cpp", "        if (focus_.shown(*this)) {\n            QPainter painter(this);", "        if (false) {\n            QPainter painter(this);",
     "window: a focused slider looks like an unfocused one"),
    ("widgets/surfaces.cpp", "    if (focus_.shown(*this))\n        drawFocusRing(p, *this);", "",
     "window: a focused drawing surface looks like an unfocused one"),
    ("ui/form1.cpp", "    // Before any control is made: a screen reader may ask about each control\n    // as it is made, and keeps the answer.\n    installAccessibility();\n", "",
     "window: the screen reader's sliders and pictures made after the controls (never, for the first window)"),
    ("ui/access.cpp", "            if (ok)\n                return shown;", "            if (ok)\n                return shown + labelBias_;",
     "window: a slider speaks its scroll bar's value, not its value box's"),
    ("ui/access.cpp", "bar()->setValue(value.toInt() + labelBias_);", "bar()->setValue(value.toInt());",
     "window: a value set by a screen reader is not mapped back to the slider"),
    ("ui/access.cpp", "QVariant minimumValue() const override { return bar()->minimum() - labelBias_; }",
     "QVariant minimumValue() const override { return bar()->minimum(); }",
     "window: a slider's least value in the scroll bar's terms"),
    ("ui/access.cpp", "        box->setBuddy(bar);\n", "", "window: the value boxes are tied to no slider"),
    ("ui/access.cpp", '{"Image1", caption("Label5")},\n        {"Image2", caption("Label6")},',
     '{"Image1", caption("Label6")},\n        {"Image2", caption("Label5")},', "window: the views named after each other's captions"),
    ("ui/access.cpp", "return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);",
     "return nullptr;", "window: views and surfaces are nameless fillers to a screen reader"),
    ("ui/form1.cpp", "{valueFont, bgrColour(kValueGrey), bgrColour(kLayoutText), true}", "{valueFont, bgrColour(kValueGrey), QColor(), true}",
     "window: the value boxes' text follows the theme over their fixed grey"),
    ("ui/form1.cpp", "{font(), bgrColour(kPanelGrey), bgrColour(kLayoutText), false}", "{font(), bgrColour(kPanelGrey), QColor(), false}",
     "window: the heading's text follows the theme over its fixed grey"),
    ("ui/look.cpp", "palette.color(QPalette::Window)) < 4.5)", "palette.color(QPalette::Window)) > 4.5)",
     "window: the hint's dark blue stays on a dark face"),
    ("ui/look.cpp", "                QPainter(label).fillRect(label->rect(), bgrColour(0x00F0F0F0)); // the dialog face of the layout\n        }\n        return false;",
     "                QPainter(label).fillRect(label->rect(), bgrColour(0x00F0F0F0)); // the dialog face of the layout\n        }\n        return event->type() == QEvent::Paint;",
     "window: the hint's light face painted over its text"),
    # safety: running copies, killed saves, swapped files, names and the save's corners
    ("pictures/work_file.cpp", "if (own && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {",
     "if (false) {", "safety: two running copies share one work file"),
    ("pictures/work_file.cpp", "(void)::fchmod(fd, 0600);", "",
     "safety: a work file left by an earlier version stays readable by all"),
    ("pictures/work_file.cpp", "        if (stillNamed(dir_.get()))\n            ::unlinkat(dir_.get(), leaf_.constData(), 0);\n        release();\n        throw;",
     "        release();\n        throw;",
     "safety: a failed work-file write leaves what it wrote"),
    ("pictures/work_file.cpp", "        if (::ftruncate(fd, offset) != 0)\n            throw fileError(errno, path, true);\n", "",
     "safety: the work file is not cut to length"),
    ("pictures/work_file.cpp", "O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600", "O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600",
     "safety: a named pipe at the work file's place is opened waiting (hangs)"),
    ("files/user_files.cpp", "::mkdir(part.constData(), 0700)", "::mkdir(part.constData(), 0755)",
     "safety: the data folder is made readable by all"),
    ("files/user_files.cpp", "if (path.contains(QChar::ReplacementCharacter))", "if (false)",
     "safety: a name that lost bytes is exchanged for another file"),
    ("files/save.cpp", "const bool opened = file.inode == 0 || (old.st_dev == file.device && old.st_ino == file.inode);",
     "const bool opened = true;", "safety: a file put at the opened file's place is written in place"),
    ("files/save.cpp", "if (::flock(current.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)", "if (false)",
     "safety: two copies save one file at once"),
    ("files/save.cpp", " && takeOverFlags(fd, from);", ";", "safety: a replaced file loses its inode flags"),
    ("files/save.cpp", "    (void)::fchmod(copy.fd(), old.st_mode & 0666);\n", "",
     "safety: the safety copy is the saver's alone"),
    ("files/save.cpp", "throw error.withNote(copyKeptNote(inFolder(r.folder, copyName)));", "throw error;",
     "safety: a failed undo doesn't name the copy that holds the old content"),
    ("files/save.cpp", ["    if (canSyncDir && ::fsync(dir) != 0) {", "            .withNote(QStringLiteral(\"新しい画像は保存されましたが"],
     ["    if (canSyncDir && ::fsync(dir) != 0) {\n        if (true) throw fileError(errno, path, true);", "            .withNote(QStringLiteral(\"新しい画像は保存されましたが"],
     "safety: a failed folder flush after the rename is told as a failed save"),
    ("document/document.cpp", "            if (saved.path == currentFile_.path)\n                currentFile_ = saved;", "",
     "safety: after a save the opened file is still the one it replaced"),
    ("document/document.cpp", "    if (!isPictureOpen())\n        throw RuntimeError(", "    if (!isPictureOpen())\n        return;\n    if (false)\n        throw RuntimeError(",
     "safety: a save refused for the placeholder says nothing"),
    ("pictures/bmp_writer.cpp", "put32(out + 2, fileBytes <= UINT_MAX ? quint32(fileBytes) : 0u);",
     "put32(out + 2, fileBytes <= UINT_MAX ? quint32(fileBytes - headerBytes) : 0u);",
     "safety: the saved header's file-size field counts the pixels only"),
    ("files/save.cpp", "        check(::ftruncate(target, off_t(r.newSize)) == 0, path);\n", "",
     "safety: an in-place save is not cut to the new length"),
    ("files/save.cpp", "    write(next.fd());\n    check(::fsync(next.fd()) == 0, path);", "    write(next.fd());",
     "safety: the new file is not flushed before the rename"),
    ("files/save.cpp", "NewFile next(dir, old ? 0600 : 0666,", "NewFile next(dir, 0600,",
     "safety: a file removed since opening is made anew 0600"),
    ("files/user_files.cpp", "return ::stat(native(file.path).constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;",
     "return false;", "safety: the same-file test ignores the file now at the opened file's place"),
    ("files/save.cpp", "O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));\n    if (current.get() < 0) {",
     "O_RDONLY | O_NOFOLLOW | O_CLOEXEC));\n    if (current.get() < 0) {", "safety: a named pipe at the file's place is opened waiting (hangs)"),
    # recovery: what the next start trusts, proves and leaves
    ("files/journal.cpp", "S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1",
     "S_ISREG(st.st_mode) && st.st_nlink == 1", "recovery: another owner's journal is acted on"),
    ("files/journal.cpp", "    if (!r.folder.startsWith('/') || !validName(r.name) || !validName(r.other))\n        return false;",
     "    return true;", "recovery: a journal's names are not checked"),
    ("files/journal.cpp", "if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0 || st.st_dev != dev_t(r.folderDevice) || st.st_ino != ino_t(r.folderInode)) {",
     "if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0) {", "recovery: a folder not the recorded one is taken for it"),
    ("files/journal.cpp", "return {inPlace && r.phase == SaveJournal::Written ? missing + QStringLiteral(\"\\n\\n\") + copyKeptNote(copyPath) : missing, false};",
     "return {inPlace && r.phase == SaveJournal::Written ? missing + QStringLiteral(\"\\n\\n\") + copyKeptNote(copyPath) : missing};",
     "recovery: a journal whose folder is missing is thrown away"),
    ("files/journal.cpp", "            if (!old && !isNew)\n                return Found::Unproven;\n", "",
     "recovery: a page neither old nor new is taken as rewritten"),
    ("files/journal.cpp", "    if (size < std::min(oldSize, newSize) || size > std::max(oldSize, newSize))\n        return Found::Unproven;\n", "",
     "recovery: a file of a length no save explains is compared all the same"),
    ("files/journal.cpp", "        || sums != r.oldSums) {", ") {", "recovery: a copy changed since the kill is put back"),
    ("files/journal.cpp", "            return {notUndone, false}; // tried again at the next start", "            return {notUndone};",
     "recovery: a failed undo at start throws its journal away"),
    ("files/journal.cpp", "        if (!replaced)\n            removeOther();\n", "",
     "recovery: a killed save's new file is left beside the file"),
    ("files/journal.cpp", "        // only the copy is ours to remove.\n        removeOther();", "        // only the copy is ours to remove.",
     "recovery: the copy of a save killed when done is left"),
    ("files/journal.cpp", "if (fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)", "if (fd.get() >= 0)",
     "recovery: a journal held by a running copy is recovered"),
    ("files/journal.cpp", "|| ::fsync(fd_) != 0 || ::pwrite(fd_, &phase, 1, kPhaseAt) != 1 ||", "|| ::fsync(fd_) != 0 ||",
     "recovery: a rewrite's journal never says the file is being written"),
    ("files/save.cpp", "    journal.recordWritten(r);\n", "", "recovery: the journal holds no fingerprints before the rewrite"),
    ("files/save.cpp", "        rewriteInPlace(fd, canSyncDir, names, target.get(), old, write, path);\n        retireSettledJournals(st.st_dev, st.st_ino, name);",
     "        rewriteInPlace(fd, canSyncDir, names, target.get(), old, write, path);",
     "recovery: a good save leaves the journal of a failed undo, reverted at the next start"),
    ("files/save.cpp", "        if (named_ && !kept_)\n            ::unlinkat(dir_, name_.constData(), 0);\n        kept_ = true;", "        kept_ = true;",
     "files: a good in-place save leaves its safety copy"),
    ("files/save.cpp", "            throw fileError(errno, path, true);\n        named_ = true;\n    }\n    ~NewFile", "            throw fileError(errno, path, true);\n    }\n    ~NewFile",
     "files: without unnamed files, a new file made under its name is taken for unnamed"),
    ("files/save.cpp", "    if (old && !takeOver(next.fd(), current, *old))\n        return false;", "    if (old)\n        (void)takeOver(next.fd(), current, *old);",
     "files: a replace that can't carry the owner goes on"),
    ("files/save.cpp", "    copyBytes(copy, target, size, path);\n    check(::ftruncate(target, size) == 0, path);", "    copyBytes(copy, target, size, path);",
     "files: an undone rewrite keeps the new content's length"),
    ("files/save.cpp", "    if (fd < 0 && errno == EACCES) // a folder that may be written but not listed\n", "    if (false)\n",
     "files: a folder that may be written but not listed is refused"),
    ("files/save.cpp", "if (errno != EOPNOTSUPP && errno != EISDIR", "if (errno != EISDIR",
     "files: a file system without unnamed files is refused"),
    ("files/journal.cpp", "    if (!unnamed)\n        fd_ = ::openat(dir.get(), name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);\n", "",
     "recovery: without unnamed files a save keeps no journal"),
    # the data folder and the work file
    ("files/user_files.cpp", "    if (st.st_uid != ::geteuid())\n        throw refused(", "    if (false)\n        throw refused(",
     "data folder: another owner's folder used"),
    ("files/user_files.cpp", "if (st.st_mode & (S_IWGRP | S_IWOTH))", "if (st.st_mode & S_IWOTH)",
     "data folder: a folder its group may write used"),
    ("files/user_files.cpp", "O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;", "O_RDONLY | O_DIRECTORY | O_CLOEXEC;",
     "data folder: a symbolic link in its place followed"),
    ("files/user_files.cpp", "    if (folder.contains(QChar::ReplacementCharacter))\n        throw refused(",
     "    if (false)\n        throw refused(", "data folder: a name that lost bytes made and used"),
    ("pictures/work_file.cpp", 'const QString held = QStringLiteral("/proc/self/fd/%1").arg(fd);', "const QString held = path;",
     "data folder: the apply reads back whatever is at the work file's name"),
    ("pictures/work_file.cpp", "::unlinkat(folder.get(), name.constData(), 0) != 0)\n                break;",
     "::unlinkat(folder.get(), name.constData(), 0) != 0)\n                throw fileError(e, path_, true);",
     "data folder: a work file that can't be claimed or removed is a lasting failure"),
    ("pictures/work_file.cpp", "    if (fd_ >= 0 && stillNamed(dir_.get()))\n        ::unlinkat(dir_.get(), leaf_.constData(), 0);\n    release();",
     "    release();", "data folder: the work file stays after its copy ends"),
    ("pictures/work_file.cpp", "    if (fd_ >= 0 && stillNamed(dir_.get()))\n        ::unlinkat(", "    if (fd_ >= 0)\n        ::unlinkat(",
     "data folder: the end removes a file put at the work file's name"),
    ("document/paths.cpp", "    const QByteArray set = qgetenv(variable);\n    if (set.startsWith('/'))",
     "    const QByteArray set = qgetenv(variable);\n    if (!set.isEmpty())", "data folder: a relative XDG_DATA_HOME used"),
    ("document/paths.cpp", "    if (isText(bytes))\n        return QFile::decodeName(bytes);", "    if (true)\n        return QFile::decodeName(bytes);",
     "data folder: HOME read as text, U+FFFD and all"),
    ("document/paths.cpp", "        QSettings::setPath(format, QSettings::UserScope, settings);", "        (void)format;",
     "data folder: Qt's own settings under HOME read as text"),
    ("files/journal.cpp", "        return {e.message()}; // nothing in it is looked at", "        return {};",
     "data folder: a refused data folder is not told at start"),
    ("files/journal.cpp", "        dir = openDataFolder(folder, false);", "        dir = openDataFolder(folder);",
     "data folder: every start makes the data folder"),
    ("document/document.cpp", "            throw RuntimeError(e.code(), workFile_->path(), e.detail());", "            throw;",
     "data folder: a failed read back names the descriptor, not the work file"),
    ("files/save.cpp", "            sums->push_back(pageSum(buffer.data() + at, size_t(std::min<ssize_t>(kSumPage, n - at))));",
     "            sums->push_back(pageSum(buffer.data(), size_t(std::min<ssize_t>(kSumPage, n - at))));",
     "recovery: the old pages' fingerprints taken from the wrong place as they are copied"),
    # desktop: the command line, drops, the installed files, dialogs kept over the main window
    ("ui/start_up.cpp", "    if (file)\n        QTimer::singleShot", "    if (false)\n        QTimer::singleShot",
     "desktop: the file named on the command line is ignored"),
    ("ui/start_up.cpp", "files << QFile::decodeName(QByteArray(arg));", "files << QString::fromLatin1(arg);",
     "desktop: a command-line name decoded as Latin-1"),
    ("ui/start_up.cpp", "} else if (files.size() > 1) {", "} else if (files.size() > 2) {",
     "desktop: two files on the command line, the first opened"),
    ("ui/start_up.cpp", "} else if (!optionsEnded && arg[0] == '-' && arg[1] != '\\0') {",
     "} else if (!optionsEnded && arg[0] == '-' && arg[1] == '-' && arg[2] != '\\0') {",
     "desktop: an unknown one-dash option taken as a file"),
    ("ui/main.cpp", ["    if (const std::optional<int> status = answerCommandLine(line))\n        return *status;\n\n    keepPictureMemoryForReuse();",
                     "    QApplication app(qtArgc, argv);\n"],
     ["\n    keepPictureMemoryForReuse();", "    QApplication app(qtArgc, argv);\n"
          "    if (const std::optional<int> status = answerCommandLine(line))\n        return *status;\n"],
     "desktop: --help and --version need a display"),
    ("ui/start_up.cpp", "    useJapanesePlatformTexts(QLibraryInfo::path(QLibraryInfo::TranslationsPath));\n", "",
     "desktop: Qt's Japanese texts not loaded at start"),
    ("ui/start_up.cpp", "        real_->messages.window = form_.data();\n", "",
     "desktop: message boxes have no parent"),
    ("ui/form1.cpp", "    QTimer::singleShot(0, this, [this, path = *file] { Form_OpenFile(path); });\n", "",
     "desktop: a drop accepted but not opened"),
    ("ui/form1.cpp", "if (!data || !data->hasUrls() || data->urls().size() != 1)",
     "if (!data || !data->hasUrls())", "desktop: a drop of several files opens the first"),
    ("ui/form1.cpp", "if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String(\"localhost\")))",
     "if (!url.isLocalFile())", "desktop: another host's file taken as a local one"),
    ("ui/example.penumbrix.Penumbrix.desktop", "Exec=penumbrix %f", "Exec=penumbrix",
     "desktop: the desktop entry's Exec without %f"),
    ("ui/example.penumbrix.Penumbrix.metainfo.xml", "<launchable type=\"desktop-id\">example.penumbrix.Penumbrix.desktop",
     "<launchable type=\"desktop-id\">penumbrix.desktop", "desktop: the AppStream description launches another entry"),
    ("ui/CMakeLists.txt", "foreach(size 16 32 48 64 128 256)", "foreach(size 16 32 48 128 256)",
     "desktop: the 64 px icon not installed"),
    # what a newcomer trips over: the save's resolution and alpha, the keyboard's ring, the opener, the dialog, the install
    ("pictures/bmp_reader.cpp", "        l.traits.alpha = l.alphaMask != 0;", "        l.traits.alpha = false;",
     "newcomer: an alpha channel read as colour only, saved as 24 bits"),
    ("pictures/bmp_reader.cpp", "            l.traits.hasResolution = true;", "            l.traits.hasResolution = false;",
     "newcomer: the opened file's resolution not kept"),
    ("pictures/bmp_writer.cpp", "QPoint(traits.xPelsPerMeter, traits.yPelsPerMeter)", "QPoint(traits.xPelsPerMeter, traits.xPelsPerMeter)",
     "newcomer: the vertical resolution written as the horizontal one"),
    ("pictures/bmp_writer.cpp", "swapRedBlue(src[i]) | (src[i] & 0xff000000u)", "swapRedBlue(src[i]) | 0xff000000u",
     "newcomer: alpha written opaque"),
    ("pictures/picture.cpp", "to[x] = (to[x] & 0x00FFFFFFu) | (from[x] & 0xFF000000u);", "to[x] |= 0xFF000000u;",
     "newcomer: the apply's result made opaque"),
    ("document/document.cpp", "        keepFileTraits(slots_.image1.picture(), result);\n", "",
     "newcomer: the apply's result carries the work file's resolution and no alpha"),
    ("widgets/surfaces.cpp", "const bool alpha = fileTraits(picture_).alpha;", "const bool alpha = false;",
     "newcomer: a surface draws a picture's alpha onto the window"),
    ("widgets/qt_services.cpp", "ended(status != QProcess::NormalExit || code != 0);",
     "ended(status != QProcess::NormalExit);", "newcomer: an opener that finds no browser goes untold"),
    ("widgets/qt_services.cpp", "        if (error == QProcess::FailedToStart)\n            ended(true);",
     "        if (error == QProcess::FailedToStart)\n            ended(false);", "newcomer: a missing opener goes untold"),
    ("widgets/qt_services.cpp", "    dialog.setProxyModel(new JapaneseFileDetails(&dialog));\n", "",
     "newcomer: the open dialog's sizes and dates in the desktop's language"),
    ("widgets/qt_services.cpp", "            for (int column = 1; column < 4; ++column)\n                header->setSectionResizeMode",
     "            for (int column = 1; column < 3; ++column)\n                header->setSectionResizeMode",
     "newcomer: the open dialog's date column cut short"),
    ("widgets/qt_services.cpp", "            header->setSectionResizeMode(0, QHeaderView::Stretch);\n", "",
     "newcomer: the open dialog's names leave the date past the list's edge"),
    ("widgets/qt_services.cpp", '                return QStringLiteral("フォルダ");', "                return type;",
     "newcomer: the open dialog's folders typed in English"),
    ("ui/look.cpp", "    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));\n", "",
     "newcomer: the open dialog's file types in English"),
    ("widgets/surfaces.cpp", "fromKeyboard_ = reason == Qt::TabFocusReason ||",
     "fromKeyboard_ = reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||",
     "newcomer: a click on a surface shows the ring"),
    ("widgets/surfaces.cpp", "contrast(ring, face) < 3.0", "contrast(ring, face) < 2.0",
     "newcomer: the ring 2:1 against a dark face"),
    ("widgets/surfaces.cpp", "const QWidget* around = control.parentWidget() ? control.parentWidget() : &control;",
     "const QWidget* around = &control;", "newcomer: the ring measured against the control's own back colour"),
    ("ui/start_up.cpp", 'QGuiApplication::setDesktopFileName(QStringLiteral("example.penumbrix.Penumbrix"));',
     'QGuiApplication::setDesktopFileName(QStringLiteral("penumbrix"));', "newcomer: the window system told another desktop entry"),
    ("ui/start_up.cpp", "        real_->openDialog.window = form_.data();\n", "",
     "newcomer: the open dialog belongs to no window"),
    ("ui/CMakeLists.txt", 'if("$ENV{DESTDIR}" STREQUAL "")', "if(TRUE)",
     "newcomer: a staging install writes the desktop database"),
    ("ui/CMakeLists.txt", '"${CMAKE_INSTALL_PREFIX}/${PENUMBRIX_DATADIR}/applications"', '"${CMAKE_INSTALL_PREFIX}/applications"',
     "newcomer: the desktop database refreshed in the wrong folder"),
    ("engine/parallel.cpp", "std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 4)",
     "std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 1)", "newcomer: the passes on one core as the program runs"),
    ("docs/penumbrix.1", ".SH ENVIRONMENT", ".SH ENVIRONMENT VARIABLES", "newcomer: the manual page has no ENVIRONMENT"),
    ("ui/start_up.cpp", '"Usage: penumbrix [--] [FILE]\\n"', '"Usage: penumbrix [FILE]\\n"',
     "newcomer: --help's usage without the synopsis's [--]"),
    # pictures adjusted from file to file a band at a time
    ("pictures/bmp_reader.cpp", "        const qint64 y = l.topDown ? k : n - 1 - k;", "        const qint64 y = k;",
     "band: a bottom-up file's band read upside down"),
    ("pictures/bmp_reader.cpp", "    const qint64 first = l.topDown ? top : l.height - top - n;",
     "    const qint64 first = l.height - top - n;", "band: a top-down file's band read from the bottom"),
    ("pictures/bmp_reader.cpp", "(n - 1) * l.rowBytes + l.width * (l.bitCount / 8), d_->path);",
     "n * l.rowBytes, d_->path);", "band: the last row's padding must be there"),
    ("pictures/bmp_reader.cpp", "        d_->convert = converters<false>().rgbx32;", "        d_->convert = converters<false>().bgrx32;",
     "band: 32-bit words in the picture's order taken as B, G, R"),
    ("pictures/bmp_reader.cpp", "    else if (!l.usualOrder)\n        d_->bitFields.emplace(l);",
     "    else if (l.bitCount == 16)\n        d_->bitFields.emplace(l);", "band: 32-bit bit fields taken as B, G, R, X"),
    ("pictures/bmp_writer.cpp", "form.headerBytes() + (height_ - top - n) * form.rowBytes(width_));",
     "form.headerBytes() + top * form.rowBytes(width_));", "band: written at the top's place in a bottom-up file"),
    ("pictures/picture_files.cpp", "QPoint(traits.xPelsPerMeter, traits.yPelsPerMeter), fd, target.path);",
     "QPoint(traits.xPelsPerMeter, traits.xPelsPerMeter), fd, target.path);", "band: the vertical resolution written as the horizontal one"),
    ("pictures/picture_files.cpp", "    if (!bands.direct() || !bands.traits().hasResolution || ",
     "    if (!bands.direct() || ", "band: a file without resolution fields saved with resolution 0"),
    ("pictures/picture_files.cpp", "                    transformGrid(band, int(width), int(n), width, settings);\n", "",
     "band: written without the rule"),
    ("pictures/picture_files.cpp", "            inParts(height, std::max<qint64>(1, bmp::kPartBytes / (width * 4)), [&](qint64 begin, qint64 end) {",
     "            inParts(height, std::max<qint64>(1, bmp::kPartBytes / (width * 4)), [&](qint64 begin, qint64 end) {\n                if (begin > 0) ++begin;",
     "band: each part after the first leaves its first row unwritten"),
    # batch
    ("batch/batch.cpp", "        request.values[setting->setting] = std::int16_t(*n + info.labelBias);",
     "        request.values[setting->setting] = std::int16_t(*n);", "batch: box values taken as the bars' values"),
    ("batch/batch.cpp", "        if (!n || *n < least || *n > most)", "        if (!n || *n < least || *n > most + 1)",
     "batch: a value one past its box's end taken"),
    ("batch/batch.h", "    SettingValues values = SettingValues::startValues();", "    SettingValues values = SettingValues{};",
     "batch: options not given are 0 on the bars, not the window's start values"),
    ("batch/batch.cpp", "            job.target = request.outputFolder ? saveTargetOf(", "            job.target = false ? saveTargetOf(",
     "batch: --output ignored, each FILE saved over itself"),
    ("batch/batch.cpp", "            if (!isNew)\n                return wrongCommandLine(QStringLiteral(\"%1 and %2 would both",
     "            if (false)\n                return wrongCommandLine(QStringLiteral(\"%1 and %2 would both",
     "batch: two files of one name written to one output"),
    ("batch/batch.cpp", "            if (job.target.inode != 0 && source != sources.end())",
     "            if (job.target.inode != 0 && source != sources.end() && false)", "batch: --output may write over a FILE"),
    ("batch/batch.cpp", "        if (isSameFile(job.target, placeholder_))", "        if (job.target.path == placeholder_)",
     "batch: the placeholder written through another name"),
    ("batch/batch.cpp", "        while (!stopSignal) {", "        while (true) {", "batch: new pictures start after SIGINT"),
    ("batch/batch.cpp", "            return 128 + stopSignal;", "            return 1;", "batch: a stopped run's status is 1"),
    ("batch/batch.cpp", "        return failed ? 1 : 0;", "        return done_ ? 0 : 1;", "batch: status 0 when some files failed"),
    ("batch/batch.cpp", "print(QStringLiteral(\"%1: %2\").arg(jobs_[index].given, errorLine(",
     "print(QStringLiteral(\"%1: %2\").arg(QString(), errorLine(", "batch: a failure's line doesn't name its file"),
    ("batch/batch.cpp", "    for (const QString& told : recoverUnfinishedSaves(paths.dataFolder))\n        print(oneLine(told));\n", "",
     "batch: saves killed in an earlier run not finished before the files are read"),
    ("ui/main.cpp", "        QCoreApplication::setAttribute(Qt::AA_Use96Dpi);\n", "",
     "batch: a new picture's resolution that of no screen"),
]

def sync_sources(work):
    """Copies the sources into the work folder, touching only changed files
    (with a new time, so the build sees them), and removes what is gone."""
    skip = {".git", "build", "fuzz"}
    kept = set()
    for folder, dirs, files in os.walk(ROOT):
        dirs[:] = [d for d in dirs if not (folder == ROOT and d in skip) and not d.startswith("build")]
        target = os.path.join(work, os.path.relpath(folder, ROOT))
        os.makedirs(target, exist_ok=True)
        for name in files:
            src, dst = os.path.join(folder, name), os.path.join(target, name)
            kept.add(os.path.normpath(dst))
            if not os.path.exists(dst) or not filecmp.cmp(src, dst, shallow=False):
                shutil.copy(src, dst)
    for folder, dirs, files in os.walk(work):
        dirs[:] = [d for d in dirs if not (folder == work and d == "build")]
        for name in files:
            if os.path.normpath(os.path.join(folder, name)) not in kept:
                os.remove(os.path.join(folder, name))


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("-k", default="", help="only the faults whose description holds this text")
    parser.add_argument("--work", default="/tmp/penumbrix-mutate")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--shard", default="1/1", help="K/N: every Nth fault from the Kth, for N runs side by side")
    args = parser.parse_args()
    k, n = map(int, args.shard.split("/"))
    faults = [f for f in FAULTS if args.k in f[3]][k - 1::n]
    if args.list:
        for f in faults:
            print(f[3])
        return 0

    work = args.work
    sync_sources(work)
    build = os.path.join(work, "build")
    testdata = os.path.abspath(os.path.join(ROOT, "..", "shared", "testdata"))
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    steps = [["cmake", "-S", work, "-B", build, "-DCMAKE_BUILD_TYPE=Release", f"-DPENUMBRIX_TESTDATA_DIR={testdata}"],
             ["cmake", "--build", build, f"-j{os.cpu_count()}"],
             ["ctest", "--test-dir", build, "--timeout", "120", "--stop-on-failure"]]
    for step in steps:
        r = run(step, env=env)
        if r.returncode != 0:
            print(r.stdout[-4000:])
            print("the unchanged program does not build or pass its tests:", " ".join(step))
            return 2

    score = collections.defaultdict(lambda: [0, 0])
    errors = 0
    for path, text, faulty, what in faults:
        file = os.path.join(work, path)
        with open(file, encoding="utf-8") as f:
            original = f.read()
        texts, faulties = ([text], [faulty]) if isinstance(text, str) else (text, faulty)
        counts = [original.count(t) for t in texts]
        if counts != [1] * len(texts):
            print(f"ERROR   {what}: the text is found {counts} times in {path}")
            errors += 1
            continue
        changed = original
        for t, x in zip(texts, faulties):
            changed = changed.replace(t, x)
        with open(file, "w", encoding="utf-8") as f:
            f.write(changed)
        try:
            built = run(steps[1], env=env)
            if built.returncode != 0:
                print(f"ERROR   {what}: does not build")
                errors += 1
                continue
            tested = run(steps[2], env=env)
            caught = tested.returncode != 0
            failing = re.findall(r"Test +#\d+: (\S+) \.*\*+(?:Failed|Timeout)", tested.stdout)
            folder = path.split("/")[0]
            score[folder][0] += caught
            score[folder][1] += 1
            print(f"{'caught ' if caught else 'MISSED '} {what}" + (f"  ({', '.join(failing)})" if failing else ""),
                  flush=True)
        finally:
            with open(file, "w", encoding="utf-8") as f:
                f.write(original)
    run(steps[1], env=env)

    caught = sum(c for c, _ in score.values())
    total = sum(t for _, t in score.values())
    print()
    for folder in sorted(score):
        print(f"{folder}: {score[folder][0]} of {score[folder][1]} caught")
    print(f"{caught} of {total} faults caught" + (f", {errors} errors" if errors else ""))
    return 0 if caught == total and not errors else 1


if __name__ == "__main__":
    sys.exit(main())
