#pragma once

// The base of the end-to-end tests that run the program: its folder and runtime folder, a private X
// server with a tray, how a run is started, and what is read when one fails.

#include "ProgramHarness.h"
#include "XSession.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace zv::test {

class ProgramFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Folder.isValid());
        ASSERT_TRUE(Runtime.isValid());
        QString error;
        ASSERT_TRUE(X.Start(&error)) << error.toStdString();
        ASSERT_TRUE(X.StartTray(QPoint(40, 300), 32));
    }

    // The folder's program on the private display, its output in output.txt; `wav` as the third input
    // when given.
    std::unique_ptr<Process> StartProgram(const QString& wav = QString())
    {
        return std::make_unique<Process>(QStringList { Folder.filePath(QStringLiteral("ZoVeva")) },
            ProgramEnvironment(X.DisplayName(), Runtime.path(), wav),
            Folder.filePath(QStringLiteral("output.txt")));
    }

    QString Log() const { return ReadAnsi(Folder.filePath(QStringLiteral("ZoVeva.log"))); }

    // What the program printed and logged, for a failure's message.
    std::string Diagnostics() const
    {
        return QStringLiteral("\n--- program output\n%1\n--- ZoVeva.log\n%2\n--- zoveva-encoder.log\n%3")
            .arg(ReadAnsi(Folder.filePath(QStringLiteral("output.txt"))), Log(),
                ReadAnsi(Folder.filePath(QStringLiteral("zoveva-encoder.log"))))
            .toStdString();
    }

    QTemporaryDir Folder;
    QTemporaryDir Runtime;
    XSession X;
};

} // namespace zv::test
