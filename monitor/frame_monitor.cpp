#include "frame_monitor.h"

#include "monitor/frame_reading.h"
#include "platform/save_file.h"
#include "platform/clock.h"

#include <QBrush>
#include <QColor>
#include <QFontDatabase>
#include <cmath>

namespace ostrand {
namespace {

QString timeStamp(double secondsSinceMidnight)
{
    const qint64 ms = std::llround(secondsSinceMidnight * 1000) % 86'400'000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3'600'000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60'000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// A long block's hex as a tooltip: sixteen bytes a line, as a hex dump reads.
QString wrappedHex(const QByteArray &frame)
{
    QStringList lines;
    for (int at = 0; at < frame.size(); at += 16)
        lines << frameHex(frame.mid(at, 16));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

bool MonitorCounters::operator==(const MonitorCounters &o) const
{
    return requests == o.requests && replies == o.replies && resends == o.resends &&
           timeOuts == o.timeOuts && crcErrors == o.crcErrors && portFailures == o.portFailures &&
           otherFailures == o.otherFailures;
}

QString countersText(const MonitorCounters &c)
{
    QString text =
        QStringLiteral("Requests %1 · Replies %2 · Resends %3 · Time-outs %4 · CRC errors %5")
            .arg(c.requests)
            .arg(c.replies)
            .arg(c.resends)
            .arg(c.timeOuts)
            .arg(c.crcErrors);
    if (c.portFailures > 0)
        text += QStringLiteral(" · Port failures %1").arg(c.portFailures);
    if (c.otherFailures > 0)
        text += QStringLiteral(" · Other failures %1").arg(c.otherFailures);
    return text;
}

FrameMonitor::FrameMonitor(const Clock &clock, QObject *parent)
    : QAbstractTableModel(parent), clock_(clock)
{
}

int FrameMonitor::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FrameMonitor::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FrameMonitor::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const Row &row = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case Qt::ToolTipRole:
        if (index.column() == HexColumn)
            return wrappedHex(row.frame);
        // A failure's row reads in a few words; its tip says all the link knows of it.
        return row.kind == Kind::Failure ? failureText(row.failure) : reading(row);
    case Qt::FontRole:
        if (index.column() == HexColumn || index.column() == TimeColumn)
            return QFontDatabase::systemFont(QFontDatabase::FixedFont);
        return QVariant();
    case Qt::ForegroundRole:
        if (isTrouble(row))
            return QBrush(QColor(0xB0, 0x10, 0x10));
        if (row.kind == Kind::Reply || row.kind == Kind::ReplyTail)
            return QBrush(QColor(0x10, 0x50, 0x90));
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant FrameMonitor::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case DirectionColumn:
        return QStringLiteral("Direction");
    case ReadingColumn:
        return QStringLiteral("Reading");
    case HexColumn:
        return QStringLiteral("Bytes");
    default:
        return QVariant();
    }
}

void FrameMonitor::requestSent(const QByteArray &frame, bool resend)
{
    // Kept even while paused, so a reply after Resume still reads against its request.
    lastRequest_ = frame;
    if (paused_)
        return;
    ++counters_.requests;
    if (resend)
        ++counters_.resends;
    append(resend ? Kind::Resend : Kind::Request, frame, QByteArray());
}

void FrameMonitor::replyRead(const QByteArray &frame, bool crcOk)
{
    if (paused_)
        return;
    ++counters_.replies;
    // The link vouched for the CRC, yet the bytes fail it: the monitor was
    // attached while the reply was being read and saw only its end.
    const bool tail = crcOk && !frameCrcMatches(frame);
    append(tail ? Kind::ReplyTail : Kind::Reply, frame, lastRequest_);
}

void FrameMonitor::exchangeFailed(const QByteArray &request, const LinkFailure &failure)
{
    if (paused_)
        return;
    switch (failure.error) {
    case LinkError::CrcError:
        // The reply's own row already says so; a second row would double the trouble.
        ++counters_.crcErrors;
        emit countersChanged(counters_);
        return;
    case LinkError::TimedOut:
        ++counters_.timeOuts;
        break;
    case LinkError::PortNotOpen:
    case LinkError::SendFailed:
        ++counters_.portFailures;
        break;
    default:
        // A failure the link learnt to tell after this monitor was written.
        ++counters_.otherFailures;
        break;
    }
    append(Kind::Failure, QByteArray(), request, failure);
}

void FrameMonitor::append(Kind kind, const QByteArray &frame, const QByteArray &request,
                          const LinkFailure &failure)
{
    if (static_cast<int>(rows_.size()) >= rowCap_)
        dropOldest(static_cast<int>(rows_.size()) - rowCap_ + 1);
    const int at = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(Row{clock_.secondsSinceMidnight(), kind, frame, request, failure});
    endInsertRows();
    emit countersChanged(counters_);
}

void FrameMonitor::dropOldest(int count)
{
    count = std::min(count, static_cast<int>(rows_.size()));
    if (count <= 0)
        return;
    beginRemoveRows(QModelIndex(), 0, count - 1);
    rows_.erase(rows_.begin(), rows_.begin() + count);
    endRemoveRows();
    droppedRows_ += count;
}

void FrameMonitor::setRowCap(int cap)
{
    rowCap_ = std::max(1, cap);
    dropOldest(static_cast<int>(rows_.size()) - rowCap_);
}

void FrameMonitor::clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
    droppedRows_ = 0;
    counters_ = MonitorCounters();
    emit countersChanged(counters_);
}

QString FrameMonitor::reading(const Row &row) const
{
    switch (row.kind) {
    case Kind::Request:
    case Kind::Resend:
        return readRequest(row.frame);
    case Kind::Reply:
        return readReply(row.frame, row.request);
    case Kind::ReplyTail:
        return QStringLiteral("end of a reply begun before the monitor was opened");
    case Kind::Failure:
        break;
    }
    switch (row.failure.error) {
    case LinkError::PortNotOpen:
        return QStringLiteral("port would not open");
    case LinkError::CrcError:
        return QStringLiteral("reply CRC wrong");
    case LinkError::SendFailed:
    case LinkError::EchoMissing:
    case LinkError::LineEchoes:
        return failureText(row.failure);
    case LinkError::TimedOut:
        break;
    default:
        return row.request.isEmpty()
                   ? QStringLiteral("exchange failed")
                   : QStringLiteral("no usable reply to %1").arg(readRequest(row.request));
    }
    if (row.request.isEmpty())
        return QStringLiteral("time-out");
    return QStringLiteral("time-out: no reply to %1").arg(readRequest(row.request));
}

bool FrameMonitor::isTrouble(const Row &row) const
{
    return row.kind == Kind::Failure
           || (row.kind == Kind::Reply && !frameCrcMatches(row.frame)
               && !isShortAcknowledgement(row.frame, row.request));
}

QString FrameMonitor::cellText(int rowIndex, int column) const
{
    if (rowIndex < 0 || rowIndex >= rowCount())
        return QString();
    const Row &row = rows_[rowIndex];
    switch (column) {
    case TimeColumn:
        return timeStamp(row.time);
    case DirectionColumn:
        switch (row.kind) {
        case Kind::Request:
            return QStringLiteral("sent");
        case Kind::Resend:
            return QStringLiteral("resent");
        case Kind::Reply:
        case Kind::ReplyTail:
            return QStringLiteral("received");
        case Kind::Failure:
            return QStringLiteral("failed");
        }
        return QString();
    case ReadingColumn:
        return reading(row);
    case HexColumn:
        return frameHex(row.frame);
    default:
        return QString();
    }
}

QString FrameMonitor::asText() const
{
    QString text = QStringLiteral("Ostrand Download communication monitor\n");
    text += countersText(counters_) + QLatin1Char('\n');
    text += QStringLiteral("Frames: %1").arg(rows_.size());
    if (droppedRows_ > 0)
        text += QStringLiteral(" (the %1 oldest dropped)").arg(droppedRows_);
    text += QStringLiteral("\n\n");
    for (int row = 0; row < rowCount(); ++row) {
        QString line = cellText(row, TimeColumn) + QStringLiteral("  ") +
                       cellText(row, DirectionColumn).leftJustified(9) +
                       cellText(row, ReadingColumn);
        const QString hex = cellText(row, HexColumn);
        if (!hex.isEmpty())
            line += QStringLiteral("  [") + hex + QLatin1Char(']');
        text += line + QLatin1Char('\n');
    }
    return text;
}

bool FrameMonitor::saveAsText(const QString &path, QString *error) const
{
    return saveFile(path, asText().toUtf8(), error);
}

} // namespace ostrand
