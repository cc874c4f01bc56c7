#include "mqtt_connection.h"

#include "platform/small_file.h"

#include <MQTTClient.h>
#include <QFile>
#include <QUrl>
#include <chrono>
#include <sys/stat.h>

namespace ostrand::publish {
namespace {

constexpr int kConnectSeconds = 10;
constexpr unsigned long kAcknowledgeMs = 10000;
// Enough in flight to keep a local broker busy while the next message is made,
// few enough that a broker gone mid-way leaves little to send again.
constexpr size_t kWindow = 32;
constexpr qint64 kMaxPasswordFileBytes = 4096;

MQTTClient handle(void *client)
{
    return static_cast<MQTTClient>(client);
}

// Paho's thread calls these as the broker's packets come: an acknowledgement
// is known the moment it arrives, so a broker that goes away after taking a
// message never has it sent again for want of having been asked.
void connectionLost(void *context, char *)
{
    auto *events = static_cast<MqttConnection::Events *>(context);
    const std::lock_guard<std::mutex> lock(events->mutex);
    events->lost = true;
    events->changed.notify_all();
}

void deliveryComplete(void *context, MQTTClient_deliveryToken token)
{
    auto *events = static_cast<MqttConnection::Events *>(context);
    const std::lock_guard<std::mutex> lock(events->mutex);
    events->acknowledged.insert(token);
    events->changed.notify_all();
}

// Nothing is subscribed to; Paho wants the callback all the same.
int messageArrived(void *, char *topic, int, MQTTClient_message *message)
{
    MQTTClient_freeMessage(&message);
    MQTTClient_free(topic);
    return 1;
}

} // namespace

QString pahoAddress(const QString &url, QString *problem)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || parsed.host().isEmpty() || (scheme != u"mqtt" && scheme != u"mqtts")) {
        *problem = QStringLiteral("url takes mqtt://HOST:PORT or mqtts://HOST:PORT, not '%1'").arg(url);
        return QString();
    }
    const bool tls = scheme == u"mqtts";
    const int port = parsed.port(tls ? 8883 : 1883);
    QString host = parsed.host();
    if (host.contains(u':'))
        host = QStringLiteral("[%1]").arg(host);
    return QStringLiteral("%1://%2:%3").arg(tls ? QStringLiteral("ssl") : QStringLiteral("tcp"), host).arg(port);
}

QByteArray brokerPassword(const collect::PublishTarget &target, QString *problem)
{
    if (target.passwordFile.isEmpty())
        return QByteArray();
    const SmallFile file = readSmallFile(target.passwordFile, kMaxPasswordFileBytes);
    if (!file.check.ok()) {
        *problem = QStringLiteral("password-file: ") + file.check.problem;
        return QByteArray();
    }
    struct stat info {};
    if (::stat(QFile::encodeName(target.passwordFile).constData(), &info) != 0) {
        *problem = QStringLiteral("password-file: %1 could not be looked at").arg(target.passwordFile);
        return QByteArray();
    }
    if (info.st_mode & S_IROTH) {
        *problem = QStringLiteral("password-file: %1 can be read by every user of this machine; "
                                  "let only its owner read it (chmod 600 %1)")
                       .arg(target.passwordFile);
        return QByteArray();
    }
    const QByteArray password = file.bytes.trimmed();
    if (password.isEmpty())
        *problem = QStringLiteral("password-file: %1 is empty").arg(target.passwordFile);
    return password;
}

MqttConnection::MqttConnection() = default;

MqttConnection::~MqttConnection()
{
    if (!m_client)
        return;
    MQTTClient client = handle(m_client);
    if (m_connected)
        MQTTClient_disconnect(client, 1000);
    MQTTClient_destroy(&client);
}

QString MqttConnection::reason(int code) const
{
    // The broker's answer to the login (CONNACK), then Paho's own.
    switch (code) {
    case 1: return QStringLiteral("the broker refused the protocol version (3.1.1)");
    case 2: return QStringLiteral("the broker refused the client id");
    case 3: return QStringLiteral("the broker is unavailable");
    case 4: return QStringLiteral("the broker refused the login: bad user name or password");
    case 5: return QStringLiteral("the broker refused the login: not authorised");
    case MQTTCLIENT_FAILURE:
        return QStringLiteral("no connection (nothing listening, the connection refused or cut, "
                              "or a TLS handshake that failed)");
    case MQTTCLIENT_DISCONNECTED: return QStringLiteral("the broker closed the connection");
    default: break;
    }
    const char *text = MQTTClient_strerror(code);
    return text ? QStringLiteral("%1 (Paho %2)").arg(QString::fromUtf8(text)).arg(code)
                : QStringLiteral("Paho error %1").arg(code);
}

bool MqttConnection::open(const collect::PublishTarget &target, const QString &clientId, QString *error)
{
    m_name = target.url;
    QString problem;
    const QString address = pahoAddress(target.url, &problem);
    if (address.isEmpty()) {
        *error = problem;
        return false;
    }
    const QByteArray password = brokerPassword(target, &problem);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    const bool tls = address.startsWith(u"ssl:");
    if (tls && target.caFile.isEmpty()) {
        *error = QStringLiteral("%1: mqtts needs ca-file, the authority its certificate is checked against").arg(m_name);
        return false;
    }
    if (tls && !QFile::exists(target.caFile)) {
        *error = QStringLiteral("ca-file %1 does not exist").arg(target.caFile);
        return false;
    }
    MQTTClient client = nullptr;
    const QByteArray addressBytes = address.toUtf8();
    const QByteArray idBytes = clientId.toUtf8();
    int rc = MQTTClient_create(&client, addressBytes.constData(), idBytes.constData(), MQTTCLIENT_PERSISTENCE_NONE,
                               nullptr);
    if (rc != MQTTCLIENT_SUCCESS) {
        *error = QStringLiteral("%1: no client could be made: %2").arg(m_name, reason(rc));
        return false;
    }
    m_client = client;
    rc = MQTTClient_setCallbacks(client, &m_events, &connectionLost, &messageArrived, &deliveryComplete);
    if (rc != MQTTCLIENT_SUCCESS) {
        *error = QStringLiteral("%1: %2").arg(m_name, reason(rc));
        return false;
    }

    MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
    options.keepAliveInterval = 30;
    options.cleansession = 1;
    options.connectTimeout = kConnectSeconds;
    options.maxInflightMessages = int(kWindow) * 2;
    const QByteArray username = target.username.toUtf8();
    if (!username.isEmpty())
        options.username = username.constData();
    if (!password.isEmpty())
        options.password = password.constData();
    MQTTClient_SSLOptions ssl = MQTTClient_SSLOptions_initializer;
    const QByteArray caFile = QFile::encodeName(target.caFile);
    if (tls) {
        ssl.trustStore = caFile.constData();
        ssl.enableServerCertAuth = 1;
        ssl.verify = 1; // the certificate must name the host connected to
        options.ssl = &ssl;
    }
    rc = MQTTClient_connect(client, &options);
    if (rc != MQTTCLIENT_SUCCESS) {
        *error = QStringLiteral("%1: %2").arg(m_name, reason(rc));
        return false;
    }
    m_connected = true;
    return true;
}

bool MqttConnection::waitOldest(QString *error)
{
    const int token = m_inFlight.front().token;
    bool acknowledged = false;
    {
        std::unique_lock<std::mutex> lock(m_events.mutex);
        acknowledged = m_events.changed.wait_for(lock, std::chrono::milliseconds(kAcknowledgeMs), [&] {
            return m_events.acknowledged.count(token) > 0 || m_events.lost;
        }) && m_events.acknowledged.count(token) > 0;
        if (acknowledged)
            m_events.acknowledged.erase(token);
    }
    if (!acknowledged) {
        const bool lost = [&] {
            const std::lock_guard<std::mutex> lock(m_events.mutex);
            return m_events.lost;
        }();
        failed(lost ? QStringLiteral("%1: the connection was lost while publishing").arg(m_name)
                    : QStringLiteral("%1: no acknowledgement within %2 s").arg(m_name).arg(kAcknowledgeMs / 1000),
               error);
        return false;
    }
    InFlight oldest = std::move(m_inFlight.front());
    m_inFlight.pop_front();
    oldest.acknowledged();
    return true;
}

// Every message the broker took before it failed counts as taken, whatever
// its place in the queue.
void MqttConnection::settle()
{
    std::set<int> acknowledged;
    {
        const std::lock_guard<std::mutex> lock(m_events.mutex);
        acknowledged.swap(m_events.acknowledged);
    }
    for (InFlight &message : m_inFlight) {
        if (acknowledged.count(message.token))
            message.acknowledged();
    }
    m_inFlight.clear();
}

void MqttConnection::failed(const QString &why, QString *error)
{
    settle();
    m_connected = m_client && MQTTClient_isConnected(handle(m_client));
    *error = why;
}

bool MqttConnection::send(const QString &topic, const QByteArray &payload, bool retained,
                          std::function<void()> acknowledged, QString *error)
{
    if (!m_connected) {
        *error = QStringLiteral("%1: not connected").arg(m_name);
        return false;
    }
    while (m_inFlight.size() >= kWindow) {
        if (!waitOldest(error))
            return false;
    }
    MQTTClient_message message = MQTTClient_message_initializer;
    message.payload = const_cast<char *>(payload.constData());
    message.payloadlen = int(payload.size());
    message.qos = 1;
    message.retained = retained ? 1 : 0;
    MQTTClient_deliveryToken token = 0;
    const QByteArray topicBytes = topic.toUtf8();
    const int rc = MQTTClient_publishMessage(handle(m_client), topicBytes.constData(), &message, &token);
    if (rc != MQTTCLIENT_SUCCESS) {
        failed(QStringLiteral("%1: publishing on %2 failed: %3").arg(m_name, topic, reason(rc)), error);
        return false;
    }
    m_inFlight.push_back({token, std::move(acknowledged)});
    return true;
}

bool MqttConnection::drain(QString *error)
{
    while (!m_inFlight.empty()) {
        if (!waitOldest(error))
            return false;
    }
    return true;
}

} // namespace ostrand::publish
