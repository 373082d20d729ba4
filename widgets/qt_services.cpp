#include "widgets/qt_services.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QTimer>
#include <QTreeView>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

#include "files/runtime_error.h"

namespace penumbrix {

int QtMessageService::show(const QString& text, MessageButtons buttons)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kProgramTitle), text, QMessageBox::NoButton, owner_);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = nullptr;
    if (buttons == MessageButtons::OkCancel) {
        cancel = box.addButton(QMessageBox::Cancel);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok ? kMessageOk : kMessageCancel;
}

QStringList QtOpenDialog::nameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            for (const QString& variant : {pattern, pattern.toLower(), pattern.toUpper()})
                if (!patterns.contains(variant))
                    patterns << variant;
        }
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return result;
}

namespace {

// The dialog's sizes, types and dates in Japanese, as its other texts are:
// Qt's file list writes sizes and dates in the desktop's language, whatever
// the program's, and has no Japanese for a folder or a file of no known type.
class JapaneseFileDetails final : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
            return QIdentityProxyModel::data(index, role);
        const QLocale japanese(QLocale::Japanese, QLocale::Japan);
        const QModelIndex source = mapToSource(index);
        switch (index.column()) {
        case 1: return files->isDir(source) ? QString() : japanese.formattedDataSize(files->size(source));
        case 2: {
            const QString type = files->type(source);
            if (files->isDir(source))
                return QStringLiteral("フォルダ");
            if (type == QLatin1String("File"))
                return QStringLiteral("ファイル");
            if (type.endsWith(QLatin1String(" File")))
                return type.chopped(5) + QStringLiteral(" ファイル");
            return type;
        }
        default: return japanese.toString(files->lastModified(source), QLocale::ShortFormat);
        }
    }
};

} // namespace

std::optional<QString> QtOpenDialog::showOpen(const QString& filter, const QString& proposedFileName)
{
    QFileDialog dialog(owner_);
    // Qt's own dialog, in the program's language whatever the desktop's; its
    // type box shows "画像(*.BMP)", not the patterns behind it.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    dialog.setProxyModel(new JapaneseFileDetails(&dialog));
    // The size, type and date columns as wide as what they show, and the
    // names in what is left, whenever a folder has been listed (showing the
    // dialog puts back the widths of its last use).
    auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (auto* files = dialog.findChild<QFileSystemModel*>(); files && list)
        QObject::connect(files, &QFileSystemModel::directoryLoaded, list, [list] {
            QHeaderView* header = list->header();
            header->setStretchLastSection(false);
            header->setSectionResizeMode(0, QHeaderView::Stretch);
            for (int column = 1; column < 4; ++column)
                header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        });
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(filter));
    if (!proposedFileName.isEmpty()) {
        const QFileInfo proposed(proposedFileName);
        if (proposed.isAbsolute())
            dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void QtBusyPointer::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (!window_)
        return;
    if (busy)
        window_->setCursor(Qt::WaitCursor);
    else
        window_->unsetCursor();
}

void QtBrowser::open(const QString& address)
{
    // The opener hands the address to the user's browser; it may wait for
    // that browser to end, so it is never waited for here. It shares this
    // program's output and error channels and has no input, and it is not
    // stopped when the program ends: the browser stays open on its own.
    auto* opener = new QProcess;
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({address});
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    ++running_;
    const auto ended = [this, opener, address](bool failed) {
        if (opener->property("ended").toBool())
            return;
        opener->setProperty("ended", true);
        --running_;
        opener->deleteLater();
        if (failed)
            messages_.show(RuntimeError(RuntimeError::ObjectNotAvailable, address).message(), MessageButtons::Ok);
    };
    QObject::connect(opener, &QProcess::finished, &context_, [ended](int code, QProcess::ExitStatus status) {
        ended(status != QProcess::NormalExit || code != 0);
    });
    QObject::connect(opener, &QProcess::errorOccurred, &context_, [ended](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(true);
    });
    opener->start();
}

} // namespace penumbrix
