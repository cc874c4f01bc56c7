#include "download_tab.h"

#include "app/download_widgets.h"
#include "download/download_outcome.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

// What the Download tab says of the file its last operation wrote, and where
// the focus goes when an operation ends.

namespace ostrand {

void DownloadTab::beginOperation(QWidget *button)
{
    startedBy_ = button;
    keptAs_.clear();
    clearWrittenFile();
    // A reason given for the last operation would read as this one's, for as
    // long as this one lasts: it goes at once, and so does how that one ended.
    detail_.clear();
    fileError_ = false;
    showReason();
    step_.clear();
    waiting_.clear();
    timeLeft_.clear();
    endText_.clear();
    progressBar_->setValue(0);
    showProgressText();
    emit attemptStarted();
}

void DownloadTab::endOperation()
{
    // Disabled while the operation ran, the button had passed the focus on, to
    // wherever the chain led (a read-only count box); a focus the user took
    // elsewhere stays there.
    QWidget *focus = QApplication::focusWidget();
    if (startedBy_ && startedBy_->isVisible() && startedBy_->isEnabled() &&
        (!focus || isAncestorOf(focus)))
        startedBy_->setFocus(Qt::OtherFocusReason);
}

void DownloadTab::fileWritten(const QString &path)
{
    writtenFile_ = path;
    const QString kept = keptAs_.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(keptText(keptAs_));
    writtenLabel_->setFullText(QStringLiteral("Data in %1%2").arg(QDir::toNativeSeparators(path), kept));
    writtenLabel_->setVisible(true);
    showInFolderButton_->setVisible(true);
}

void DownloadTab::fileKept(const QString &keptAs)
{
    keptAs_ = keptAs;
    // A warning the operation gave (labels that differ, say) matters more; the
    // written file's line says it as well.
    if (detail_.isEmpty())
        emit detailShown(keptText(keptAs));
}

void DownloadTab::clearWrittenFile()
{
    writtenLabel_->clear();
    writtenLabel_->setToolTip(QString());
    for (QWidget *shown :
         std::initializer_list<QWidget *>{writtenLabel_, showInFolderButton_, copyPathButton_})
        shown->setVisible(false);
}

void DownloadTab::onShowInFolderClicked()
{
    const QString folder = QFileInfo(writtenFile_).absolutePath();
    const QUrl url = QUrl::fromLocalFile(folder);
    if (openFolder_ ? openFolder_(url) : QDesktopServices::openUrl(url))
        return;
    // Not why the download failed: the status bar alone says it.
    emit detailShown(
        QStringLiteral("No program is set up here to show folders (%1): copy the path instead")
            .arg(QDir::toNativeSeparators(folder)));
    copyPathButton_->setVisible(true);
}

void DownloadTab::onCopyPathClicked()
{
    const QString path = QDir::toNativeSeparators(writtenFile_);
    QApplication::clipboard()->setText(path);
    emit detailShown(QStringLiteral("Copied %1").arg(path));
}

} // namespace ostrand
