#pragma once

#include "download/download_display.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_job_guard.h"
#include "table/channel.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QUrl;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace ostrand {

class ElidedLabel;
class FileDialogs;
class LineWorker;
class ResultsGrid;
struct GridState;
struct Settings;

// What a download reaches beyond its own tab.
struct DownloadSources {
    QString programDir; // where a bare file name lives: beside a portable program, else home
    LineWorker &line;
    ResultsGrid &results;
    GridState &gridState;
    // The slave address, when the Settings tab holds a valid one.
    std::function<std::optional<int>()> slaveId;
    // The handheld's file and whether its records are separated by meter.
    std::function<QString()> palmDatabasePath;
    std::function<bool()> separateByMeterId;
    FileDialogs &dialogs;
};

// "Download": the meter's log (or the handheld's file) into the grid and the
// output file, with its progress, counts and channel names.
class DownloadTab : public QWidget, private DownloadDisplay, private PalmConversionView {
    Q_OBJECT
public:
    explicit DownloadTab(DownloadSources sources, QWidget *parent = nullptr);
    ~DownloadTab() override;

    bool downloadRunning() const { return downloadRunning_; }
    // A download or a Palm operation is running (its button reads "Stop").
    bool operationRunning() const { return operationRunning_; }
    // Ends the running operation at its next exchange or yield, writing nothing.
    void requestStop();
    // The output file for this run: the bare name of the settings, or the full
    // path chosen with "Change Filename".
    QString outputFile() const { return outputFile_; }

    // "Download Data": the whole log, or in Palm mode the handheld's file.
    void onDownloadClicked();
    // "Since Last Time": the records logged after the last confirmed download.
    void onSinceLastTimeClicked();
    // "Get ID List...": the meter IDs found in the handheld's file.
    void onGetIdListClicked();
    // The Palm tab's separation, as the caption under the ID list tells it.
    void showSeparation(int index);

    void apply(const Settings &settings);
    void store(Settings &settings) const;

    // Opens a folder in the desktop's file manager; false when none is set up.
    using FolderOpener = std::function<bool(const QUrl &folder)>;
    void setFolderOpener(FolderOpener opener) { openFolder_ = std::move(opener); }

signals:
    void resultsChanged();
    void detailShown(const QString &text);
    // An operation begins: what the last one left shown no longer holds.
    void attemptStarted();
    void operationRunningChanged(bool running);

private:
    void runSerialDownload(bool sinceLastTime);
    // "Download Data" or "Get ID List..." on the handheld's file, on the line's thread.
    void runPalmJob(bool idList);
    void palmJobEnded(bool idList);
    // An operation started by `button` begins: what the last one left shown no longer holds.
    void beginOperation(QWidget *button);
    // The operation ended: the focus goes back to the button that started it.
    void endOperation();
    // A download or conversion wrote `path`: "Data in" names it, "Show in folder" offers its folder.
    void fileWritten(const QString &path);
    void clearWrittenFile();
    // On the window's thread once the line's job has ended with `status`.
    void serialDownloadEnded(const QString &status, bool written);
    // The operation ended with `status`: unless its file was written, the bar says so too.
    void showEnd(const QString &status, bool written);
    // The bar's text: a wait, a step, or the percentage with the time left.
    void showProgressText();
    // The reason under the result line, with what to check for a file error.
    void showReason();
    void onDownloadButtonClicked();
    // "Download Data" becomes "Stop" and what must not change meanwhile is disabled.
    void setOperationRunning(bool running);
    void clearMeterBoxes();
    void runPalmConversion();
    void onChangeFileClicked();
    void onShowInFolderClicked();
    void onCopyPathClicked();
    void onPalmModeChanged();
    bool palmMode() const;
    QString inProgramDir(const QString &name) const;

    // DownloadDisplay
    void setStatus(const QString &text) override;
    void setProgress(int percent) override;
    void setTimeLeft(const QString &text) override;
    void setRecordsUsed(const QString &text) override;
    void setRecordsAvailable(const QString &text) override;
    void setChannelLabel(int channel, const QString &text) override;
    void showDetail(const QString &text) override;
    void fileKept(const QString &keptAs) override;
    void setStep(const QString &text) override;
    void setWaiting(const QString &text) override;
    // PalmConversionView
    bool separateByModId() const override;
    QString idListText() const override;
    QStringList idListEntries() const override;
    void addIdListEntry(const QString &text) override;
    void setDownloadEnabled(bool enabled) override;

    DownloadSources sources_;
    // Keeps a download and a Palm conversion from filling the one grid at once.
    PalmJobLock gridLock_;
    QString outputFile_;
    QString writtenFile_; // where the last finished download went
    QString keptAs_;      // where the file it replaced was kept; empty when nowhere
    FolderOpener openFolder_;
    QWidget *startedBy_ = nullptr; // the button of the running or last operation
    QString detail_;               // why the operation failed, or what it left out
    bool fileError_ = false;       // the result line reads "Error putting into file!!"
    QString timeLeft_;
    QString step_;
    QString waiting_;
    QString endText_; // how the last operation ended, when not with its file written
    bool downloadRunning_ = false;
    bool operationRunning_ = false;
    // Keeps a Palm conversion off the grid while a download fills it.
    std::unique_ptr<PalmJobGuard> gridInUse_;

    QCheckBox *portableBox_ = nullptr;
    QPushButton *sinceLastTimeButton_ = nullptr;
    QPushButton *downloadButton_ = nullptr;
    QCheckBox *palmModeBox_ = nullptr;
    QPushButton *idListButton_ = nullptr;
    QComboBox *idList_ = nullptr;
    QLabel *separationLabel_ = nullptr;
    QProgressBar *progressBar_ = nullptr;
    ElidedLabel *statusLabel_ = nullptr;
    QLabel *reasonLabel_ = nullptr;
    ElidedLabel *writtenLabel_ = nullptr;
    QPushButton *showInFolderButton_ = nullptr;
    QPushButton *copyPathButton_ = nullptr;
    QLineEdit *fileNameBox_ = nullptr;
    QPushButton *changeFileButton_ = nullptr;
    std::array<QLineEdit *, kChannelCount> channelBoxes_{};
    QLineEdit *recordsAvailableBox_ = nullptr;
    QLineEdit *recordsUsedBox_ = nullptr;
};

} // namespace ostrand
