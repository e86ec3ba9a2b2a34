#pragma once

// Built-in Portuguese captions of the hidden message labels of both windows; the windows create
// their labels with them, and translation replaces them.

#include <QString>

QString BuiltInCaption(const QString& labelName);
