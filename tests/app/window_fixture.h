#pragma once

#include "app/dwnload1.h"
#include "fake_file_dialogs.h"
#include "fake_serial_port.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include "qt_printers.h"

#include <gtest/gtest.h>
#include <memory>

namespace ostrand::testing {

// A program directory of its own and the window built on test doubles, so each
// test starts from whatever settings file it writes there.
class WindowFixture : public ::testing::Test {
protected:
    QString dir() const { return tempDir_.path(); }
    QString settingsPath() const { return tempDir_.filePath(QStringLiteral("7700dwn.ini")); }

    void writeSettings(const QStringList &lines)
    {
        QByteArray bytes;
        for (const QString &line : lines)
            bytes += line.toLatin1() + "\r\n";
        writeSettingsBytes(bytes);
    }
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
    QStringList settingsLines() const
    {
        QStringList lines = QString::fromLatin1(settingsBytes()).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }

    // A new window, loaded as at start-up (or not, for start-state checks).
    DwnLoad1 &openWindow(bool load = true)
    {
        window_ = std::make_unique<DwnLoad1>(dir(), Platform{port_, clock_, pump_, dialogs_});
        window_->setExitHandler([this] { ++exits_; });
        if (load)
            window_->Form_Load();
        return *window_;
    }
    // Closes the window the way the user does, which saves the settings.
    void closeWindow()
    {
        window_->close();
        window_.reset();
    }

    template <typename W>
    W *control(const char *name) const
    {
        W *widget = window_->findChild<W *>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << "no control named " << name;
        return widget;
    }

    QTemporaryDir tempDir_;
    VirtualClock clock_;
    VirtualEventPump pump_{clock_};
    FakeSerialPort port_{clock_};
    FakeFileDialogs dialogs_;
    std::unique_ptr<DwnLoad1> window_;
    int exits_ = 0;
};

// The 43 lines of a fresh settings file, for tests that change one or two.
QStringList defaultSettingsLines();

} // namespace ostrand::testing
