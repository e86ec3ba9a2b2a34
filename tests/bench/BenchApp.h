#pragma once

// Every benchmark shares the one QApplication that main makes before the first runs: Qt allows one
// application object per process and widgets need the widget kind, so no benchmark makes its own.
// True when it is there.
bool HaveWidgetApplication();
