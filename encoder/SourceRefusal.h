#pragma once

#include "encoder/PublishTarget.h"

#include <QByteArrayView>
#include <QString>
#include <chrono>
#include <sys/socket.h>
#include <vector>

namespace zv {

class TlsPolicy;

// Why a streaming server refused our source. libshout reports a wrong password and a publishing point
// in use alike ("Login failed"); only the server's own answer tells them apart.
struct SourceRefusal {
    enum class Kind {
        Unknown, // no answer, or the server now takes the source after all
        WrongPassword, // 401: the source user or password
        MountInUse, // 403 "Mountpoint in use"
        Other, // any other refusal; `serverText` holds what the server said
    };
    Kind kind = Kind::Unknown;
    QString serverText; // printable ASCII only, at most 100 characters
};

// Classifies a server's answer to a source request: status line, headers and body as received.
SourceRefusal ClassifySourceAnswer(QByteArrayView answer);

// Asks the server again, on a connection of its own, for the source the target describes, reads its
// answer and closes at once (a server that accepts this time gets an empty source that ends at once).
// With TLS (`tls` not null) the question goes only to a server whose certificate the policy accepts.
// Tries the addresses in order; gives up after `timeout` in all. Blocks its thread for that long at most.
SourceRefusal AskWhySourceRefused(const std::vector<sockaddr_storage>& addresses, const PublishTarget& target,
    const TlsPolicy* tls, std::chrono::milliseconds timeout);

} // namespace zv
