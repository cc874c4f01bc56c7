#include "fleet_page.h"

#include "store/time_text.h"
#include "web/html_escape.h"

namespace ostrand::web {
namespace {

// The page is written as UTF-8 bytes from the start: a fleet's page is
// megabytes, mostly the cells' fixed marks.
void addText(QByteArray &out, const QString &text)
{
    out += htmlEscaped(text).toUtf8();
}

void addTime(QByteArray &out, const std::optional<QDateTime> &time)
{
    if (time && time->isValid())
        collect::appendUtcText(out, *time);
    else
        out += "<span class=\"muted\">never</span>";
}

// Only an hour with attempts carries a title.
void addHourBar(QByteArray &out, const FleetRow &row)
{
    out += "<span class=\"bar\">";
    for (const HourCell &cell : row.hours) {
        out += "<i class=\"h-";
        out += hourStateName(cell.state).toLatin1();
        if (cell.attempts > 0) {
            QByteArray start;
            collect::appendUtcText(start, cell.startUtc);
            out += "\" title=\"" + start.mid(11, 5) + " UTC: " + QByteArray::number(cell.attempts) +
                   " attempts, " + QByteArray::number(cell.failures) + " failed";
        }
        out += "\"></i>";
    }
    out += "</span> " + QByteArray::number(row.health.attempts) + " attempts, " +
           QByteArray::number(row.health.failures) + " failed";
}

const char *dayClass(const DayCell &day)
{
    if (day.instants == 0)
        return "d-missing";
    return day.whole ? "d-whole" : "d-part";
}

void addDayTitle(QByteArray &out, const DayCell &day)
{
    appendIsoDate(out, day.date);
    if (day.instants == 0) {
        out += ": no readings";
    } else if (day.expected == 0) {
        out += ": " + QByteArray::number(day.instants) + " instants, interval not known";
    } else {
        out += ": ";
        out += QByteArray::number(day.instants);
        out += " of ";
        out += QByteArray::number(day.expected);
        out += " instants";
    }
}

void addStrip(QByteArray &out, const FleetRow &row)
{
    if (!row.dayCountsKept) {
        out += "<span class=\"muted\">no day counts in the store (one older than this version "
               "keeps none)</span>";
        return;
    }
    out += "<span class=\"strip\"";
    if (!row.days.empty())
        out += " title=\"" + row.days.front().date.toString(Qt::ISODate).toLatin1() + " to " +
               row.days.back().date.toString(Qt::ISODate).toLatin1() + '"';
    out += '>';
    int short_ = 0;
    int missing = 0;
    for (const DayCell &day : row.days) {
        out += "<i class=\"";
        out += dayClass(day);
        out += "\" title=\"";
        addDayTitle(out, day);
        out += "\"></i>";
        short_ += day.instants > 0 && !day.whole;
        missing += day.instants == 0;
    }
    out += "</span> " + QByteArray::number(short_) + " short, " + QByteArray::number(missing) +
           " missing";
}

void addRow(QByteArray &out, const FleetRow &row)
{
    const collect::StationHealth &h = row.health;
    const QByteArray state = htmlEscaped(collect::stateName(h.state)).toUtf8();
    out += "<tr data-name=\"";
    addText(out, row.stationName);
    out += "\" data-state=\"" + state + "\"><td><a href=\"/station/";
    addText(out, pathSegment(row.stationName));
    out += "\">";
    addText(out, row.stationName);
    out += "</a></td><td><span class=\"state s-" + state + "\">" + state + "</span></td><td>";
    addTime(out, h.lastOkUtc);
    if (h.lastOkUtc) {
        out += " <span class=\"muted\">(";
        out += ageText(h.ageSeconds).toUtf8();
        out += " ago)</span>";
    }
    out += "</td><td>";
    addTime(out, row.lastReadingUtc);
    out += "</td><td class=\"err\">";
    addText(out, h.lastError);
    out += "</td><td>";
    addText(out, connectionText(h));
    out += "</td><td>";
    addHourBar(out, row);
    out += "</td><td>";
    addStrip(out, row);
    out += "</td></tr>\n";
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
        i.title = d.date + ': ' + (d.instants === 0 ? 'no readings'
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
    QByteArray page = pageHead(QStringLiteral("Fleet status"));
    page.reserve(int(rows.size()) * 5000 + 16000);
    page +=
        "<h1>The fleet</h1>\n<p><label>Name <input id=\"name-filter\" type=\"search\"></label> "
        "<label>State <select id=\"state-filter\"><option "
        "value=\"\">all</option><option>Stale</option>"
        "<option>Failing</option><option>Late</option><option>OK</option></select></label> "
        "<span id=\"shown\" class=\"muted\"></span> <span id=\"updated\" class=\"muted\">Drawn ";
    collect::appendUtcText(page, nowUtc);
    page +=
        "</span></p>\n"
        "<p class=\"legend muted\">Last 24 h:<i class=\"h-ok\"></i>collected<i "
        "class=\"h-failed\"></i>failed"
        "<i class=\"h-none\"></i>no attempt. Last 90 days:<i class=\"d-whole\"></i>whole"
        "<i class=\"d-part\"></i>short of an interval or more<i class=\"d-missing\"></i>no "
        "readings</p>\n"
        "<table><thead><tr><th>Station</th><th>State</th><th>Last success</th><th>Last reading</th>"
        "<th>Last error</th><th>Call-in</th><th>Last 24 h</th><th>Last 90 "
        "days</th></tr></thead>\n<tbody id=\"rows\">\n";
    for (const FleetRow &row : rows)
        addRow(page, row);
    page += "</tbody></table>\n<script>";
    page += kScript;
    page += "</script></body></html>\n";
    return page;
}

} // namespace ostrand::web
