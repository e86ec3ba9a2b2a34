#pragma once

#include <QString>

namespace zv {

// Where and how a source stream is published: the server, the mount's credentials, the station's
// details and the stream's format. Both the publisher and the question why a source was refused use it.
struct PublishTarget {
    QString host;
    quint16 port = 8000;
    QString user;
    QString password;
    QString mount;
    QString name;
    QString genre;
    QString description;
    // Icecast takes the name, genre and description of an MP3 source as ISO-8859-1 unless its mount is
    // configured otherwise; UTF-8 bytes would show garbled in its status pages and directory listings.
    // Sent as ISO-8859-1, what that encoding lacks goes as its nearest Latin-1 text. Song titles always
    // go as UTF-8: their update names its character set.
    bool metadataUtf8 = false;
    // TLS to the server, its certificate checked against the CA file's authorities (empty: the
    // system's). Never a plain connection instead.
    bool tls = false;
    QString tlsCaFile;
    int kbps = 0;
    int sampleRate = 0;
    int channels = 2;
};

} // namespace zv
