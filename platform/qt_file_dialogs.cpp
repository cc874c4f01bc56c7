#include "qt_file_dialogs.h"

#include <QFileDialog>

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

} // namespace ostrand
