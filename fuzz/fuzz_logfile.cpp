// A log's lines into the file: the bytes of every line come out in the file
// as they went in, each line followed by CR LF, and read back as the same
// lines.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "logfile/logfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path =
        QDir::temp().filePath(QStringLiteral("krx3-fuzz-%1.log").arg(QCoreApplication::applicationPid()));
    // Lines as the serial line brings them: a CR ends one, an LF is dropped,
    // and no line holds a CR or an LF.
    std::string text(reinterpret_cast<const char*>(data), size);
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line, '\r');) lines.push_back(line);
    if (!text.empty() && text.back() != '\r') lines.pop_back();  // not ended
    FUZZ_CHECK(WriteLogFile(path, lines).empty());
    QByteArray expected;
    for (const std::string& l : lines) expected.append(l.data(), static_cast<qsizetype>(l.size())).append("\r\n");
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly) && file.readAll() == expected);
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
