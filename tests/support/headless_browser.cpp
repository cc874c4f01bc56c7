#include "headless_browser.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <unistd.h>

namespace ostrand::testing {

namespace {

// Chromium complains of the missing session and system buses on every run; what is left
// is what went wrong.
QString browserComplaints(const QByteArray &stderrBytes)
{
    QStringList kept;
    const QStringList lines = QString::fromLocal8Bit(stderrBytes).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.contains(QLatin1String("dbus/")) &&
            !line.contains(QLatin1String("unexpected operator")))
            kept << line;
    }
    return kept.join(u'\n');
}

} // namespace

QString headlessBrowserProgram()
{
    const QString chosen = qEnvironmentVariable("OSTRAND_CHROMIUM");
    const QString program = chosen.isEmpty() ? QStringLiteral("/usr/bin/chromium") : chosen;
    return QFileInfo(program).isExecutable() ? program : QString();
}

RenderedPage renderPage(const QUrl &url, const RenderOptions &options)
{
    RenderedPage page;
    const QString shown = url.toDisplayString(QUrl::RemovePassword);
    const QString program = headlessBrowserProgram();
    if (program.isEmpty()) {
        page.errors = QStringLiteral("no browser: install chromium or set OSTRAND_CHROMIUM");
        return page;
    }
    QTemporaryDir profile;
    if (!profile.isValid()) {
        page.errors =
            QStringLiteral("no folder for the browser's profile: ") + profile.errorString();
        return page;
    }
    // Root in a container has no user namespaces for the sandbox, and there is no GPU.
    QStringList arguments{QStringLiteral("--headless=new"),
                          QStringLiteral("--no-sandbox"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--hide-scrollbars"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--user-data-dir=") + profile.path(),
                          QStringLiteral("--virtual-time-budget=%1").arg(options.virtualTimeMs),
                          QStringLiteral("--window-size=%1,%2")
                              .arg(options.windowSize.width())
                              .arg(options.windowSize.height()),
                          QStringLiteral("--dump-dom")};
    if (!options.screenshotPath.isEmpty())
        arguments << QStringLiteral("--screenshot=") + options.screenshotPath;
    arguments << url.toString(QUrl::FullyEncoded);

    if (!options.screenshotPath.isEmpty())
        QFile::remove(options.screenshotPath); // a picture from an earlier run proves nothing
    QProcess browser;
    // A group of its own, so its renderer and helpers go with it when it has to be killed.
    browser.setChildProcessModifier([] { ::setpgid(0, 0); });
    browser.start(program, arguments);
    if (!browser.waitForStarted(10000)) {
        page.errors = QStringLiteral("%1 did not start: %2").arg(program, browser.errorString());
        return page;
    }
    const qint64 group = browser.processId();
    const bool ended = browser.waitForFinished(options.timeoutMs);
    if (!ended) {
        ::kill(-group, SIGKILL);
        browser.waitForFinished(5000);
    }
    ::kill(-group, SIGKILL); // helpers that outlived it
    page.dom = QString::fromUtf8(browser.readAllStandardOutput());
    const QString complaints = browserComplaints(browser.readAllStandardError());
    if (!ended)
        page.errors =
            QStringLiteral("%1 was still loading after %2 ms").arg(shown).arg(options.timeoutMs);
    else if (browser.exitStatus() != QProcess::NormalExit || browser.exitCode() != 0)
        page.errors =
            QStringLiteral("the browser ended with %1 on %2").arg(browser.exitCode()).arg(shown);
    else if (!options.screenshotPath.isEmpty() && !QFileInfo(options.screenshotPath).size())
        page.errors = QStringLiteral("no picture of %1 in %2").arg(shown, options.screenshotPath);
    else
        page.ok = true;
    if (!page.ok && !complaints.isEmpty())
        page.errors += QStringLiteral("\nchromium said:\n") + complaints;
    return page;
}

} // namespace ostrand::testing
