#pragma once

#include "link/link_observer.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QString>
#include <deque>

namespace ostrand {

class Clock;

// How the exchanges on the link went since the monitor was last cleared.
struct MonitorCounters {
    int requests = 0;      // request frames sent, resends included
    int replies = 0;       // replies read, right or wrong
    int resends = 0;       // requests that repeated the one before
    int timeOuts = 0;      // exchanges that gave up waiting
    int crcErrors = 0;     // exchanges whose reply failed its CRC
    int portFailures = 0;  // exchanges whose port would not open or take the request
    int otherFailures = 0; // exchanges that failed any other way

    bool operator==(const MonitorCounters &other) const;
    bool operator!=(const MonitorCounters &other) const { return !(*this == other); }
};

// "Requests 12 · Replies 11 · Resends 1 · Time-outs 1 · CRC errors 0"
QString countersText(const MonitorCounters &counters);

// Every frame on the link as a table (time, direction, reading, hex) with the
// counters; attach it to the link with MeterLink::setObserver. Recording is an
// append of the bytes: readings and hex are made only when a row is looked at,
// so watching costs a download almost nothing.
class FrameMonitor : public QAbstractTableModel, public LinkObserver {
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, ReadingColumn, HexColumn, ColumnCount };
    // Enough for a whole download of the largest log several times over.
    static constexpr int kDefaultRowCap = 20000;

    // Time stamps come from `clock`, which must outlive the monitor.
    explicit FrameMonitor(const Clock &clock, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void requestSent(const QByteArray &frame, bool resend) override;
    void replyRead(const QByteArray &frame, bool crcOk) override;
    void exchangeFailed(const QByteArray &request, const LinkFailure &failure) override;

    // While paused nothing is recorded or counted.
    void setPaused(bool paused) { paused_ = paused; }
    bool isPaused() const { return paused_; }
    // Forgets every row and zeroes the counters.
    void clear();

    // Rows beyond `cap` push out the oldest; a smaller cap drops the excess at once.
    void setRowCap(int cap);
    int rowCap() const { return rowCap_; }
    // Rows pushed out by the cap since the last clear.
    int droppedRows() const { return droppedRows_; }

    const MonitorCounters &counters() const { return counters_; }

    // One cell as shown.
    QString cellText(int row, int column) const;
    // The whole record for a support request: a header with the counters, then a line a frame.
    QString asText() const;
    // Writes asText() to `path` (UTF-8, replacing it whole); false with *error set on failure.
    bool saveAsText(const QString &path, QString *error = nullptr) const;

signals:
    void countersChanged(const ostrand::MonitorCounters &counters);

private:
    enum class Kind { Request, Resend, Reply, ReplyTail, Failure };
    struct Row {
        double time;
        Kind kind;
        QByteArray frame;
        QByteArray
            request; // for a reply, the request it answers; for a failure, the one that failed
        LinkFailure failure; // for a failure row
    };

    void append(Kind kind, const QByteArray &frame, const QByteArray &request,
                const LinkFailure &failure = LinkFailure());
    void dropOldest(int count);
    QString reading(const Row &row) const;
    bool isTrouble(const Row &row) const;

    const Clock &clock_;
    std::deque<Row> rows_;
    MonitorCounters counters_;
    QByteArray lastRequest_;
    int rowCap_ = kDefaultRowCap;
    int droppedRows_ = 0;
    bool paused_ = false;
};

} // namespace ostrand

Q_DECLARE_METATYPE(ostrand::MonitorCounters)
