#pragma once

#include "file_dialogs.h"

#include <QPointer>
#include <QWidget>

namespace ostrand {

// FileDialogs through Qt's standard modal dialogs.
class QtFileDialogs : public FileDialogs {
public:
    // Dialogs are centred on `parent` (may be null) and block only its window.
    explicit QtFileDialogs(QWidget *parent = nullptr);

    // Modal "save as" dialog, starting at `proposedName`; `filter` as Qt takes it ("*.csv").
    std::optional<QString> chooseSaveFile(const QString &title, const QString &filter,
                                          const QString &proposedName) override;
    // Modal "open" dialog for an existing file, starting at `proposedName`.
    std::optional<QString> chooseOpenFile(const QString &title, const QString &filter,
                                          const QString &proposedName) override;
    // Modal question with a button per action and "Cancel" (also Escape), which has the focus.
    std::optional<int> chooseAction(const QString &title, const QString &question,
                                    const QStringList &actions) override;

private:
    QPointer<QWidget> parent_; // the window may go before we do
};

} // namespace ostrand
