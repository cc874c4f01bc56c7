#pragma once

#include "app/line_worker.h"
#include "app/main_window.h"
#include "app/phone_list.h"
#include "app/settings_file.h"
#include "fake_file_dialogs.h"
#include "fake_meter.h"
#include "file_bytes.h"
#include "qt_printers.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace ostrand::testing {

inline QStringList splitLines(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}
inline QByteArray joinLines(const QStringList &lines)
{
    return lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n";
}
inline QStringList defaultSettingsLines() { return splitLines(defaultSettingsBytes()); }
// `n` instants of Flow (from `flow` up by one) and Level, 15 min apart from `start` on 1 Dec 2026;
// `slot` gives the quarter hour an instant is stamped at.
inline QByteArray flowLevelLog(int n, QTime start, float flow = 10.0f, float level = 2.5f,
                               const std::function<int(int)> &slot = [](int i) { return i; })
{
    QByteArray log;
    for (int i = 0; i < n; ++i) {
        const QDateTime when(QDate(2026, 12, 1), start.addSecs(900 * slot(i)));
        log += FakeMeter::record(1, when, flow + i) + FakeMeter::record(2, when, level);
    }
    return log;
}

// A program directory of its own and the window built on test doubles, so each
// test starts from whatever settings file it writes there.
class WindowFixture : public ::testing::Test {
protected:
    QString dir() const { return tempDir_.path(); }
    QString inDir(const QString &name) const { return QDir(dir()).filePath(name); }
    QString settingsPath() const { return inDir(kSettingsFileName); }
    // The default file with some lines replaced, as a user's editor or a damaged disk left it.
    void writeSettings(const std::map<int, QString> &changes)
    {
        QStringList lines = defaultSettingsLines();
        for (const auto &[line, text] : changes)
            lines[line] = text;
        writeFile(settingsPath(), joinLines(lines));
    }
    static void writeFile(const QString &path, const QByteArray &bytes) { writeFileBytes(path, bytes); }
    static QByteArray readFile(const QString &path) { return readFileBytes(path); }
    QStringList settingsLines() const { return splitLines(readFile(settingsPath())); }

    // A new window, loaded as at start-up.
    void openWindow()
    {
        window_ = std::make_unique<MainWindow>(dir(), Platform{port_, clock_, pump_, dialogs_});
        window_->setExitHandler([this] { ++exits_; });
        window_->load();
    }
    // The way the user closes it, which saves the settings.
    void closeWindow()
    {
        window_->close();
        window_.reset();
    }
    template <typename W = QWidget> W *control(const QString &name) const
    {
        W *widget = window_->findChild<W *>(name);
        EXPECT_NE(widget, nullptr) << "no control named " << name.toStdString();
        return widget;
    }
    void click(const char *button) { control<QAbstractButton>(button)->click(); }
    // Types `text` over what the box holds, key by key; Enter ends the typing when `finish`.
    void type(const char *box, const QString &text, bool finish = true)
    {
        auto *edit = control<QLineEdit>(box);
        edit->selectAll();
        QTest::keyClicks(edit, text);
        if (finish)
            QTest::keyClick(edit, Qt::Key_Return);
    }
    bool shown(const char *name) const { return !control(name)->isHidden(); }
    QString label(const char *name) const { return control<QLabel>(name)->text(); }
    QString status() const { return label("Label4"); }
    QString message() const { return window_->statusBar()->currentMessage(); }
    void tick(const char *timer) { QMetaObject::invokeMethod(control<QTimer>(timer), "timeout"); }
    void showTab(int index) { control<QTabWidget>("SSTab1")->setCurrentIndex(index); }

    QTemporaryDir tempDir_;
    VirtualClock clock_;
    VirtualEventPump pump_{clock_};
    FakeSerialPort port_{clock_};
    FakeFileDialogs dialogs_;
    std::unique_ptr<MainWindow> window_;
    int exits_ = 0;
};

} // namespace ostrand::testing

using namespace ostrand;
using namespace ostrand::testing;
