#pragma once

#include "app/main_window.h"
#include "app/settings_file.h"
#include "fake_file_dialogs.h"
#include "fake_serial_port.h"
#include "qt_printers.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>

namespace ostrand::testing {

inline QStringList splitLines(const QByteArray &bytes)
{
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The 43 lines of a fresh settings file, for tests that change one or two.
inline QStringList defaultSettingsLines()
{
    return splitLines(defaultSettingsBytes());
}

// A program directory of its own and the window built on test doubles, so each
// test starts from whatever settings file it writes there.
class WindowFixture : public ::testing::Test {
protected:
    QString dir() const { return tempDir_.path(); }
    QString settingsPath() const { return tempDir_.filePath(QStringLiteral("7700dwn.ini")); }

    void writeSettings(const QStringList &lines) { writeSettingsBytes(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n"); }
    void writeSettingsBytes(const QByteArray &bytes)
    {
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray settingsBytes() const
    {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList settingsLines() const { return splitLines(settingsBytes()); }

    // A new window, loaded as at start-up.
    MainWindow &openWindow()
    {
        window_ = std::make_unique<MainWindow>(dir(), Platform{port_, clock_, pump_, dialogs_});
        window_->setExitHandler([this] { ++exits_; });
        window_->load();
        return *window_;
    }
    // Closes the window the way the user does, which saves the settings.
    void closeWindow()
    {
        window_->close();
        window_.reset();
    }

    template <typename W>
    W *control(const QString &name) const
    {
        W *widget = window_->findChild<W *>(name);
        EXPECT_NE(widget, nullptr) << "no control named " << name.toStdString();
        return widget;
    }

    QTemporaryDir tempDir_;
    VirtualClock clock_;
    VirtualEventPump pump_{clock_};
    FakeSerialPort port_{clock_};
    FakeFileDialogs dialogs_;
    std::unique_ptr<MainWindow> window_;
    int exits_ = 0;
};

} // namespace ostrand::testing
