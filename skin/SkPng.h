#pragma once

#include "platform/Exception.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// A PNG picture that cannot be decoded.
ZV_DECLARE_EXCEPTION(EPngError, Exception);

namespace zv {

// Decodes a PNG file held in memory into a 32-bit picture with straight alpha (Format_ARGB32),
// whatever its colour type, depth or interlacing, with the values as stored (no gamma conversion).
// Pictures beyond 8192 x 8192 are refused.
QImage LoadPngImage(const QByteArray& data);
// The same from a file or a compiled-in resource (":/images/...").
QImage LoadPngFile(const QString& path);

} // namespace zv
