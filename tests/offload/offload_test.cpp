// Keeping a log in a folder: it goes into a new file; whatever stands at its
// name stays as it was, and what was found there is told apart, with the
// system's reason where there is one.
#include "offload.h"
#include "watch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using Result = Keeping::Result;

TEST(Offload, KeepsALogAsANewFileOnly) {
    const std::vector<std::string> lines = {"first log", std::string("x\0\xE9", 3)};
    const QByteArray bytes("first log\r\nx\0\xE9\r\n", 16);
    enum Before { kNothing, kSame, kOther, kFolder, kNoFolder, kPipe };
    // What stands at the name before, the result, the name's bytes after
    // (empty: no file).
    const std::tuple<Before, Result, QByteArray> cases[] = {
        {kNothing, Result::Saved, bytes},  {kSame, Result::AlreadyThere, bytes}, {kOther, Result::OtherContent, "kept"},
        {kFolder, Result::Unreadable, ""}, {kNoFolder, Result::Failed, ""},
#ifndef _WIN32
        {kPipe, Result::Unreadable, ""},  // opened, it would wait for a writer for ever
#endif
    };
    for (const auto& [before, result, after] : cases) {
        SCOPED_TRACE(before);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(before == kNoFolder ? "none/x.log" : "x.log");
        QFile file(path);
        if (before == kSame || before == kOther) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(before == kSame ? bytes : "kept") > 0);
            file.close();
        }
        ASSERT_TRUE(before != kFolder || QDir(tmp.path()).mkdir("x.log"));
#ifndef _WIN32
        ASSERT_TRUE(before != kPipe || ::mkfifo(path.toLocal8Bit().constData(), 0600) == 0);
#endif
        const Keeping k = KeepNew(path, lines);
        EXPECT_EQ(k.result, result);
        EXPECT_EQ(k.error.empty(), result != Result::Unreadable && result != Result::Failed) << k.error;
        if (before != kPipe) {
            EXPECT_EQ(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), after);
        }
    }
}

}  // namespace

// A serial number from the scan becomes one folder inside DIR, whatever it
// holds: never a path out of DIR, never DIR itself.
TEST(Offload, ALoggersFolderIsOneNameInsideTheFolder) {
    const std::pair<std::string, QString> cases[] = {
        {"FT5ZJ1AB", "FT5ZJ1AB"}, {"", "no-serial"},       {"..", "__"},    {".", "_"},
        {"a/../b", "a_.._b"},     {"C:\\x y", "C__x_y"},   {"é", "__"},     {"v1.2-x_y", "v1.2-x_y"},
    };
    for (const auto& [serial, name] : cases) {
        SCOPED_TRACE(serial);
        EXPECT_EQ(LoggerFolder("/logs", serial), "/logs/" + name);
    }
}
