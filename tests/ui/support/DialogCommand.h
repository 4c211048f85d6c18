// Runs a command whose handler opens a modal dialog of type D: the steps
// drive the dialog, shown on the screen, in place of its event loop.
#pragma once

#include "Dialog.h"

#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <functional>

template <class D>
void RunDialogCommand(std::deque<std::function<int(CDialog&)>>& dialogs, const std::function<void()>& command,
                      const std::function<void(D&)>& steps)
{
    bool reached = false;
    dialogs.push_back([&](CDialog& d) {
        reached = true;
        auto* dialog = dynamic_cast<D*>(&d);
        EXPECT_NE(dialog, nullptr);
        if (dialog) {
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            steps(*dialog);
        }
        return int(QDialog::Rejected);
    });
    command();
    EXPECT_TRUE(reached);
    dialogs.clear();
}
