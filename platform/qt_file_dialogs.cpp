#include "qt_file_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace ostrand {
namespace {

std::optional<QString> chosen(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

} // namespace

QtFileDialogs::QtFileDialogs(QWidget *parent) : parent_(parent) {}

std::optional<QString> QtFileDialogs::chooseSaveFile(const QString &title, const QString &filter,
                                                     const QString &proposedName)
{
    return chosen(QFileDialog::getSaveFileName(parent_, title, proposedName, filter));
}

std::optional<QString> QtFileDialogs::chooseOpenFile(const QString &title, const QString &filter,
                                                     const QString &proposedName)
{
    return chosen(QFileDialog::getOpenFileName(parent_, title, proposedName, filter));
}

std::optional<int> QtFileDialogs::chooseAction(const QString &title, const QString &question,
                                               const QStringList &actions)
{
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::NoButton, parent_);
    QList<QAbstractButton *> buttons;
    for (const QString &action : actions)
        buttons << box.addButton(action, QMessageBox::AcceptRole);
    // Enter on a question nobody read must not change a file.
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    const int chosen = int(buttons.indexOf(box.clickedButton()));
    return chosen < 0 ? std::nullopt : std::optional<int>(chosen);
}

} // namespace ostrand
