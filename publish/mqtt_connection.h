#pragma once

#include "collect/stations_file.h"

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace ostrand::publish {

// A session with one broker over Paho's synchronous client, at QoS 1, with a
// few messages in flight at once; every wait is bounded.
class MqttConnection {
public:
    MqttConnection();
    ~MqttConnection();
    MqttConnection(const MqttConnection &) = delete;
    MqttConnection &operator=(const MqttConnection &) = delete;

    // Connects to the target's broker with its login and certificate
    // authority, a clean session; false with *error saying why (the broker's
    // address and its reason in words).
    bool open(const collect::PublishTarget &target, const QString &clientId, QString *error);

    // Sends a message at QoS 1; `acknowledged` is called once the broker has
    // taken it (its PUBACK), from within send or drain. False with *error when
    // the session is gone: what was not acknowledged stays unacknowledged.
    bool send(const QString &topic, const QByteArray &payload, bool retained, std::function<void()> acknowledged,
              QString *error);
    // Waits for every message sent to be acknowledged.
    bool drain(QString *error);

    // "mqtt://HOST:PORT" as messages name the broker.
    QString brokerName() const { return m_name; }

    // What the client's own thread tells: the broker's acknowledgements and a lost connection.
    struct Events {
        std::mutex mutex;
        std::condition_variable changed;
        std::set<int> acknowledged; // tokens
        bool lost = false;
    };

private:
    bool waitOldest(QString *error);
    void settle();
    void failed(const QString &why, QString *error);
    QString reason(int code) const;

    void *m_client = nullptr;
    bool m_connected = false;
    QString m_name;
    struct InFlight {
        int token;
        std::function<void()> acknowledged;
    };
    std::deque<InFlight> m_inFlight;
    Events m_events;
};

// The broker's address Paho takes ("tcp://HOST:PORT", "ssl://HOST:PORT") for
// mqtt:// and mqtts:// (ports 1883 and 8883 unless given); empty with
// *problem set for any other.
QString pahoAddress(const QString &url, QString *problem);

// The password of the target's password file, trimmed; a file any user of
// the machine can read is refused. Empty and no problem with no file.
QByteArray brokerPassword(const collect::PublishTarget &target, QString *problem);

} // namespace ostrand::publish
