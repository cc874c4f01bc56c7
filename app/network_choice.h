#pragma once

#include "app/network_address.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

namespace ostrand {

// The device server the "Network" port choice leads to: its host:port, raw
// TCP or RFC 2217, and what is wrong with the address typed, beside the box.
// The address is read when typing ends (Enter, or leaving the box), never
// halfway; one that does not read is refused and the last good one stays in use.
class NetworkChoice : public QWidget {
    Q_OBJECT
public:
    explicit NetworkChoice(QWidget *parent = nullptr);

    // "tcp://HOST:PORT" or "rfc2217://HOST:PORT", the last good one; empty before any.
    QString url() const { return url_; }
    // As typed and as chosen, for keeping.
    QString text() const;
    NetworkKind kind() const;
    void restore(const QString &text, NetworkKind kind);
    // Whether the text as typed so far would read as an address; nothing is taken from it yet.
    bool typedTextReads() const;

signals:
    void urlChanged();
    // The text was edited; it is read only when the editing ends.
    void typed();

private:
    void read();

    QComboBox *kindBox_ = nullptr;
    QLineEdit *addressBox_ = nullptr;
    QLabel *problemLabel_ = nullptr;
    QString url_;
};

} // namespace ostrand
