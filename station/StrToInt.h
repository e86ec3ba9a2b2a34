#pragma once

// The decimal numbers the station reads from text: cfg.ini's card and control numbers, the account
// page's bitrate limit.

#include "platform/Exception.h"

#include <QString>

// A text that should hold a decimal number and does not.
ZV_DECLARE_EXCEPTION(EConvertError, Exception);

// The decimal number in `text` (blanks around it allowed); raises EConvertError otherwise, also
// when it does not fit 32 bits.
int StrToInt(const QString& text);
