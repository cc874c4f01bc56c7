#include "fleet_page.h"

#include "store/time_text.h"
#include "web/html_escape.h"

namespace ostrand::web {
namespace {

QString esc(const QString &text)
{
    return htmlEscaped(text);
}

QString timeCell(const std::optional<QDateTime> &time)
{
    return time && time->isValid() ? esc(collect::utcText(*time)) : QStringLiteral("<span class=\"muted\">never</span>");
}

// The cells are most of a fleet's page: written by appending, not by
// formatting, and only a cell with something to say carries a title.
QString hourBar(const FleetRow &row)
{
    QString out = QStringLiteral("<span class=\"bar\">");
    for (const HourCell &cell : row.hours) {
        out += QLatin1String("<i class=\"h-") + hourStateName(cell.state);
        if (cell.attempts > 0)
            out += QLatin1String("\" title=\"") + collect::utcText(cell.startUtc).mid(11, 5)
                   + QLatin1String(" UTC: ") + QString::number(cell.attempts) + QLatin1String(" attempts, ")
                   + QString::number(cell.failures) + QLatin1String(" failed");
        out += QLatin1String("\"></i>");
    }
    return out + QStringLiteral("</span> %1 attempts, %2 failed").arg(row.health.attempts).arg(row.health.failures);
}

QLatin1String dayClass(const DayCell &day)
{
    if (day.instants == 0)
        return QLatin1String("d-missing");
    return day.whole ? QLatin1String("d-whole") : QLatin1String("d-part");
}

QString dayTitle(const DayCell &day)
{
    const QString date = day.date.toString(Qt::ISODate);
    if (day.instants == 0)
        return date + QLatin1String(": no readings");
    if (day.expected == 0)
        return date + QLatin1String(": ") + QString::number(day.instants) + QLatin1String(" instants, interval not known");
    return date + QLatin1String(": ") + QString::number(day.instants) + QLatin1String(" of ")
           + QString::number(day.expected) + QLatin1String(" instants");
}

QString strip(const FleetRow &row)
{
    if (!row.dayCountsKept)
        return QStringLiteral("<span class=\"muted\">no day counts in the store (one older than this version keeps none)</span>");
    QString out = QStringLiteral("<span class=\"strip\"");
    if (!row.days.empty())
        out += QLatin1String(" title=\"") + row.days.front().date.toString(Qt::ISODate) + QLatin1String(" to ")
               + row.days.back().date.toString(Qt::ISODate) + u'"';
    out += u'>';
    int short_ = 0;
    int missing = 0;
    for (const DayCell &day : row.days) {
        out += QLatin1String("<i class=\"") + dayClass(day);
        if (!day.whole)
            out += QLatin1String("\" title=\"") + dayTitle(day);
        out += QLatin1String("\"></i>");
        short_ += day.instants > 0 && !day.whole;
        missing += day.instants == 0;
    }
    return out + QStringLiteral("</span> %1 short, %2 missing").arg(short_).arg(missing);
}

QString rowHtml(const FleetRow &row)
{
    const collect::StationHealth &h = row.health;
    const QString state = collect::stateName(h.state);
    const QString age = h.lastOkUtc ? QStringLiteral(" <span class=\"muted\">(%1 ago)</span>").arg(ageText(h.ageSeconds))
                                    : QString();
    const QString connection = connectionText(h);
    return QStringLiteral("<tr data-name=\"%1\" data-state=\"%2\">"
                          "<td><a href=\"/station/%3\">%4</a></td>"
                          "<td><span class=\"state s-%2\">%2</span></td>"
                          "<td>%5%6</td><td>%7</td><td class=\"err\">%8</td><td>%9</td><td>%10</td><td>%11</td></tr>\n")
        .arg(esc(row.stationName), esc(state), esc(pathSegment(row.stationName)), esc(row.stationName),
             timeCell(h.lastOkUtc), age, timeCell(row.lastReadingUtc), esc(h.lastError),
             connection.isEmpty() ? QString() : esc(connection), hourBar(row), strip(row));
}

// Redraws the table from /api/stations every minute, with the same marks the
// server draws; every text goes in as text, never as markup.
const char kScript[] = R"JS(
(function () {
  var body = document.getElementById('rows');
  var nameBox = document.getElementById('name-filter');
  var stateBox = document.getElementById('state-filter');
  var stamp = document.getElementById('updated');
  function filter() {
    var want = nameBox.value.toLowerCase(), state = stateBox.value, shown = 0;
    Array.prototype.forEach.call(body.rows, function (tr) {
      var on = tr.dataset.name.toLowerCase().indexOf(want) >= 0 && (!state || tr.dataset.state === state);
      tr.hidden = !on;
      if (on) shown++;
    });
    document.getElementById('shown').textContent = shown + ' of ' + body.rows.length + ' shown';
  }
  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = text;
    return e;
  }
  function age(s) {
    if (s < 3600) return Math.round(s / 60) + ' min';
    if (s < 2 * 86400) return (s / 3600).toFixed(1) + ' h';
    return (s / 86400).toFixed(1) + ' d';
  }
  function timeCell(td, t) {
    if (t) td.appendChild(document.createTextNode(t)); else td.appendChild(el('span', 'muted', 'never'));
  }
  function row(s) {
    var tr = document.createElement('tr');
    tr.dataset.name = s.name;
    tr.dataset.state = s.state;
    var td = el('td'), a = el('a', null, s.name);
    a.href = '/station/' + encodeURIComponent(s.name);
    td.appendChild(a); tr.appendChild(td);
    td = el('td'); td.appendChild(el('span', 'state s-' + s.state, s.state)); tr.appendChild(td);
    td = el('td'); timeCell(td, s.last_success);
    if (s.last_success) td.appendChild(el('span', 'muted', ' (' + age(s.age_seconds) + ' ago)'));
    tr.appendChild(td);
    td = el('td'); timeCell(td, s.last_reading); tr.appendChild(td);
    tr.appendChild(el('td', 'err', s.last_error || ''));
    tr.appendChild(el('td', null, s.connection || ''));
    td = el('td'); var bar = el('span', 'bar');
    s.hours.forEach(function (h) {
      var i = el('i', 'h-' + h.state);
      if (h.attempts > 0) i.title = h.start.substr(11, 5) + ' UTC: ' + h.attempts + ' attempts, ' + h.failures + ' failed';
      bar.appendChild(i);
    });
    td.appendChild(bar);
    td.appendChild(document.createTextNode(' ' + s.attempts_24h + ' attempts, ' + s.failures_24h + ' failed'));
    tr.appendChild(td);
    td = el('td');
    if (!s.day_counts_kept) {
      td.appendChild(el('span', 'muted', "no day counts in the store (one older than this version keeps none)"));
    } else {
      var strip = el('span', 'strip'), shortDays = 0, missing = 0;
      if (s.days.length) strip.title = s.days[0].date + ' to ' + s.days[s.days.length - 1].date;
      s.days.forEach(function (d) {
        var cls = d.instants === 0 ? 'd-missing' : (d.whole ? 'd-whole' : 'd-part');
        var i = el('i', cls);
        if (!d.whole) i.title = d.date + ': ' + (d.instants === 0 ? 'no readings'
          : (d.expected === 0 ? d.instants + ' instants, interval not known' : d.instants + ' of ' + d.expected + ' instants'));
        if (d.instants === 0) missing++; else if (!d.whole) shortDays++;
        strip.appendChild(i);
      });
      td.appendChild(strip);
      td.appendChild(document.createTextNode(' ' + shortDays + ' short, ' + missing + ' missing'));
    }
    tr.appendChild(td);
    return tr;
  }
  function refresh() {
    fetch('/api/stations', {cache: 'no-store', credentials: 'same-origin'})
      .then(function (r) { if (!r.ok) throw new Error(r.status + ' ' + r.statusText); return r.json(); })
      .then(function (data) {
        var fresh = document.createElement('tbody');
        fresh.id = 'rows';
        data.stations.forEach(function (s) { fresh.appendChild(row(s)); });
        body.parentNode.replaceChild(fresh, body);
        body = fresh;
        stamp.textContent = 'Updated ' + data.now;
        stamp.className = 'muted';
        filter();
      })
      .catch(function (e) {
        stamp.textContent = 'Not updated since the last refresh: ' + e.message;
        stamp.className = 'err';
      });
  }
  nameBox.addEventListener('input', filter);
  stateBox.addEventListener('change', filter);
  filter();
  setInterval(refresh, 60000);
})();
)JS";

} // namespace

QString ageText(qint64 seconds)
{
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(qRound(seconds / 60.0));
    if (seconds < 2 * 86400)
        return QStringLiteral("%1 h").arg(seconds / 3600.0, 0, 'f', 1);
    return QStringLiteral("%1 d").arg(seconds / 86400.0, 0, 'f', 1);
}

QByteArray fleetPage(const std::vector<FleetRow> &rows, const QDateTime &nowUtc)
{
    QString body;
    body.reserve(int(rows.size()) * 6000 + 8000);
    body += QStringLiteral(
        "<h1>The fleet</h1>\n<p><label>Name <input id=\"name-filter\" type=\"search\"></label> "
        "<label>State <select id=\"state-filter\"><option value=\"\">all</option><option>Stale</option>"
        "<option>Failing</option><option>Late</option><option>OK</option></select></label> "
        "<span id=\"shown\" class=\"muted\"></span> <span id=\"updated\" class=\"muted\">Drawn %1</span></p>\n"
        "<p class=\"legend muted\">Last 24 h:<i class=\"h-ok\"></i>collected<i class=\"h-failed\"></i>failed"
        "<i class=\"h-none\"></i>no attempt. Last 90 days:<i class=\"d-whole\"></i>whole"
        "<i class=\"d-part\"></i>short of an interval or more<i class=\"d-missing\"></i>no readings</p>\n"
        "<table><thead><tr><th>Station</th><th>State</th><th>Last success</th><th>Last reading</th>"
        "<th>Last error</th><th>Call-in</th><th>Last 24 h</th><th>Last 90 days</th></tr></thead>\n<tbody id=\"rows\">\n")
                .arg(esc(collect::utcText(nowUtc)));
    for (const FleetRow &row : rows)
        body += rowHtml(row);
    body += QStringLiteral("</tbody></table>\n<script>");
    QByteArray page = pageHead(QStringLiteral("Fleet status"));
    page.reserve(page.size() + body.size() * 2 + int(sizeof kScript) + 32);
    page += body.toUtf8();
    page += kScript;
    page += "</script></body></html>\n";
    return page;
}

} // namespace ostrand::web
