#include "download_tab.h"

#include "app/palm_tab.h"
#include "app/settings_file.h"
#include "app/settings_tab.h"
#include "app/download_relay.h"
#include "app/download_widgets.h"
#include "app/line_worker.h"
#include "app/tab_widgets.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "link/meter_link.h"
#include "platform/file_dialogs.h"
#include "table/results_grid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrand {
namespace {

// The button turns to Stop while an operation runs, and back.
const QString kDownloadCaption = QStringLiteral("&Download Data");
const QString kFileError = QStringLiteral("Error putting into file!!");

} // namespace

DownloadTab::DownloadTab(DownloadSources sources, QWidget *parent)
    : QWidget(parent), sources_(sources),
      outputFile_(QStringLiteral("Logdata.csv"))
{
    auto *startFrame = groupBox(QStringLiteral("Frame7"), QStringLiteral("Start Download"));
    portableBox_ = named(new QCheckBox(QStringLiteral("R1900 &Portable")), QStringLiteral("Check2"));
    sinceLastTimeButton_ =
        named(new QPushButton(QStringLiteral("Since &Last Time")), QStringLiteral("Command7"));
    downloadButton_ =
        named(new QPushButton(kDownloadCaption), QStringLiteral("Command2"));
    palmModeBox_ = named(new TwoStateByHandCheckBox(QStringLiteral("&Use Palm DataBase")),
                         QStringLiteral("Check1"));
    idListButton_ =
        named(new QPushButton(QStringLiteral("Get &ID List...")), QStringLiteral("Command6"));
    idList_ = named(new QComboBox, QStringLiteral("SortList"));
    idList_->setEditable(true);
    idList_->setInsertPolicy(QComboBox::NoInsert);
    separationLabel_ =
        named(new QLabel(QStringLiteral("Files separated by ModID")), QStringLiteral("Label9"));
    progressBar_ = named(new QProgressBar, QStringLiteral("ProgressBar1"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    statusLabel_ = named(new ElidedLabel, QStringLiteral("Label4"));
    statusLabel_->setMinimumWidth(200);
    // Under the result line, the reason in full: the status bar has room for its start only.
    reasonLabel_ = named(new WrappedLabel, QStringLiteral("DownloadReason"));
    reasonLabel_->setVisible(false);
    // Palm mode is off at start: its controls appear when "Use Palm DataBase" is ticked.
    idListButton_->setVisible(false);
    idList_->setVisible(false);
    separationLabel_->setVisible(false);

    auto *start = new QGridLayout(startFrame);
    start->addWidget(portableBox_, 0, 0);
    start->addWidget(sinceLastTimeButton_, 0, 1);
    start->addWidget(downloadButton_, 1, 1);
    start->addWidget(palmModeBox_, 1, 0);
    start->addWidget(idListButton_, 2, 0);
    start->addWidget(idList_, 2, 1);
    start->addWidget(separationLabel_, 3, 0, 1, 2);
    start->addWidget(progressBar_, 4, 0, 1, 2);
    start->addWidget(statusLabel_, 5, 0, 1, 2);
    start->addWidget(reasonLabel_, 6, 0, 1, 2);
    // Where the last file went, while that is still what the tab is about.
    writtenLabel_ = named(new ElidedLabel, QStringLiteral("DataFile"));
    showInFolderButton_ =
        named(new QPushButton(QStringLiteral("Show in &folder")), QStringLiteral("ShowInFolder"));
    copyPathButton_ = named(new QPushButton(QStringLiteral("Cop&y path")), QStringLiteral("CopyPath"));
    for (QWidget *shown : std::initializer_list<QWidget *>{writtenLabel_, showInFolderButton_, copyPathButton_})
        shown->setVisible(false);
    start->addWidget(writtenLabel_, 7, 0, 1, 2);
    start->addWidget(showInFolderButton_, 8, 1);
    start->addWidget(copyPathButton_, 8, 0);
    connect(showInFolderButton_, &QPushButton::clicked, this, &DownloadTab::onShowInFolderClicked);
    connect(copyPathButton_, &QPushButton::clicked, this, &DownloadTab::onCopyPathClicked);
    connect(palmModeBox_, &QCheckBox::stateChanged, this, &DownloadTab::onPalmModeChanged);
    connect(downloadButton_, &QPushButton::clicked, this, &DownloadTab::onDownloadButtonClicked);
    connect(idListButton_, &QPushButton::clicked, this, &DownloadTab::onGetIdListClicked);
    connect(sinceLastTimeButton_, &QPushButton::clicked, this,
            &DownloadTab::onSinceLastTimeClicked);

    auto *fileFrame = groupBox(QStringLiteral("Frame6"), QStringLiteral("DownLoad Filename"));
    auto *fileLabel =
        named(new QLabel(QStringLiteral("Store Records into File")), QStringLiteral("Label2"));
    fileNameBox_ = named(new PathLineEdit(outputFile_), QStringLiteral("Text2"));
    fileNameBox_->setToolTip(QDir::toNativeSeparators(inProgramDir(outputFile_)));
    changeFileButton_ =
        named(new QPushButton(QStringLiteral("&Change Filename")), QStringLiteral("Command3"));
    auto *file = new QGridLayout(fileFrame);
    file->addWidget(fileLabel, 0, 0);
    file->addWidget(fileNameBox_, 1, 0);
    file->addWidget(changeFileButton_, 1, 1);
    connect(fileNameBox_, &QLineEdit::textChanged, this,
            [this](const QString &text) {
                outputFile_ = text;
                fileNameBox_->setToolTip(QDir::toNativeSeparators(inProgramDir(text)));
                // "Data in" the old file would read as where the next download goes.
                if (inProgramDir(text) != writtenFile_)
                    clearWrittenFile();
            });
    connect(changeFileButton_, &QPushButton::clicked, this, &DownloadTab::onChangeFileClicked);

    auto addCountRow = [](QGridLayout *grid, int index, const QString &caption, int row) {
        auto *label = named(new QLabel(caption), elementName("Label3", index));
        auto *box = named(new QLineEdit, elementName("Text3", index));
        box->setReadOnly(true);
        // The meter fills these: drawn on the window's own colour, they do not invite typing.
        QPalette palette = box->palette();
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::Base, palette.color(group, QPalette::Window));
        box->setPalette(palette);
        label->setBuddy(box);
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1);
        return box;
    };
    auto *statusFrame = groupBox(QStringLiteral("Frame5"), QStringLiteral("Status"));
    auto *status = new QGridLayout(statusFrame);
    recordsAvailableBox_ = addCountRow(status, 8, QStringLiteral("Records available"), 0);
    // Read as a count of records in the log, it would be mistaken for what a download brings.
    const QString freeSpace = QStringLiteral("The free space in the meter's log: how many more records "
                                             "it can hold before it writes over the oldest");
    recordsAvailableBox_->setToolTip(freeSpace);
    status->itemAtPosition(0, 0)->widget()->setToolTip(freeSpace);
    recordsUsedBox_ = addCountRow(status, 9, QStringLiteral("Records used"), 1);

    auto *channelFrame = groupBox(QStringLiteral("Frame4"), QStringLiteral("Channels"));
    auto *channels = new QGridLayout(channelFrame);
    for (int i = 0; i < kChannelCount; ++i)
        channelBoxes_[i] = addCountRow(channels, i, QStringLiteral("Channel #%1").arg(i + 1), i);
    channels->setRowStretch(kChannelCount, 1);

    auto *left = new QVBoxLayout;
    left->addWidget(startFrame);
    left->addWidget(fileFrame);
    left->addStretch(1);
    auto *right = new QVBoxLayout;
    right->addWidget(statusFrame);
    right->addWidget(channelFrame);
    right->addStretch(1);
    // The progress and the reason need the room more than the short channel names do.
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);

    // Tab goes first to the downloads, then the file, then the boxes that only report. Set once
    // every frame is in the tab: a tab order joins only widgets of one window.
    QList<QWidget *> order{downloadButton_, sinceLastTimeButton_, portableBox_, palmModeBox_,
                           idListButton_,   idList_,              showInFolderButton_,
                           copyPathButton_, fileNameBox_,    changeFileButton_,    recordsAvailableBox_,
                           recordsUsedBox_};
    order.append({channelBoxes_.begin(), channelBoxes_.end()});
    chainTabOrder(order);
}

DownloadTab::~DownloadTab() = default;

QString DownloadTab::inProgramDir(const QString &name) const
{
    // A bare name lives beside the program when it runs portable, else in the home folder.
    return name.isEmpty() ? name : QDir(sources_.programDir).filePath(name);
}

bool DownloadTab::palmMode() const
{
    return palmModeBox_->checkState() != Qt::Unchecked;
}

void DownloadTab::onDownloadClicked()
{
    if (palmMode())
        runPalmConversion();
    else
        runSerialDownload(false);
}

void DownloadTab::onDownloadButtonClicked()
{
    if (operationRunning_)
        requestStop();
    else
        onDownloadClicked();
}

void DownloadTab::setOperationRunning(bool running)
{
    if (running == operationRunning_)
        return;
    operationRunning_ = running;
    downloadButton_->setText(running ? QStringLiteral("&Stop") : kDownloadCaption);
    downloadButton_->setEnabled(true);
    for (QWidget *control : std::initializer_list<QWidget *>{
             sinceLastTimeButton_, changeFileButton_, fileNameBox_, palmModeBox_, idListButton_, idList_})
        control->setEnabled(!running);
    emit operationRunningChanged(running);
}

void DownloadTab::clearMeterBoxes()
{
    // A failed download must not leave the previous meter's values looking current.
    recordsAvailableBox_->clear();
    recordsUsedBox_->clear();
    for (QLineEdit *box : channelBoxes_)
        box->clear();
}

void DownloadTab::onSinceLastTimeClicked()
{
    runSerialDownload(true);
}

void DownloadTab::requestStop()
{
    if (operationRunning_)
        sources_.line.requestStop();
}

void DownloadTab::onChangeFileClicked()
{
    // The dialog opens where the data goes now, so a technician sees which file that is.
    const QString current = inProgramDir(outputFile_);
    const auto chosen = sources_.dialogs.chooseSaveFile(
        QStringLiteral("Data Filename Selection"), QStringLiteral("*.csv"),
        current.isEmpty() ? QStringLiteral("Logdata.csv") : current);
    if (!chosen || chosen->isEmpty())
        return;
    // The full path, kept in the box and the settings file: a bare name would
    // send the next run's data to another folder than the one chosen.
    fileNameBox_->setText(*chosen);
}

void DownloadTab::onPalmModeChanged()
{
    const bool palm = palmMode();
    separationLabel_->setVisible(palm);
    idList_->setVisible(palm);
    idListButton_->setVisible(palm);
    sinceLastTimeButton_->setVisible(!palm);
}

void DownloadTab::showSeparation(int index)
{
    if (index == 0)
        separationLabel_->setText(QStringLiteral("Files separated by ModID"));
    else if (index == 2)
        separationLabel_->setText(QStringLiteral("Files not separated"));
}

void DownloadTab::apply(const Settings &settings)
{
    if (settings.downloadFileText) {
        fileNameBox_->setText(*settings.downloadFileText);
        outputFile_ = *settings.downloadFileText;
    }
    if (settings.palmCheckState) {
        const int state = *settings.palmCheckState;
        palmModeBox_->setCheckState(state == 1   ? Qt::Checked
                                    : state == 2 ? Qt::PartiallyChecked
                                                 : Qt::Unchecked);
        onPalmModeChanged();
    }
}

void DownloadTab::store(Settings &settings) const
{
    settings.downloadFileText = fileNameBox_->text();
    const Qt::CheckState state = palmModeBox_->checkState();
    settings.palmCheckState = state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
}

void DownloadTab::setStatus(const QString &text)
{
    statusLabel_->setFullText(text);
    // Whatever follows a written file no longer speaks of it.
    clearWrittenFile();
    fileError_ = text == kFileError;
    showReason();
}

void DownloadTab::setProgress(int percent)
{
    // A finished download has no time left to show.
    if (percent >= 100)
        setTimeLeft(QString());
    progressBar_->setValue(std::clamp(percent, 0, 100));
}

void DownloadTab::setTimeLeft(const QString &text)
{
    timeLeft_ = text;
    showProgressText();
}

void DownloadTab::setStep(const QString &text)
{
    step_ = text;
    showProgressText();
}

void DownloadTab::setWaiting(const QString &text)
{
    waiting_ = text;
    showProgressText();
}

void DownloadTab::showProgressText()
{
    // A silent meter first: a percentage or an estimate standing still says nothing of it.
    QString text = !waiting_.isEmpty() ? waiting_ : !step_.isEmpty() ? step_ : endText_;
    if (text.isEmpty())
        text = timeLeft_.isEmpty() ? QStringLiteral("%p%") : QStringLiteral("%p% · ") + timeLeft_;
    if (progressBar_->format() != text)
        progressBar_->setFormat(text);
}

void DownloadTab::showEnd(const QString &status, bool written)
{
    step_.clear();
    waiting_.clear();
    timeLeft_.clear();
    // The bar keeps where the download got to; its text says how it ended.
    endText_ = written ? QString() : status;
    showProgressText();
}

void DownloadTab::showReason()
{
    QString reason = detail_;
    if (fileError_) {
        // The path is the first thing to check, and a reason may not name it.
        const QString path = QDir::toNativeSeparators(inProgramDir(outputFile_));
        if (!reason.contains(path) && !reason.contains(inProgramDir(outputFile_)))
            reason = reason.isEmpty() ? path : QStringLiteral("%1: %2").arg(path, reason);
        reason += QStringLiteral("\nCheck that the folder exists and may be written to, that the disk has room "
                                 "and that no other program holds the file, or choose another with "
                                 "\"Change Filename\".");
    }
    reasonLabel_->setText(reason);
    reasonLabel_->setVisible(!reason.isEmpty());
}

void DownloadTab::setRecordsUsed(const QString &text)
{
    recordsUsedBox_->setText(text);
}

void DownloadTab::setRecordsAvailable(const QString &text)
{
    recordsAvailableBox_->setText(text);
}

void DownloadTab::setChannelLabel(int channel, const QString &text)
{
    if (channel >= 1 && channel <= kChannelCount)
        channelBoxes_[channel - 1]->setText(text);
}

void DownloadTab::showDetail(const QString &text)
{
    detail_ = text;
    showReason();
    emit detailShown(text);
}

bool DownloadTab::separateByModId() const
{
    return sources_.separateByMeterId();
}

QString DownloadTab::idListText() const
{
    return idList_->currentText();
}

QStringList DownloadTab::idListEntries() const
{
    QStringList entries;
    for (int i = 0; i < idList_->count(); ++i)
        entries << idList_->itemText(i);
    return entries;
}

void DownloadTab::addIdListEntry(const QString &text)
{
    // Adding to an editable list must not replace what the user typed.
    const QString typed = idList_->currentText();
    idList_->addItem(text);
    idList_->setEditText(typed);
}

void DownloadTab::setDownloadEnabled(bool enabled)
{
    // A Palm operation runs while the button is "disabled": it offers Stop instead.
    setOperationRunning(!enabled);
}

} // namespace ostrand
