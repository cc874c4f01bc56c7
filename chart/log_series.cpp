#include "log_series.h"

#include "table/grid_layout.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QStringView>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace ostrand {
namespace {

// Reads the fields of a stamp left to right; any failure sticks.
class StampCursor {
public:
    explicit StampCursor(QStringView text) : text_(text.trimmed()) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ >= text_.size(); }

    // A run of `minDigits` to `maxDigits` decimal digits.
    int number(int minDigits, int maxDigits)
    {
        int value = 0;
        int digits = 0;
        while (pos_ < text_.size() && digits < maxDigits && text_[pos_].isDigit()) {
            value = value * 10 + text_[pos_].digitValue();
            ++pos_;
            ++digits;
        }
        if (digits < minDigits)
            ok_ = false;
        return value;
    }

    void expect(QChar c)
    {
        if (pos_ < text_.size() && text_[pos_] == c)
            ++pos_;
        else
            ok_ = false;
    }

    bool skip(QChar c)
    {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // Blanks; whether there were any.
    bool skipBlanks()
    {
        const qsizetype start = pos_;
        while (pos_ < text_.size() && text_[pos_].isSpace())
            ++pos_;
        return pos_ > start;
    }

    // "AM" or "PM" in any case: 0 for AM, 12 for PM, -1 when neither is next.
    int meridiem()
    {
        if (text_.size() - pos_ < 2 || text_[pos_ + 1].toUpper() != QLatin1Char('M'))
            return -1;
        const QChar first = text_[pos_].toUpper();
        if (first != QLatin1Char('A') && first != QLatin1Char('P'))
            return -1;
        pos_ += 2;
        return first == QLatin1Char('P') ? 12 : 0;
    }

private:
    QStringView text_;
    qsizetype pos_ = 0;
    bool ok_ = true;
};

std::optional<QTime> parseTime(StampCursor &in)
{
    int hour = in.number(1, 2);
    in.expect(QLatin1Char(':'));
    const int minute = in.number(2, 2);
    const int second = in.skip(QLatin1Char(':')) ? in.number(2, 2) : 0;
    in.skipBlanks();
    const int meridiem = in.meridiem();
    if (!in.ok())
        return std::nullopt;
    if (meridiem >= 0) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + meridiem;
    }
    if (!QTime::isValid(hour, minute, second))
        return std::nullopt;
    return QTime(hour, minute, second);
}

} // namespace

std::optional<QDateTime> parseStampText(const QString &text)
{
    StampCursor in(text);
    const int month = in.number(1, 2);
    in.expect(QLatin1Char('/'));
    const int day = in.number(1, 2);
    in.expect(QLatin1Char('/'));
    const int year = in.number(4, 4);
    if (!in.ok() || !QDate::isValid(year, month, day))
        return std::nullopt;

    QTime time(0, 0);
    if (!in.atEnd()) {
        if (!in.skipBlanks())
            return std::nullopt;
        const std::optional<QTime> parsed = parseTime(in);
        if (!parsed || !in.atEnd())
            return std::nullopt;
        time = *parsed;
    }
    return QDateTime(QDate(year, month, day), time, Qt::UTC);
}

std::optional<double> parseValueText(const QString &text)
{
    // from_chars reads '.' whatever the locale, and a full log's half a
    // million cells go several times faster than through QLocale.
    const QStringView trimmed = QStringView(text).trimmed();
    char buffer[64];
    if (trimmed.isEmpty() || trimmed.size() > qsizetype(sizeof buffer))
        return std::nullopt;
    qsizetype length = 0;
    for (QChar c : trimmed) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        buffer[length++] = char(c.unicode());
    }
    double value = 0;
    const auto [end, error] = std::from_chars(buffer, buffer + length, value);
    if (error != std::errc() || end != buffer + length || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::vector<ChannelSeries> seriesFromGrid(const ResultsGrid &grid, const GridState &state)
{
    std::vector<ChannelSeries> result;
    for (int k = 1; k <= kChannelCount; ++k) {
        const Channel &channel = state.channel(k);
        if (!channel.inUse)
            continue;
        ChannelSeries series;
        series.channel = k;
        series.label = channel.label.trimmed();
        if (series.label.isEmpty())
            series.label = QStringLiteral("Channel %1").arg(k);
        series.unit = channel.unit();
        series.total = channel.total;
        result.push_back(std::move(series));
    }
    if (result.empty())
        return result;

    const int lastRow = std::min(state.lastGridRow, grid.rows() - 1);
    for (int row = kFirstDataRow; row <= lastRow; ++row) {
        const std::optional<QDateTime> stamp = parseStampText(grid.text(row, kStampCol));
        if (!stamp)
            continue;
        const double x = double(stamp->toMSecsSinceEpoch());
        for (ChannelSeries &series : result) {
            if (const std::optional<double> y =
                    parseValueText(grid.text(row, channelCol(series.channel))))
                series.points.emplace_back(x, *y);
        }
    }

    // A meter whose clock was set back logs later rows with earlier stamps; a
    // time axis needs them in time order.
    for (ChannelSeries &series : result) {
        std::stable_sort(series.points.begin(), series.points.end(),
                         [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    }
    return result;
}

std::vector<QPointF> downsampleMinMax(const std::vector<QPointF> &points, double fromX, double toX,
                                      int buckets)
{
    const auto byX = [](const QPointF &p, double x) { return p.x() < x; };
    const auto xBefore = [](double x, const QPointF &p) { return x < p.x(); };
    auto first = std::lower_bound(points.begin(), points.end(), fromX, byX);
    auto last = std::upper_bound(first, points.end(), toX, xBefore);
    const std::ptrdiff_t inside = last - first;
    if (first != points.begin())
        --first;
    if (last != points.end())
        ++last;

    buckets = std::max(buckets, 1);
    if (inside <= 4 * std::ptrdiff_t(buckets) || !(toX > fromX))
        return std::vector<QPointF>(first, last);

    std::vector<QPointF> out;
    out.reserve(4 * std::size_t(buckets) + 2);
    const double width = (toX - fromX) / buckets;
    auto bucketOf = [&](const QPointF &p) {
        return std::clamp(int((p.x() - fromX) / width), 0, buckets - 1);
    };
    // The outside neighbours fall into the first and last buckets, where
    // they are kept as those buckets' first and last points.
    auto it = first;
    while (it != last) {
        const int bucket = bucketOf(*it);
        auto begin = it;
        auto low = it;
        auto high = it;
        for (; it != last && bucketOf(*it) == bucket; ++it) {
            if (it->y() < low->y())
                low = it;
            if (it->y() > high->y())
                high = it;
        }
        // Positions rather than iterators: sorted and compared as plain numbers.
        std::array<std::ptrdiff_t, 4> picks{begin - points.begin(), low - points.begin(),
                                            high - points.begin(), (it - 1) - points.begin()};
        std::sort(picks.begin(), picks.end());
        for (std::size_t i = 0; i < picks.size(); ++i) {
            if (i == 0 || picks[i] != picks[i - 1])
                out.push_back(points[static_cast<std::size_t>(picks[i])]);
        }
    }
    return out;
}

std::vector<QPointF>::const_iterator nearestByTime(const std::vector<QPointF> &points, double x)
{
    auto next = std::lower_bound(points.begin(), points.end(), x,
                                 [](const QPointF &p, double at) { return p.x() < at; });
    if (next == points.end() || (next != points.begin() && x - (next - 1)->x() < next->x() - x))
        --next;
    return next;
}

} // namespace ostrand
