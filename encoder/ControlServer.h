#pragma once

#include "encoder/EncoderProtocol.h"

#include <QObject>

class QSocketNotifier;

namespace zv {

class EncoderService;

// Answers the client's requests arriving on a socket descriptor, one reply per request. The end of
// that socket means the client released this encoder (or died): `closed` is emitted once.
class ControlServer : public QObject {
    Q_OBJECT
public:
    ControlServer(int fd, EncoderService& service, QObject* parent = nullptr);
    ~ControlServer() override;

signals:
    void closed();

private:
    void OnReadable();
    protocol::Reply Handle(const protocol::Request& request);
    void Close();

    int fd_;
    EncoderService& service_;
    QSocketNotifier* notifier_;
    protocol::FrameReader reader_;
    bool closed_ = false;
};

} // namespace zv
