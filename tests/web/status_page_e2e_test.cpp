// ostrand-cli serve over a SQLite store that ostrand-cli collect filled from simulated meters,
// loaded in a headless Chromium: what a person sees on the fleet page and on a station's page
// once their scripts ran, a station named as markup shown as text, and the token carried by the
// page's own refresh. Pictures of both pages are kept in OSTRAND_TEST_OUTPUT_DIR.
#include "headless_browser.h"
#include "store/store_open.h"
#include "tests/collect/collect_scene.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QTimeZone>
#include <map>
#include <memory>

using namespace ostrand::testing;

namespace {

const QString kHealthy = QStringLiteral("river-north");
const QString kFailing = QStringLiteral("mill-race"); // collected once, then its meter is gone
const QString kGappy = QStringLiteral("culvert-7");   // two hours missing from one day
const QString kNever = QStringLiteral("new-site");    // in the stations file, never collected
const QString kMarkup = QStringLiteral("<script>alert(1)</script>"); // never collected either
const QByteArray kToken = "tok-5e1f0a9c3b7d";

// ---- ostrand-cli serve for the length of a test suite.

class ServeProcess {
public:
    // Starts serve with `arguments` and waits for the address it prints once listening.
    bool start(const QStringList &arguments, QString *problem)
    {
        process_.start(QStringLiteral(OSTRAND_CLI),
                       QStringList{QStringLiteral("serve")} + arguments);
        QElapsedTimer clock;
        clock.start();
        QByteArray out;
        while (clock.elapsed() < 15000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(200);
            out += process_.readAllStandardOutput();
            const QRegularExpressionMatch found =
                QRegularExpression(QStringLiteral("(https?)://[^\\s/]+:(\\d+)/?"))
                    .match(QString::fromUtf8(out));
            if (found.hasMatch()) {
                port_ = quint16(found.captured(2).toUInt());
                return port_ != 0;
            }
        }
        *problem = QStringLiteral("serve printed no address: \"%1\"; stderr: %2")
                       .arg(QString::fromUtf8(out),
                            QString::fromLocal8Bit(process_.readAllStandardError()));
        return false;
    }
    ~ServeProcess()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(2000);
    }
    quint16 port() const { return port_; }
    // The address of `path`, with the token as Basic authentication's password when given.
    QUrl url(const QString &path, const QByteArray &token = {}) const
    {
        QUrl url(QStringLiteral("http://127.0.0.1"));
        url.setPort(port_);
        url.setPath(path);
        if (!token.isEmpty()) {
            url.setUserName(QStringLiteral("operator"));
            url.setPassword(QString::fromLatin1(token));
        }
        return url;
    }

private:
    QProcess process_;
    quint16 port_ = 0;
};

// ---- Reading a rendered page as a person reads it.

// The text a run of markup shows.
QString shownText(QString html)
{
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    html.replace(QLatin1String("&lt;"), QLatin1String("<"));
    html.replace(QLatin1String("&gt;"), QLatin1String(">"));
    html.replace(QLatin1String("&quot;"), QLatin1String("\""));
    html.replace(QLatin1String("&#39;"), QLatin1String("'"));
    html.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    html.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return html.simplified();
}

// The value of attribute `name` in a start tag's attributes.
QString attribute(const QString &attributes, const QString &name)
{
    const QRegularExpression pattern(
        QStringLiteral("(?:^|\\s)%1=\"([^\"]*)\"").arg(QRegularExpression::escape(name)));
    return shownText(pattern.match(attributes).captured(1));
}

// One day of the 90-day strip as drawn.
struct StripDay {
    QString cssClass; // d-whole, d-part, d-missing
    QString title;    // "2026-12-05: 88 of 96 instants"
};

// One row of the fleet table as drawn.
struct FleetLine {
    QString name;  // as its data-name says
    QString state; // the word shown
    QString error; // the last error's cell
    QString text;  // all the row shows
    std::vector<StripDay> days;
};

// The fleet table's rows in their order.
std::vector<FleetLine> fleetLines(const QString &dom)
{
    std::vector<FleetLine> lines;
    const int body = dom.indexOf(QLatin1String("<tbody id=\"rows\""));
    if (body < 0)
        return lines;
    const QString table = dom.mid(body, dom.indexOf(QLatin1String("</tbody>"), body) - body);
    static const QRegularExpression row(
        QStringLiteral("<tr((?:\\s+[\\w-]+=\"[^\"]*\")*)\\s*>(.*?)</tr>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression state(
        QStringLiteral("<span class=\"state[^\"]*\">(.*?)</span>"));
    static const QRegularExpression error(QStringLiteral("<td class=\"err\">(.*?)</td>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression day(QStringLiteral("<i((?:\\s+[\\w-]+=\"[^\"]*\")*)\\s*>"));
    for (auto match = row.globalMatch(table); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        FleetLine line;
        line.name = attribute(found.captured(1), QStringLiteral("data-name"));
        const QString cells = found.captured(2);
        line.state = shownText(state.match(cells).captured(1));
        line.error = shownText(error.match(cells).captured(1));
        line.text = shownText(cells);
        for (auto i = day.globalMatch(cells); i.hasNext();) {
            const QString attributes = i.next().captured(1);
            const QString cssClass = attribute(attributes, QStringLiteral("class"));
            if (cssClass.startsWith(QLatin1String("d-")))
                line.days.push_back({cssClass, attribute(attributes, QStringLiteral("title"))});
        }
        lines.push_back(line);
    }
    return lines;
}

const FleetLine *lineOf(const std::vector<FleetLine> &lines, const QString &name)
{
    for (const FleetLine &line : lines) {
        if (line.name == name)
            return &line;
    }
    return nullptr;
}

const StripDay *dayOf(const FleetLine &line, const QDate &date)
{
    const QString prefix = date.toString(Qt::ISODate) + u':';
    for (const StripDay &day : line.days) {
        if (day.title.startsWith(prefix))
            return &day;
    }
    return nullptr;
}

QString outputDir()
{
    QDir().mkpath(QStringLiteral(OSTRAND_TEST_OUTPUT_DIR));
    return QStringLiteral(OSTRAND_TEST_OUTPUT_DIR);
}

// ---- The scene: four stations collected (or not) into one store, and serve over it.

class StatusPageE2e : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scene = new Scene;
        scene->problem = scene->build();
    }
    static void TearDownTestSuite()
    {
        delete scene;
        scene = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(scene->problem.isEmpty()) << qPrintable(scene->problem); }

    // The page at `path`, rendered once for the suite; a picture of it too when `picture` is named.
    static const RenderedPage &page(const QString &path, const QString &picture = {},
                                    int virtualMs = 5000)
    {
        const QString key = path + u'|' + QString::number(virtualMs);
        auto found = scene->pages.find(key);
        if (found == scene->pages.end()) {
            RenderOptions options;
            options.virtualTimeMs = virtualMs;
            if (!picture.isEmpty())
                options.screenshotPath = QDir(outputDir()).filePath(picture);
            // The fleet's table is wide: the whole of its strip in the picture.
            if (path == QLatin1String("/"))
                options.windowSize = QSize(1600, 640);
            // A script of a name run as markup would hold the page on its alert until the
            // browser is killed at its time-out (30 s: long enough on a machine also building).
            found = scene->pages.emplace(key, renderPage(scene->serve.url(path), options)).first;
            if (!picture.isEmpty())
                std::printf("picture of %s: %s\n", qPrintable(path),
                            qPrintable(options.screenshotPath));
        }
        return found->second;
    }

    struct Scene {
        QTemporaryDir dir;
        QTemporaryDir runtime;
        QDate gapDay; // the day with the gap, two days before today (UTC)
        QString problem;
        QString failingError; // what the failed run recorded
        ServeProcess serve;
        std::map<QString, RenderedPage> pages;

        QString path(const QString &name) const { return dir.filePath(name); }

        QString collect(const QStringList &only, bool mustSucceed)
        {
            QProcess cli;
            startCli(cli,
                     {QStringLiteral("collect"), QStringLiteral("--stations"), path("stations.ini"),
                      QStringLiteral("--only"), only.join(u','), QStringLiteral("--retries"),
                      QStringLiteral("0")},
                     runtime.path());
            const CliRun run = finished(cli, 60000);
            if (mustSucceed && run.exitCode != 0)
                return QStringLiteral("collect %1 ended with %2: %3")
                    .arg(only.join(u','))
                    .arg(run.exitCode)
                    .arg(run.errors);
            if (!mustSucceed && run.exitCode <= 0)
                return QStringLiteral("collect %1 ended with %2, not a failure")
                    .arg(only.join(u','))
                    .arg(run.exitCode);
            return {};
        }

        QString build()
        {
            // Logs from the start of the day three days ago to the last quarter hour: three
            // whole days in the strip, today's part outside it.
            const QDateTime now = QDateTime::currentDateTimeUtc();
            const QDateTime first(now.date().addDays(-3), QTime(0, 0), QTimeZone::utc());
            const qint64 records = (now.toSecsSinceEpoch() - first.toSecsSinceEpoch()) / 900 + 1;
            gapDay = now.date().addDays(-2);
            const QStringList survey{QStringLiteral("--survey"), QStringLiteral("--records"),
                                     QString::number(records), QStringLiteral("--start"),
                                     first.toString(QStringLiteral("yyyy-MM-dd HH:mm"))};
            MeterSimProcess healthy;
            MeterSimProcess failing;
            MeterSimProcess gappy;
            if (!healthy.start(dir.path(), survey, QStringLiteral("river-COM")) ||
                !failing.start(dir.path(), survey, QStringLiteral("mill-COM")) ||
                !gappy.start(dir.path(),
                             survey + QStringList{QStringLiteral("--survey-gaps"),
                                                  gapDay.toString(Qt::ISODate) +
                                                      QStringLiteral("T10:00/120")},
                             QStringLiteral("culvert-COM")))
                return QStringLiteral("a simulator did not start");
            auto station = [this](const QString &name, const QString &port, const QString &output) {
                return QStringLiteral("[%1]\nport = %2\noutput = %3\ntimezone = UTC\n\n")
                    .arg(name, port, path(output));
            };
            QFile file(path("stations.ini"));
            if (!file.open(QIODevice::WriteOnly))
                return QStringLiteral("no stations file");
            file.write(
                (QStringLiteral("[store]\nurl = sqlite:store.db\n\n") +
                 station(kHealthy, healthy.linkPath(), QStringLiteral("river.csv")) +
                 station(kFailing, failing.linkPath(), QStringLiteral("mill.csv")) +
                 station(kGappy, gappy.linkPath(), QStringLiteral("culvert.csv")) +
                 station(kNever, path(QStringLiteral("new-COM")), QStringLiteral("new.csv")) +
                 station(kMarkup, path(QStringLiteral("markup-COM")), QStringLiteral("markup.csv")))
                    .toUtf8());
            file.close();

            if (QString failed = collect({kHealthy, kFailing, kGappy}, true); !failed.isEmpty())
                return failed;
            // The mill's meter goes away: its next attempt fails after a success.
            failing.stop();
            // In a second of its own: the store keeps whole seconds, and an attempt in the
            // second of the success before it cannot be told to have come after it.
            const qint64 second = QDateTime::currentSecsSinceEpoch();
            while (QDateTime::currentSecsSinceEpoch() == second)
                QThread::msleep(20);
            if (QString failed = collect({kFailing}, false); !failed.isEmpty())
                return failed;

            QString why;
            const auto store = ostrand::collect::openStoreReader(QStringLiteral("sqlite:store.db"),
                                                                 dir.path(), &why);
            if (!store)
                return QStringLiteral("the store would not open: ") + why;
            const auto rows = store->stations(&why);
            if (!rows)
                return QStringLiteral("the store's stations: ") + why;
            for (const auto &row : *rows) {
                if (row.name == kFailing)
                    failingError = row.lastError;
            }
            if (failingError.isEmpty())
                return QStringLiteral("the failed run left no error in the store");
            if (!serve.start({QStringLiteral("--stations"), path("stations.ini"),
                              QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")},
                             &why))
                return why;
            return {};
        }
    };
    static Scene *scene;
};
StatusPageE2e::Scene *StatusPageE2e::scene = nullptr;

} // namespace

TEST_F(StatusPageE2e, theFleetPageShowsEachStationsStateAndItsError)
{
    const RenderedPage &fleet = page(QStringLiteral("/"), QStringLiteral("status-fleet.png"));
    ASSERT_TRUE(fleet.ok) << qPrintable(fleet.errors);
    const std::vector<FleetLine> lines = fleetLines(fleet.dom);
    ASSERT_EQ(lines.size(), 5u) << qPrintable(fleet.dom);

    const struct {
        QString name;
        QString state;
    } expected[] = {{kHealthy, "OK"},
                    {kFailing, "Failing"},
                    {kGappy, "OK"},
                    {kNever, "Stale"},
                    {kMarkup, "Stale"}};
    for (const auto &station : expected) {
        SCOPED_TRACE(station.name.toStdString());
        const FleetLine *line = lineOf(lines, station.name);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->state, station.state);
        EXPECT_EQ(line->error, station.name == kFailing ? scene->failingError : QString());
    }
}

TEST_F(StatusPageE2e, theDayWithTheGapIsDrawnShortInTheStripAndTheSameDayOfAWholeLogIsWhole)
{
    const RenderedPage &fleet = page(QStringLiteral("/"), QStringLiteral("status-fleet.png"));
    ASSERT_TRUE(fleet.ok) << qPrintable(fleet.errors);
    const std::vector<FleetLine> lines = fleetLines(fleet.dom);
    const FleetLine *gappy = lineOf(lines, kGappy);
    const FleetLine *healthy = lineOf(lines, kHealthy);
    ASSERT_TRUE(gappy && healthy);
    ASSERT_EQ(gappy->days.size(), 90u);
    ASSERT_EQ(healthy->days.size(), 90u);

    const StripDay *gapDay = dayOf(*gappy, scene->gapDay);
    const StripDay *wholeDay = dayOf(*healthy, scene->gapDay);
    ASSERT_TRUE(gapDay && wholeDay);
    EXPECT_EQ(gapDay->cssClass, "d-part");
    EXPECT_TRUE(gapDay->title.endsWith("88 of 96 instants"))
        << qPrintable(gapDay->title); // 2 h missing
    EXPECT_EQ(wholeDay->cssClass, "d-whole");
    EXPECT_TRUE(wholeDay->title.endsWith("96 of 96 instants")) << qPrintable(wholeDay->title);
    // The day after the gap is whole again: one short day is not spread over its neighbours.
    EXPECT_EQ(dayOf(*gappy, scene->gapDay.addDays(1))->cssClass, "d-whole");
    EXPECT_TRUE(gappy->text.endsWith("1 short, 87 missing")) << qPrintable(gappy->text);
    EXPECT_TRUE(healthy->text.endsWith("0 short, 87 missing")) << qPrintable(healthy->text);
}

TEST_F(StatusPageE2e, theMinutelyRefreshRedrawsTheSameTableFromTheJson)
{
    const RenderedPage &drawn = page(QStringLiteral("/"), QStringLiteral("status-fleet.png"));
    // Past the first refresh on the page's own clock.
    const RenderedPage &redrawn = page(QStringLiteral("/"), {}, 65000);
    ASSERT_TRUE(drawn.ok && redrawn.ok) << qPrintable(drawn.errors + redrawn.errors);
    EXPECT_TRUE(redrawn.dom.contains("Updated ")) << "the refresh did not finish";
    const std::vector<FleetLine> before = fleetLines(drawn.dom);
    const std::vector<FleetLine> after = fleetLines(redrawn.dom);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(before[i].name.toStdString());
        EXPECT_EQ(after[i].name, before[i].name);
        EXPECT_EQ(after[i].state, before[i].state);
        EXPECT_EQ(after[i].error, before[i].error);
        ASSERT_EQ(after[i].days.size(), before[i].days.size());
        for (size_t d = 0; d < before[i].days.size(); ++d) {
            EXPECT_EQ(after[i].days[d].cssClass, before[i].days[d].cssClass);
            EXPECT_EQ(after[i].days[d].title, before[i].days[d].title);
        }
    }
}

TEST_F(StatusPageE2e, aStationPageDrawsItsHydrographAsSvgBrokenAtTheGap)
{
    const RenderedPage &station =
        page(QStringLiteral("/station/") + kGappy, QStringLiteral("status-station.png"));
    ASSERT_TRUE(station.ok) << qPrintable(station.errors);
    const QString &dom = station.dom;
    ASSERT_TRUE(dom.contains(QLatin1String("<svg"))) << qPrintable(dom);
    // Each channel's line runs over the days logged and is broken once, at the two hours missing.
    static const QRegularExpression line(QStringLiteral("<path[^>]* d=\"([^\"]*)\""));
    int lines = 0;
    for (auto found = line.globalMatch(dom); found.hasNext(); ++lines) {
        const QString drawn = found.next().captured(1);
        EXPECT_GT(drawn.count(u'L'), 3 * 90) << qPrintable(drawn.left(200));
        EXPECT_EQ(drawn.count(u'M'), 2) << qPrintable(drawn.left(200));
    }
    EXPECT_GE(lines, 1);
    // Nothing from outside: the page works on a site with no internet.
    EXPECT_FALSE(dom.contains(QRegularExpression(QStringLiteral("(?:src|href)=\"(?:https?:)?//"))))
        << qPrintable(dom);
    EXPECT_TRUE(shownText(dom).contains(kGappy));
}

TEST_F(StatusPageE2e, aStationNamedAsMarkupShowsAsTextAndNoScriptOfItRuns)
{
    // A script of the name run as markup would hold the page on its alert: the browser would
    // be killed at its time-out and ok be false.
    const RenderedPage &fleet = page(QStringLiteral("/"), QStringLiteral("status-fleet.png"));
    ASSERT_TRUE(fleet.ok) << qPrintable(fleet.errors);
    EXPECT_FALSE(fleet.dom.contains(kMarkup)) << "the name became markup";
    const std::vector<FleetLine> lines = fleetLines(fleet.dom);
    const FleetLine *line = lineOf(lines, kMarkup);
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->text.startsWith(kMarkup)) << qPrintable(line->text);

    const RenderedPage &station = page(QStringLiteral("/station/") + kMarkup);
    ASSERT_TRUE(station.ok) << qPrintable(station.errors);
    EXPECT_FALSE(station.dom.contains(kMarkup)) << "the name became markup";
    EXPECT_TRUE(shownText(station.dom).contains(kMarkup)) << qPrintable(station.dom);
}

TEST_F(StatusPageE2e, withATokenThePageIsRefusedWithoutItAndLoadsWithIt)
{
    const QString tokenFile = scene->path("token");
    writeFileBytes(tokenFile, kToken + '\n');
    QFile::setPermissions(tokenFile, QFile::ReadOwner | QFile::WriteOwner);
    ServeProcess guarded;
    QString why;
    ASSERT_TRUE(guarded.start({"--stations", scene->path("stations.ini"), "--listen", "127.0.0.1:0",
                               "--token-file", tokenFile},
                              &why))
        << qPrintable(why);

    const RenderedPage refused = renderPage(guarded.url(QStringLiteral("/")));
    EXPECT_FALSE(refused.dom.contains(kHealthy)) << qPrintable(refused.dom);
    // With the token as the password in the address, and past the first refresh, which must
    // carry the password on as well.
    RenderOptions options;
    options.virtualTimeMs = 65000;
    const RenderedPage let = renderPage(guarded.url(QStringLiteral("/"), kToken), options);
    ASSERT_TRUE(let.ok) << qPrintable(let.errors);
    EXPECT_EQ(fleetLines(let.dom).size(), 5u) << qPrintable(let.dom);
    EXPECT_TRUE(let.dom.contains("Updated ")) << "the refresh was refused";
}
