#pragma once

#include <halvik/simulateddevice.h>
#include <halvik/vantorctl/vantorctl.h>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace halvik::vantorctl::test {

/// What one vantorctl run gave.
struct Outcome
{
    int exit = -1;
    std::string out;
    std::string err;

    std::vector<std::string> outLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

/// Runs vantorctl in-process, as the program's main does.
inline Outcome vantorctl(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    Outcome outcome;
    outcome.exit = run(args, out, err);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

/// 127.0.7.n: each test picks its own n, so that tests run in parallel on port 4365.
inline std::string addressOf(int n)
{
    return "127.0.7." + std::to_string(n);
}

/// A device on 127.0.7.n:4365 with exact read-back and no broadcast listener.
inline sim::DeviceOptions deviceOn(int n)
{
    sim::DeviceOptions options;
    options.address = addressOf(n);
    options.port = 4365;
    options.listenBroadcast = false;
    options.readbackNoise = 0.0;
    return options;
}

/// A text file's contents with "\n" line ends (results files have the platform's line ends).
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? file.readAll() : QByteArray();
}

/// A test in a working directory of its own, where run-path writes its results.
class CtlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(workDir.isValid());
        previousDir = QDir::currentPath();
        QDir::setCurrent(workDir.path());
    }
    void TearDown() override { QDir::setCurrent(previousDir); }

    std::string inWorkDir(const char* name) const { return workDir.filePath(name).toStdString(); }

    QTemporaryDir workDir;
    QString previousDir;
};

} // namespace halvik::vantorctl::test
