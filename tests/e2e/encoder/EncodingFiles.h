#pragma once

#include <QString>

namespace zv::test {

// Writes an encoding file as the client makes it from the template, into `folder`; returns its path.
// `broadcast`: more attributes of Broadcast, written as they stand (e.g. `Tls="1"`).
QString WriteEncodingFile(const QString& folder, const QString& user, const QString& inputSource,
    const QString& publishServer, const QString& sourcePassword, int bitrateCode = 32000,
    const QString& broadcast = {});

} // namespace zv::test
