// A log's lines into the file: the bytes of every line come out in the file
// as they went in, each line followed by CR LF, and read back as the same
// lines.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "logfile/logfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path =
        QDir::temp().filePath(QStringLiteral("krx3-fuzz-%1.log").arg(QCoreApplication::applicationPid()));
    std::vector<std::string> lines;
    std::string partial;
    for (std::size_t i = 0; i < size; ++i) {
        // Lines as the serial line brings them: a CR ends one, and no
        // line holds a CR or an LF.
        if (data[i] == '\r') {
            lines.push_back(partial);
            partial.clear();
        } else if (data[i] != '\n') {
            partial.push_back(static_cast<char>(data[i]));
        }
    }
    FUZZ_CHECK(WriteLogFile(path, lines).empty());
    QByteArray expected;
    for (const std::string& l : lines) expected.append(l.data(), static_cast<qsizetype>(l.size())).append("\r\n");
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    FUZZ_CHECK(file.readAll() == expected);
    file.close();
    QString error;
    FUZZ_CHECK(SameLogFile(path, lines, &error));
    std::vector<std::string> back;
    FUZZ_CHECK(ReadLogFile(path, &back, &error));
    // An empty file reads as no line; one line that is empty as one empty line.
    FUZZ_CHECK(back == lines || (lines.empty() && back.empty()));
    QFile::remove(path);
    return 0;
}
