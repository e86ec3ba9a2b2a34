#pragma once

#include "station/AccountBrowser.h"

#include <QWidget>

namespace test {

// No network in these tests: the account page's panel stays empty.
struct NoBrowser final : TAccountBrowser {
    explicit NoBrowser(QWidget* parent)
        : view(new QWidget(parent))
    {
    }
    QWidget* View() const override { return view; }
    void Post(const TAccountRequest&) override { }
    QWidget* view;
};

} // namespace test
