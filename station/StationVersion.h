#pragma once

#include <QString>

// The application title: names the tray icon and heads the log file.
QString ApplicationTitle();
