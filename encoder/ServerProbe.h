#pragma once

#include <QObject>
#include <QString>
#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace zv {

// Asks the streaming server for its status page at a steady pace while we publish. A server that
// stops reading our stream still takes bytes into its kernel's buffers for minutes at low bitrates,
// so only an answer proves it alive: no answer within the timeout means it is frozen. Any HTTP
// answer counts as alive; nothing of it but the status code is looked at.
class ServerProbe : public QObject {
    Q_OBJECT
public:
    struct Timing {
        std::chrono::milliseconds period { 10000 };
        std::chrono::milliseconds timeout { 10000 };
    };

    explicit ServerProbe(QObject* parent = nullptr);
    ServerProbe(Timing timing, QObject* parent);
    ~ServerProbe() override;

    void Start(const QString& host, quint16 port);
    void Stop();

signals:
    // Once per Start, with the reason.
    void unresponsive(const QString& reason);

private:
    void Ask();
    void OnHeaders();
    void OnFinished();

    Timing timing_;
    QNetworkAccessManager* network_;
    QTimer* timer_;
    QNetworkReply* reply_ = nullptr;
    QString host_;
    quint16 port_ = 0;
    bool answered_ = false;
    bool reported_ = false;
};

} // namespace zv
