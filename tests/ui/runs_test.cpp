// "List Logs", "Upload Log", "Delete Log" and "View Log" against the
// simulated device, with the dialogs answered as a user would: what the
// window shows, every way a run can fail, and closing the window during a run.
#include <QTemporaryDir>

#include <algorithm>
#include <tuple>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "catalogue/fatdss.h"
#include "gui_support.h"
#include "link/serial_os.h"
#include "logfile/logfile.h"
#include "sim/simulator.h"
#include "tests/support/platform_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using krx3sim::Behaviour;
using krx3sim::Log;
using krx3sim::Simulator;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

const std::uint32_t kAt = dos_value(2021, 2, 1, 8, 30, 0);
Log MakeLog(std::uint32_t start, std::uint32_t stop, Lines lines = {"a line"}) {
    return Log{code_of(start), code_of(stop), std::move(lines)};
}
// A 30-minute log (the bar's maximum: 1800 s / 2 = 900) and a second one.
Log FirstLog(Lines lines = {"x"}) { return MakeLog(kAt, dos_value(2021, 2, 1, 9, 0, 0), std::move(lines)); }
// A log that starts when FirstLog does and holds a line every 2 s, one at
// each end: as many as its duration leads to expect.
Log WholeLog(Lines lines) {
    const int at = 8 * 3600 + 30 * 60 + 2 * std::max(static_cast<int>(lines.size()) - 1, 0);
    return MakeLog(kAt, dos_value(2021, 2, 1, at / 3600, at / 60 % 60, at % 60), std::move(lines));
}
Log SecondLog() { return MakeLog(dos_value(2021, 3, 5, 12, 0, 0), dos_value(2021, 3, 5, 12, 10, 0)); }
// Three logs, handed to the device latest first, and their entries as listed.
std::vector<Log> ThreeLogs() {
    return {FirstLog(), MakeLog(dos_value(2017, 6, 15, 10, 30, 20), dos_value(2017, 6, 15, 12, 45, 58)),
            MakeLog(dos_value(2019, 12, 31, 23, 59, 58), dos_value(2020, 1, 2, 2, 3, 4))};
}
const QStringList kThree = {"2017-06-15  10:30:20", "2019-12-31  23:59:58", "2021-02-01  08:30:00"};
const std::vector<bool> kAllOn(7, true), kAllOff(7, false);

class RunTest : public WindowTest {
protected:
    // Opens the window on `sim` and lists its logs.
    TForm1& Listed(Simulator& sim) {
        TForm1& w = Open();
        TypePort(sim.PortPath());
        List();
        return w;
    }
    void List() {
        QTest::mouseClick(form_->Button2, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle());
    }
    // The view's lines (an empty view: one empty line) in the system's 8-bit
    // code page, as it shows bytes; a character beyond it reads '?'.
    Lines ViewLines() const {
        Lines lines;
        for (const QString& line : form_->RichEdit1->toPlainText().split('\n'))
#ifdef _WIN32
            lines.push_back(line.toLocal8Bit().toStdString());
#else
            lines.push_back(line.toLatin1().toStdString());
#endif
        return lines;
    }
    QTemporaryDir dir_;
};

}  // namespace

// Earliest first, the first shown; each entry shows its own log, also two
// that started in the same second and so read alike. A click makes every
// control unusable until the run ends, so a second one starts no second run.
// Only logs are listed; a reply without a log is told, an empty device is
// not, and a listing leaves nothing of the one before.
TEST_F(RunTest, ListsOnlyLogsEarliestFirstAndEachEntryShowsItsOwnLog) {
    std::vector<Log> logs = ThreeLogs();
    logs.push_back(MakeLog(kAt, dos_value(2021, 2, 1, 8, 35, 0)));
    Simulator sim(logs);
    TForm1& w = Open();
    TypePort(sim.PortPath());
    w.Button2Click();
    w.Button2Click();  // before the worker's first step
    EXPECT_EQ(Usable(), kAllOff) << "buttons or boxes usable during the run";
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(sim.Commands().size(), 3u) << "not one run of \"md mach\", \"fs stop\", \"fs list\"";
    EXPECT_EQ(ComboItems(w.ComboBox2), kThree + QStringList{"2021-02-01  08:30:00"});
    const std::pair<int, QStringList> entries[] = {
        // the entry; its file, start, stop and duration
        {0, {"2017_06_15_10_30_20.log", "2017-06-15 10:30:20", "2017-06-15 12:45:58", "2h 15m 38s"}},
        {3, {"2021_02_01_08_30_00.log", "2021-02-01 08:30:00", "2021-02-01 09:00:00", "0h 30m 0s"}},
        {2, {"2021_02_01_08_30_00.log", "2021-02-01 08:30:00", "2021-02-01 08:35:00", "0h 5m 0s"}},
        {1, {"2019_12_31_23_59_58.log", "2019-12-31 23:59:58", "2020-01-02 02:03:04", "26h 3m 6s"}},
    };
    for (const auto& [index, labels] : entries) {
        w.ComboBox2->setCurrentIndex(index);
        EXPECT_EQ((QStringList{w.Label5->text(), w.Label6->text(), w.Label7->text(), w.Label8->text()}), labels);
    }
    // Typing into the log box chooses nothing: the labels stay.
    QTest::keyClicks(w.ComboBox2->lineEdit(), QStringLiteral("20"));
    QApplication::processEvents();
    EXPECT_EQ(w.Label8->text(), QStringLiteral("26h 3m 6s"));

    // What the device holds: the lines sent before the listing, whether it
    // holds the three logs; and a word of the one box shown (nullptr: none).
    const std::tuple<const char*, Lines, bool, const char*> cases[] = {
        {"only lines that are not logs", {"", "OK", "FS ERROR 17"}, false, "FS ERROR 17"},
        {"many lines that are not logs", {"", "OK", "1", "2", "3", "4", "5"}, false, "\"3\"\n    (2 more lines)"},
        {"lines that are not logs", {"", "OK", "FS ERROR 17"}, true, nullptr},
        {"an empty device", {}, false, nullptr},
    };
    for (const auto& [what, not_logs, holds, told] : cases) {
        SCOPED_TRACE(what);
        Behaviour b;
        b.extra_list_lines = not_logs;
        sim.SetBehaviour(b);
        sim.SetLogs(holds ? ThreeLogs() : std::vector<Log>{});
        w.RichEdit1->setPlainText(QStringLiteral("viewed before"));
        ModalAnswers answers;
        answers.Add(ModalAnswers::ClickOk());
        List();
        EXPECT_EQ(ComboItems(w.ComboBox2), holds ? kThree : QStringList());
        EXPECT_EQ(w.ComboBox2->currentText(), holds ? kThree[0] : QStringLiteral("no entries"));
        EXPECT_EQ(w.Label5->text().isEmpty(), !holds);
        EXPECT_EQ(Usable(), (std::vector<bool>{true, true, holds, holds, true, true, true}));
        EXPECT_TRUE(w.RichEdit1->toPlainText().isEmpty());
        EXPECT_EQ(answers.Seen().size(), told ? 1 : 0) << answers.Seen().join("|").toStdString();
        EXPECT_TRUE(!told || answers.Seen().value(0).contains(told));
    }
}

// A log comes home byte for byte whatever it holds and is shown line for
// line. It gets the time it needs: its listed duration says how many lines
// to expect (one every 2 s, one at each end), and a pause before they have
// come does not end it. A cut log is told and never proposed under the log's
// own name; a device that stops early or leaves its last line unended is
// done with, and the person is told how much came and that the log stays on
// the logger, with what came offered under the log's name. The controls stay
// unusable while the dialog shows. A file that holds another log is replaced
// only after a question whose default is No (No offers the dialog again); the
// same bytes are saved again without one.
// View Log reads the file back, ignores a missing one and reports one it
// cannot read.
TEST_F(RunTest, TheSavedFileHoldsExactlyWhatTheDeviceSent) {
    const Lines odd = {"note=caf\xE9;T=21.5\xB0", "", std::string(300, 'x') + "|end", "\x80\x92\x81\xFE\xFF tail",
                       std::string("a\0b", 3)};
    const Lines sixty(60, "sample");
    const struct {
        const char* what;
        Lines lines;
        void (*device)(Behaviour&) = nullptr;  // how the device sends the log (nullptr: as it should)
        const char* told = nullptr;            // words of the one report before the save dialog (nullptr: none)
        bool save = true;                      // the user saves (else cancels)
        const char* before = nullptr;          // the file's bytes before the save (none: no file; "|": a pipe)
        bool replace = false;                  // the answer to the question, if one comes
        const char* asks = "already holds another log";  // what the question says
    } cases[] = {
        {"a long log", Lines(20000, std::string(30, 's'))},
        {"cancelled", odd, nullptr, nullptr, false},
        {"the line drops", Lines(200, "sample"), [](Behaviour& b) { b.close_after_bytes = 600; }, "incomplete"},
        {"a pause of 1 s, twice", sixty, [](Behaviour& b) { b.pause_every_lines = 20, b.pause = milliseconds(1000); }},
        {"a pause of 2.5 s", sixty, [](Behaviour& b) { b.pause_every_lines = 30, b.pause = milliseconds(2500); }},
        // The rest comes after the port is closed.
        {"a pause of 4.5 s after 30 lines", sixty,
         [](Behaviour& b) { b.pause_before_line = 30, b.line_pause = milliseconds(4500); },
         "Only 30 of about 60 lines"},
        {"a last line without its line end", sixty, [](Behaviour& b) { b.last_line_unended = true; },
         "without its line end"},
        {"onto another log, the default answer", {"new"}, nullptr, nullptr, true, "old\r\n"},
        {"onto another log, replaced", {"new"}, nullptr, nullptr, true, "old\r\n", true},
#ifndef _WIN32
        {"onto a pipe, which cannot be read", {"new"}, nullptr, nullptr, true, "|", false, "exists and cannot be read"},
#endif
        {"onto the same bytes", {"new"}, nullptr, nullptr, true, "new\r\n"},
        {"bytes above 0x7F, NUL, empty and long lines", odd},  // last: View Log reads it
    };
    const QString path = dir_.filePath("saved.log");
    Lines shown;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Simulator sim({WholeLog(c.lines)});
        TForm1& w = Listed(sim);
        Behaviour b;
        if (c.device) c.device(b);
        sim.SetBehaviour(b);
        const bool cut = b.close_after_bytes >= 0, pipe = c.before && std::string(c.before) == "|";
        QFile::remove(path);
#ifndef _WIN32
        ASSERT_TRUE(!pipe || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
#endif
        ASSERT_TRUE(!c.before || pipe || MakeFile(path, c.before));
        ModalAnswers answers;
        if (c.told) answers.Add(ModalAnswers::ClickOk());
        QStringList offered;  // the file each showing of the save dialog proposed
        std::vector<bool> usable_then;
        const auto dialog = ModalAnswers::On<QFileDialog>([&](QFileDialog* d) {
            offered << d->selectedFiles().value(0);
            usable_then = Usable();
            (c.save && offered.size() == 1 ? ModalAnswers::Save(path) : ModalAnswers::Cancel())(d);
        });
        answers.Add(dialog);
        answers.Add(
            c.replace ? ModalAnswers::On<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); })
                      : ModalAnswers::Key(Qt::Key_Return));
        answers.Add(dialog);  // No offers the dialog again, on the name chosen
        QTest::mouseClick(w.Button3, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle(milliseconds(60000)));
        EXPECT_EQ(offered.value(0).section('/', -1).toStdString(),
                  cut ? "2021_02_01_08_30_00-incomplete.log" : "2021_02_01_08_30_00.log");
        EXPECT_EQ(usable_then, kAllOff);
        EXPECT_EQ(w.ProgressBar1->value(), 0);
        EXPECT_EQ(Usable(), kAllOn);
        shown = ViewLines();
        // What came: all, or the lines before a pause past the device's patience,
        // or before the line dropped (one the drop cut in two as far as it came).
        std::size_t came = cut ? shown.size() : c.lines.size();
        if (c.told && b.pause_before_line >= 0) came = static_cast<std::size_t>(b.pause_before_line);
        EXPECT_TRUE(!cut || came < c.lines.size()) << "the line dropped after the last line";
        Lines got(c.lines.begin(), c.lines.begin() + static_cast<long>(std::min(came, c.lines.size())));
        if (cut && !got.empty()) got.back().resize(std::min(got.back().size(), shown.back().size()));
        QByteArray bytes;
        for (const std::string& line : got)
            bytes.append(line.data(), static_cast<qsizetype>(line.size())).append("\r\n");
        const bool asked = c.save && c.before && (pipe || bytes != c.before);
        EXPECT_EQ(offered.value(1).toStdString(), asked && !c.replace ? path.toStdString() : "");
        EXPECT_EQ(answers.Seen().size(), (c.told ? 1 : 0) + (asked ? 1 : 0)) << answers.Seen().join("|").toStdString();
        // A log not proven whole stays on the logger; a cut one is told as incomplete.
        EXPECT_TRUE(!c.told || (answers.Seen().value(0).contains(c.told) &&
                                (cut || answers.Seen().value(0).contains("stays on the logger"))))
            << answers.Seen().join("|").toStdString();
        EXPECT_TRUE(!asked || (answers.Seen().back().contains(QDir::toNativeSeparators(path) + " " + c.asks) &&
                               answers.Seen().back().endsWith("Replace it?")))
            << answers.Seen().join("|").toStdString();
        const QByteArray expected =
            c.save && (!asked || c.replace) ? bytes : QByteArray(c.before ? c.before : "<none>");
        QFile saved(path);
        EXPECT_TRUE(pipe || (saved.open(QIODevice::ReadOnly) ? saved.readAll() : "<none>") == expected);
        EXPECT_TRUE(!pipe || !QFileInfo(path).isFile()) << "the pipe was replaced";
        for (std::string& line : got) std::replace(line.begin(), line.end(), '\0', '?');  // shown as U+FFFD
        const auto at = std::mismatch(shown.begin(), shown.end(), got.begin(), got.end()).first - shown.begin();
        EXPECT_TRUE(shown == got) << "the view differs from what the device sent from line " << at;
    }
#ifdef _WIN32
    // Bytes above 0x7F as the system's code page has them: in the Western
    // code page 0x80 is the euro sign and 0x92 a right quote. (Elsewhere the
    // view shows Latin-1, which the comparison above checks.)
    const QString high = form_->RichEdit1->Line(3);
    EXPECT_TRUE(GetACP() != 1252 || high.left(5) == QStringView(u"\u20AC\u2019\u0081\u00FE\u00FF")) << GetACP();
#endif
    // A name typed without ".log" gets it; a file it cannot read is told,
    // and the view stays.
    const QString big = dir_.filePath("big.log");
    ASSERT_TRUE(MakeFile(big, "") && QFile::resize(big, kMaxLogFileBytes + 1));
    for (const char* name : {"missing.log", "saved", "big.log"}) {
        form_->RichEdit1->setPlainText(QStringLiteral("before"));
        ModalAnswers view;
        view.Add(ModalAnswers::Save(dir_.filePath(name)));
        view.Add(ModalAnswers::ClickOk());
        QTest::mouseClick(form_->Button5, Qt::LeftButton);  // returns when the dialogs are answered
        EXPECT_EQ(ViewLines(), name[0] == 's' ? shown : Lines{"before"}) << name;
        EXPECT_EQ(view.Seen().size(), name[0] == 'b' ? 1 : 0) << name;
        EXPECT_TRUE(name[0] != 'b' || view.Seen().value(0).contains("big.log")) << view.Seen().join("|").toStdString();
    }
}

// Each way a run can fail is told once, in words that say what happened, and
// the window is usable after it.
TEST_F(RunTest, EachFailureIsToldOnce) {
    using Button = QPushButton* TForm1::*;
    const Button kList = &TForm1::Button2, kUpload = &TForm1::Button3, kDelete = &TForm1::Button4;
    // A port missing or held by another opener; a device silent, without the log's lines, hanging up at once, in
    // the listing or after the delete command, refusing the delete with words or without; a save that fails; a step
    // of the run that throws.
    enum Trouble { kMissing, kHeld, kSilent, kNoLines, kHangsUp, kListCut, kDelCut, kRefuses, kMute, kNoDir, kThrows };
    // What happens, the button clicked, the trouble, and words of the report ("$port" stands for the port).
    const std::tuple<const char*, Button, Trouble, std::vector<std::string>> cases[] = {
        {"list: missing port", kList, kMissing, {"$port", MissingPortReason(), "No logs were listed"}},
        {"list: held port", kList, kHeld, {"$port", "could not be opened"}},
        {"upload: held port", kUpload, kHeld, {"$port", "Nothing was uploaded"}},
        {"delete: held port", kDelete, kHeld, {"$port", "not deleted"}},
        {"list: silent device", kList, kSilent, {"$port", "did not answer"}},
        {"upload: silent device", kUpload, kSilent, {"$port", "did not answer"}},
        {"upload: no line for the log", kUpload, kNoLines, {"sent no line", "Nothing was saved"}},
        {"delete: silent device", kDelete, kSilent, {"did not answer", "may not have been deleted"}},
        {"delete: the line drops", kDelete, kHangsUp, {"could not be sent", "connection was lost", "not deleted"}},
        {"list: the line drops in the listing", kList, kListCut, {"lost during the listing", "incomplete"}},
        {"delete: the line drops later", kDelete, kDelCut, {"after the delete command", "may not have been"}},
        {"delete: refused", kDelete, kRefuses, {"did not delete", "2021_02_01_08_30_00.log", "ERR 5 cannot delete"}},
        {"delete: refused without a reply", kDelete, kMute, {"did not delete", "no immediate reply"}},
        {"upload: the save fails", kUpload, kNoDir, {"not-a-folder", PathNotFoundReason()}},
        {"list: an error inside", kList, kThrows, {"listing failed", "decoder exploded"}},
        {"upload: an error inside", kUpload, kThrows, {"upload failed", "decoder exploded"}},
    };
    // A path below a plain file cannot be written, whoever runs the test.
    ASSERT_TRUE(MakeFile(dir_.filePath("not-a-folder"), ""));
    for (const auto& [what, run, trouble, words] : cases) {
        SCOPED_TRACE(what);
        if (trouble == kHeld && RunningUnderWine()) continue;  // kWineSharesPorts
        TWorker::Checkpoint = nullptr;
        Simulator sim({WholeLog({"x"}), SecondLog()});
        TForm1& w = run == kList ? Open() : Listed(sim);
        const std::string port = trouble == kMissing ? MissingPort() : sim.PortPath();
        if (run == kList) TypePort(port);
        Behaviour b;
        b.silent = trouble == kSilent;
        // An "ok" takes 3 bytes, a listing's line 16, the refusal 20.
        b.close_after_bytes = trouble == kHangsUp ? 0 : trouble == kListCut ? 20 : trouble == kDelCut ? 5 : -1;
        b.keep_on_delete = trouble == kRefuses || trouble == kMute || trouble == kDelCut;
        b.del_reply = trouble == kMute ? "" : "ERR 5 cannot delete";
        sim.SetBehaviour(b);
        if (trouble == kNoLines) sim.SetLogs({WholeLog({}), SecondLog()});  // the listed log, now empty
        sim.ClearCommands();
        SystemError error;
        const com_handle_t other = trouble == kHeld ? serial_os::Open(port, &error) : INVALID_COM_HANDLE;
        ASSERT_EQ(other != INVALID_COM_HANDLE, trouble == kHeld) << error.text;
        // (A listing's first step is "listed", an upload's "uploaded".)
        if (trouble == kThrows) TWorker::Checkpoint = [](const char*) { throw std::runtime_error("decoder exploded"); };
        ModalAnswers answers;
        if (run == kDelete) answers.Add(ModalAnswers::Key(Qt::Key_Return));  // the question
        if (trouble == kNoDir) answers.Add(ModalAnswers::Save(dir_.filePath("not-a-folder/log.log")));
        answers.Add(ModalAnswers::ClickOk());
        answers.Add(ModalAnswers::ClickOk());  // a second report, which must not come
        QTest::mouseClick(w.*run, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle());  // (the reports come before the controls are usable again)
        if (other != INVALID_COM_HANDLE) serial_os::Close(other);
        ASSERT_EQ(answers.Seen().size(), run == kDelete ? 2 : 1) << answers.Seen().join("|").toStdString();
        const QString told = answers.Seen().back();
        for (std::string word : words)
            EXPECT_TRUE(told.contains(QString::fromStdString(word == "$port" ? port : word))) << told.toStdString();
        EXPECT_TRUE(trouble != kHeld || sim.Commands().empty()) << "a held port was written to";
        EXPECT_EQ(sim.Logs().size(), 2u);
        EXPECT_EQ(w.ProgressBar1->value(), 0);
    }
}

// A run is stopped by closing the window, or by Esc when the person says
// Yes to "Stop the upload?" (No by default); both take one path. Closing
// ends it at once, saves nothing, opens no dialog and frees the port. Yes
// ends it promptly: the lines that came are offered under the "-incomplete"
// name, the controls come back, the log stays on the logger. While an upload
// runs, the bar follows the lines (its maximum half the log's seconds, one
// line a step) and tells the lines and the time left, and the view waits for
// the whole reply; a log shorter than two seconds has a full bar.
TEST_F(RunTest, ARunStopsWhenTheWindowClosesOrThePersonSaysYesToEsc) {
    enum Stop { kClose, kYes, kNo };
    const Log minutes = FirstLog(Lines(1000, std::string(60, 'q'))), instant = MakeLog(kAt, kAt, Lines(50, "q"));
    const struct {
        const char* what;
        Log log;
        bool upload;
        Stop stop;
        int maximum;  // the bar's, during the upload
    } cases[] = {
        {"closing during a listing", FirstLog(), false, kClose, 0},
        {"closing during an upload", minutes, true, kClose, 900},
        {"closing during an upload of a log under two seconds", instant, true, kClose, 1},
        {"Esc during a listing, No", FirstLog(), false, kNo, 0},
        {"Esc during a listing, Yes", FirstLog(), false, kYes, 0},
        {"Esc during an upload, No", WholeLog(Lines(400, std::string(60, 'q'))), true, kNo, 399},
        {"Esc during an upload, Yes", minutes, true, kYes, 900},
    };
    const QString path = dir_.filePath("stopped.log");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Simulator sim({c.log});
        TForm1& w = Listed(sim);
        Behaviour b;  // paced; stopped, the upload would not end by itself
        b.paced = true;
        b.endless_reply = c.stop != kNo;
        b.list_delay = milliseconds(c.stop == kNo ? 1000 : 60000);  // a listing is stopped during its silence
        sim.SetBehaviour(b);
        sim.ClearCommands();
        ModalAnswers answers;
        answers.Add(ModalAnswers::On<QMessageBox>([&](QMessageBox* box) {
            EXPECT_EQ(box->text(), QStringLiteral("Stop the upload?"));
            (c.stop == kYes ? box->button(QMessageBox::Yes)->click() : QTest::keyClick(box, Qt::Key_Return));
        }));
        QString offered;
        if (c.upload && c.stop == kNo) answers.Add(ModalAnswers::Cancel());  // the whole log's save
        if (c.upload && c.stop == kYes) {
            answers.Add(ModalAnswers::ClickOk());  // the stop told
            answers.Add(ModalAnswers::On<QFileDialog>([&](QFileDialog* d) {
                offered = d->selectedFiles().value(0).section('/', -1);
                ModalAnswers::Save(path)(d);
            }));
        }
        QTest::mouseClick(c.upload ? w.Button3 : w.Button2, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return sim.Commands().size() >= 3; }));
        bool part_way = false;
        const auto told = [&] {
            const int v = w.ProgressBar1->value();
            part_way = part_way || (v > 0 && v < w.ProgressBar1->maximum());
            return !c.upload || (c.stop == kClose ? v > 0 && v == w.ProgressBar1->maximum()
                                                  : w.ProgressBar1->text().contains(QStringLiteral(" lines, about ")));
        };
        ASSERT_TRUE(WaitFor(told, milliseconds(30000))) << w.ProgressBar1->text().toStdString();
        EXPECT_TRUE(!c.upload || w.ProgressBar1->maximum() == c.maximum) << w.ProgressBar1->maximum();
        EXPECT_TRUE(!c.upload || c.stop != kClose || part_way == (c.maximum > 1)) << "the bar jumped to full";
        EXPECT_TRUE(w.RichEdit1->toPlainText().isEmpty()) << "the view fills after the reply";
        EXPECT_EQ(Usable(), kAllOff);
        const auto before = std::chrono::steady_clock::now();
        if (c.stop == kClose) {
            // At 11,520 bytes/s the 900th line of 61 bytes comes 4.8 s after the command.
            const auto read = sim.Commands().back().arrived;
            EXPECT_TRUE(c.maximum < 2 || before - read > milliseconds(4000)) << "a step a line";
            w.close();
            EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
            EXPECT_EQ(TThread::RunningCount(), 0);
            EXPECT_EQ(list, nullptr) << "the log list was not released";
            // The window holds no port, and (but under Wine, which shares
            // ports) another program can open it.
            EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
            SystemError error;
            const com_handle_t other =
                RunningUnderWine() ? INVALID_COM_HANDLE : serial_os::Open(sim.PortPath(), &error);
            EXPECT_TRUE(RunningUnderWine() || other != INVALID_COM_HANDLE) << error.text;
            if (other != INVALID_COM_HANDLE) serial_os::Close(other);
            QApplication::processEvents();
            EXPECT_TRUE(answers.Seen().isEmpty());
            continue;
        }
        QTest::keyClick(&w, Qt::Key_Escape);  // returns when the question is answered
        ASSERT_TRUE(WaitIdle(milliseconds(20000)));
        EXPECT_TRUE(c.stop == kNo || std::chrono::steady_clock::now() - before < std::chrono::seconds(3));
        EXPECT_EQ(answers.Seen().size(), c.upload && c.stop == kYes ? 2 : 1) << answers.Seen().join("|").toStdString();
        const bool logs = c.upload || c.stop == kNo;
        EXPECT_EQ(Usable(), (std::vector<bool>{true, true, logs, logs, true, true, true}));
        EXPECT_EQ(sim.Logs().size(), 1u);
        EXPECT_FALSE(w.ProgressBar1->isTextVisible());
        EXPECT_EQ(w.ComboBox2->count(), logs ? 1 : 0);
        EXPECT_TRUE(!c.upload || c.stop != kNo || w.RichEdit1->LineCount() == 400u) << "a No stopped the upload";
        if (c.upload && c.stop == kYes) {
            EXPECT_EQ(offered.toStdString(), "2021_02_01_08_30_00-incomplete.log");
            EXPECT_TRUE(answers.Seen().value(1).contains("stopped")) << answers.Seen().join("|").toStdString();
            QFile saved(path);
            EXPECT_TRUE(saved.open(QIODevice::ReadOnly) && w.RichEdit1->LineCount() > 0 &&
                        saved.readAll().count("\r\n") == static_cast<qsizetype>(w.RichEdit1->LineCount()));
        }
    }
}

// Delete asks first: Escape sends nothing; Enter deletes,
// the window answers during the device's pause, and the logs are listed again.
TEST_F(RunTest, DeleteAsksThenDeletesAndListsAgain) {
    Simulator sim({FirstLog(), SecondLog()});
    TForm1& w = Listed(sim);
    sim.ClearCommands();
    ModalAnswers answers;
    answers.Add(ModalAnswers::Key(Qt::Key_Escape));
    QTest::mouseClick(w.Button4, Qt::LeftButton);  // returns when the question is answered
    EXPECT_EQ(TThread::RunningCount(), 0);
    answers.Add(ModalAnswers::Key(Qt::Key_Return));
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    std::vector<std::chrono::steady_clock::time_point> ticks;  // while the window's thread is free
    ASSERT_TRUE(WaitFor([&] {
        ticks.push_back(std::chrono::steady_clock::now());
        return TThread::RunningCount() == 0 && w.Button2->isEnabled();
    }));
    EXPECT_EQ(answers.Seen().value(1),
              QStringLiteral("Delete log file\nSure You want to delete 2021_02_01_08_30_00.log?\n"
                             "Logfile is irretrievable deleted from KRX3 internal storage .."));
    EXPECT_EQ(sim.Logs().size(), 1u);
    EXPECT_EQ(ComboItems(w.ComboBox2), QStringList{"2021-03-05  12:00:00"});
    EXPECT_EQ(w.Label5->text(), QStringLiteral("2021_03_05_12_00_00.log"));
    const auto commands = sim.Commands();  // "md mach", "fs stop", "fs del ...", then the listing's
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[2].text, "fs del " + FirstLog().start_code);
    const auto stop = commands[1].arrived, del = commands[2].arrived;
    EXPECT_GE(del - stop, milliseconds(500)) << "the pause before the delete";
    EXPECT_TRUE(std::any_of(ticks.begin(), ticks.end(), [&](auto t) {
        return t > del - milliseconds(400) && t < del - milliseconds(100);  // within the pause
    })) << "the window stood still during the pause before the delete";
}
