#include "network_choice.h"

#include "app/tab_widgets.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

namespace ostrand {

NetworkChoice::NetworkChoice(QWidget *parent) : QWidget(parent)
{
    addressBox_ = named(new QLineEdit, QStringLiteral("NetworkAddress"));
    addressBox_->setPlaceholderText(QStringLiteral("host:port"));
    addressBox_->setToolTip(QStringLiteral("The device server's host name or address and its TCP port; "
                                           "tcp:// or rfc2217:// in front chooses the kind too"));
    kindBox_ = named(new QComboBox, QStringLiteral("NetworkKind"));
    kindBox_->addItem(QStringLiteral("Raw TCP"));
    kindBox_->addItem(QStringLiteral("RFC 2217"));
    kindBox_->setToolTip(QStringLiteral("Raw TCP passes the frames as they are; RFC 2217 also sets the "
                                        "server's serial port to the baud rate chosen here"));
    problemLabel_ = named(new QLabel, QStringLiteral("NetworkProblem"));
    problemLabel_->setStyleSheet(QStringLiteral("QLabel { color: #B00020; }"));
    problemLabel_->setWordWrap(true);
    // Read when typed to its end (Enter, or on to another control): "127.0.0.1:9999" on the way
    // to "127.0.0.1:99999" is an address, and no exchange may go there.
    connect(addressBox_, &QLineEdit::editingFinished, this, &NetworkChoice::read);
    // The previous reading's complaint is about text no longer there.
    connect(addressBox_, &QLineEdit::textEdited, this, [this] {
        problemLabel_->clear();
        emit typed();
    });
    connect(kindBox_, &QComboBox::currentIndexChanged, this, &NetworkChoice::read);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    row->addWidget(addressBox_, 1);
    row->addWidget(kindBox_);
    layout->addLayout(row);
    layout->addWidget(problemLabel_);
}

QString NetworkChoice::text() const
{
    return addressBox_->text();
}

NetworkKind NetworkChoice::kind() const
{
    return kindBox_->currentIndex() == 1 ? NetworkKind::Rfc2217 : NetworkKind::RawTcp;
}

void NetworkChoice::restore(const QString &text, NetworkKind kind)
{
    {
        const QSignalBlocker quiet(kindBox_);
        kindBox_->setCurrentIndex(kind == NetworkKind::Rfc2217 ? 1 : 0);
    }
    addressBox_->setText(text);
    read(); // the same text as before raises no change
}

bool NetworkChoice::typedTextReads() const
{
    return !readNetworkAddress(addressBox_->text(), kind()).url.isEmpty();
}

void NetworkChoice::read()
{
    const QString typed = addressBox_->text();
    const NetworkAddress address = readNetworkAddress(typed, kind());
    // An empty box is no mistake yet, only no address.
    problemLabel_->setText(typed.trimmed().isEmpty() ? QString() : address.problem);
    addressBox_->setProperty("invalid", !address.problem.isEmpty() && !typed.trimmed().isEmpty());
    if (address.url.isEmpty() || address.url == url_)
        return;
    // A scheme typed in the box chooses the kind as well.
    if (address.kind != kind()) {
        const QSignalBlocker quiet(kindBox_);
        kindBox_->setCurrentIndex(address.kind == NetworkKind::Rfc2217 ? 1 : 0);
    }
    url_ = address.url;
    emit urlChanged();
}

} // namespace ostrand
