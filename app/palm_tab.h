#pragma once

#include <QString>
#include <QWidget>

class QButtonGroup;
class QLineEdit;

namespace ostrand {

class FileDialogs;
struct Settings;

// "Palm DataBase": which handheld file to convert and whether to split it by meter.
class PalmTab : public QWidget {
    Q_OBJECT
public:
    explicit PalmTab(FileDialogs &dialogs, QWidget *parent = nullptr);

    // The file chosen with the browse button, typed into the box (once typing
    // ended) or read from the settings.
    QString databasePath() const { return databasePath_; }
    bool separateByMeterId() const;

    void apply(const Settings &settings);
    void store(Settings &settings) const;

signals:
    // 0: one file per meter ID, 2: one file for all.
    void separationChanged(int index);

private:
    void onBrowseClicked();

    FileDialogs &dialogs_;
    QButtonGroup *separationGroup_ = nullptr;
    QLineEdit *pathBox_ = nullptr;
    QString databasePath_;
};

} // namespace ostrand
