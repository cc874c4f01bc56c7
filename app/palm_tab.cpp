#include "palm_tab.h"

#include "app/settings_file.h"
#include "app/tab_widgets.h"
#include "platform/file_dialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace ostrand {

PalmTab::PalmTab(FileDialogs &dialogs, QWidget *parent) : QWidget(parent), dialogs_(dialogs)
{
    auto *frame =
        groupBox(QStringLiteral("Frame9"),
                 QStringLiteral("Separate the different Download Files in Palm Database by....."));
    separationGroup_ = new QButtonGroup(this);
    // There is no element 1: the settings file's values are 0 and 2.
    auto *byMeterId =
        named(new QRadioButton(QStringLiteral("&Modbus ID of meter")), elementName("Option4", 0));
    auto *together =
        named(new QRadioButton(QStringLiteral("Dont &Separate")), elementName("Option4", 2));
    separationGroup_->addButton(byMeterId, 0);
    separationGroup_->addButton(together, 2);
    byMeterId->setChecked(true);
    connect(separationGroup_, &QButtonGroup::idClicked, this, &PalmTab::separationChanged);
    auto *separation = new QVBoxLayout(frame);
    separation->addWidget(byMeterId);
    separation->addWidget(together);

    auto *browseButton = named(new QPushButton(QStringLiteral("&Browse for Palm Database")),
                               QStringLiteral("Command8"));
    connect(browseButton, &QPushButton::clicked, this, &PalmTab::onBrowseClicked);
    pathBox_ = named(new QLineEdit(QStringLiteral("C:\\PALM\\TALVERN\\BACKUP\\PLOGR2.PDB")),
                     QStringLiteral("Text6"));
    pathBox_->setStyleSheet(QStringLiteral("QLineEdit { background: white; }"));
    // A path typed or pasted is the file used, once typed to its end.
    connect(pathBox_, &QLineEdit::editingFinished, this, [this] { databasePath_ = pathBox_->text().trimmed(); });
    auto *hint =
        named(new QLabel(QStringLiteral(
                  "Select the PLOGR2.PDB which is stored in Palm UserName backup directory after "
                  "downloading from meter and performing a Hotsync.")),
              QStringLiteral("Label8"));
    hint->setWordWrap(true);

    auto *file = new QHBoxLayout;
    file->addWidget(pathBox_, 1);
    file->addWidget(browseButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(file);
    layout->addWidget(hint);
    layout->addStretch(1);
}

bool PalmTab::separateByMeterId() const
{
    return separationGroup_->checkedId() == 0;
}

void PalmTab::onBrowseClicked()
{
    // The file chosen before, where its folder still exists; otherwise (the
    // settings' default "c:\Palm\..." on a system without drive letters, a
    // folder since removed) the home folder rather than wherever the program was started.
    const QFileInfo current(databasePath_);
    const QString start = !databasePath_.isEmpty() && current.isAbsolute() && current.dir().exists()
                              ? databasePath_
                              : QDir::home().filePath(QStringLiteral("PLOGR2.PDB"));
    const auto chosen =
        dialogs_.chooseOpenFile(QStringLiteral("Palm Database Selection"), QStringLiteral("*.pdb"), start);
    if (!chosen || chosen->isEmpty())
        return;
    pathBox_->setText(*chosen);
    databasePath_ = *chosen;
}

void PalmTab::apply(const Settings &settings)
{
    if (settings.palmDatabasePath) {
        databasePath_ = *settings.palmDatabasePath;
        pathBox_->setText(databasePath_);
    }
    if (settings.separationIndex) {
        selectOption(separationGroup_, *settings.separationIndex);
        emit separationChanged(*settings.separationIndex);
    }
}

void PalmTab::store(Settings &settings) const
{
    settings.palmDatabasePath = databasePath_;
    settings.separationIndex = checkedOption(separationGroup_);
}

} // namespace ostrand
