// "List Logs", "Upload Log", "Delete Log" and "View Log" against the
// simulated device, with the dialogs answered as a user would: what the
// window shows, every way a run can fail, and closing the window during a run.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "fatdss.h"
#include "gui_support.h"
#include "logfile.h"
#include "platform_support.h"
#include "serial.h"
#include "serial_os.h"
#include "simulator.h"
#include "workers.h"

namespace {

using krx3sim::Log;
using krx3sim::Simulator;
using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

Log MakeLog(std::uint32_t start, std::uint32_t stop, Lines lines = {"a line"}) {
    return Log{code_of(start), code_of(stop), std::move(lines)};
}
// A 30-minute log (the bar's maximum: 1800 s / 2 = 900) and a second one.
Log FirstLog(Lines lines) { return MakeLog(dos_value(2021, 2, 1, 8, 30, 0), dos_value(2021, 2, 1, 9, 0, 0), lines); }
Log SecondLog() { return MakeLog(dos_value(2021, 3, 5, 12, 0, 0), dos_value(2021, 3, 5, 12, 10, 0)); }
// Three logs, handed to the device latest first.
std::vector<Log> ThreeLogs() {
    return {MakeLog(dos_value(2021, 2, 1, 8, 30, 0), dos_value(2021, 2, 1, 9, 0, 0)),
            MakeLog(dos_value(2017, 6, 15, 10, 30, 20), dos_value(2017, 6, 15, 12, 45, 58)),
            MakeLog(dos_value(2019, 12, 31, 23, 59, 58), dos_value(2020, 1, 2, 2, 3, 4))};
}
Lines Numbered(int n) {
    Lines lines;
    for (int i = 0; i < n; ++i) lines.push_back(i % 997 == 5 ? std::string() : "sample " + std::to_string(i));
    return lines;
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}
QByteArray WithCrLf(const Lines& lines) {
    QByteArray bytes;
    for (const std::string& l : lines) bytes.append(l.data(), static_cast<qsizetype>(l.size())).append("\r\n");
    return bytes;
}

// The window holds no port, and (but under Wine, which shares ports) another
// program can open it.
bool PortFree(const std::string& port) {
    std::string error;
    const com_handle_t other = RunningUnderWine() ? INVALID_COM_HANDLE : serial_os::Open(port, &error);
    if (other != INVALID_COM_HANDLE) serial_os::Close(other);
    return hCom.load() == INVALID_COM_HANDLE && (RunningUnderWine() || other != INVALID_COM_HANDLE);
}

class RunTest : public WindowTest {
protected:
    void TearDown() override {
        TWorker::Checkpoint = nullptr;
        WindowTest::TearDown();
    }
    // Opens the window on `sim` and lists its logs.
    TForm1& Listed(Simulator& sim) {
        TForm1& w = Open();
        TypePort(sim.PortPath());
        List();
        EXPECT_TRUE(w.Button3->isEnabled());
        return w;
    }
    void List() {
        ASSERT_TRUE(form_->Button2->isEnabled());
        QTest::mouseClick(form_->Button2, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle());
    }
    void Reopen() {
        form_->close();
        form_.reset();
        SetUp();
    }
    QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    bool AllEnabled() const {
        for (QPushButton* b : {form_->Button1, form_->Button2, form_->Button3, form_->Button4, form_->Button5})
            if (!b->isEnabled()) return false;
        return true;
    }
    QTemporaryDir dir_;
};

}  // namespace

// Earliest first, the first shown; each entry shows its own log, also two
// that started in the same second and so read alike.
TEST_F(RunTest, ListsEarliestFirstAndEachEntryShowsItsOwnLog) {
    std::vector<Log> logs = ThreeLogs();
    logs.push_back(MakeLog(dos_value(2021, 2, 1, 8, 30, 0), dos_value(2021, 2, 1, 8, 35, 0)));
    Simulator sim(logs);
    TForm1& w = Open();
    TypePort(sim.PortPath());
    const auto usable = [&] {
        std::vector<bool> on;
        for (QWidget* c :
             std::vector<QWidget*>{w.Button1, w.Button2, w.Button3, w.Button4, w.Button5, w.ComboBox1, w.ComboBox2})
            on.push_back(c->isEnabled());
        return on;
    };
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    EXPECT_EQ(usable(), std::vector<bool>(7, false)) << "buttons or boxes usable during the run";
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(ComboItems(w.ComboBox2), (std::vector<QString>{"2017-06-15  10:30:20", "2019-12-31  23:59:58",
                                                             "2021-02-01  08:30:00", "2021-02-01  08:30:00"}));
    const struct {
        int index;
        const char *file, *start, *stop, *dur;
    } entries[] = {
        {0, "2017_06_15_10_30_20.log", "2017-06-15 10:30:20", "2017-06-15 12:45:58", "2h 15m 38s"},
        {3, "2021_02_01_08_30_00.log", "2021-02-01 08:30:00", "2021-02-01 09:00:00", "0h 30m 0s"},
        {2, "2021_02_01_08_30_00.log", "2021-02-01 08:30:00", "2021-02-01 08:35:00", "0h 5m 0s"},
        {1, "2019_12_31_23_59_58.log", "2019-12-31 23:59:58", "2020-01-02 02:03:04", "26h 3m 6s"},
    };
    for (const auto& e : entries) {
        w.ComboBox2->setCurrentIndex(e.index);
        EXPECT_EQ((std::vector<QString>{w.Label5->text(), w.Label6->text(), w.Label7->text(), w.Label8->text()}),
                  (std::vector<QString>{e.file, e.start, e.stop, e.dur}));
    }
    // Typing into the log box chooses nothing: no box, the labels stay.
    ModalAnswers answers;
    QTest::keyClicks(w.ComboBox2->lineEdit(), QStringLiteral("20"));
    QApplication::processEvents();
    EXPECT_TRUE(answers.Seen().isEmpty());
    EXPECT_EQ(w.Label8->text(), QStringLiteral("26h 3m 6s"));
    EXPECT_EQ(usable(), std::vector<bool>(7, true));
}

// Only logs are listed; a reply without a log is told as plain text, an
// empty device is not, and a listing leaves nothing of the one before.
TEST_F(RunTest, OnlyLogsAreListedAndAReplyWithoutALogIsTold) {
    Simulator sim(ThreeLogs());
    const std::vector<QString> kThree = {"2017-06-15  10:30:20", "2019-12-31  23:59:58", "2021-02-01  08:30:00"};
    const struct {
        const char* what;
        std::vector<std::string> not_logs;  // lines sent before the listing
        bool logs;                          // the device holds the three logs
        const char* told;                   // a word of the one box shown, or nullptr: none
    } cases[] = {
        {"lines that are not logs", {"", "OK", "FS ERROR 17"}, true, nullptr},
        {"an empty device", {}, false, nullptr},
        {"only lines that are not logs", {"", "OK", "FS ERROR 17"}, false, "FS ERROR 17"},
        {"markup", {"<h1>BIG</h1> ESINAHC"}, false, "<h1>BIG</h1> ESINAHC"},
    };
    TForm1& w = Open();
    TypePort(sim.PortPath());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.SetBehaviour(krx3sim::Behaviour());
        sim.SetLogs(ThreeLogs());
        List();  // a full listing before
        w.RichEdit1->setPlainText(QStringLiteral("viewed before"));
        krx3sim::Behaviour b;
        b.extra_list_lines = c.not_logs;
        sim.SetBehaviour(b);
        sim.SetLogs(c.logs ? ThreeLogs() : std::vector<Log>{});
        ModalAnswers answers;
        bool plain = false;
        answers.Add(ModalAnswers::On<QMessageBox>([&plain](QMessageBox* box) {
            plain = box->textFormat() == Qt::PlainText;
            box->button(QMessageBox::Ok)->click();
        }));
        List();
        ASSERT_TRUE(WaitFor([&] { return !c.told || answers.Pending() == 0; }));
        EXPECT_EQ(ComboItems(w.ComboBox2), c.logs ? kThree : std::vector<QString>{});
        EXPECT_EQ(list->Count(), c.logs ? 3 : 0) << "entry i of the box is line i of the list";
        EXPECT_EQ(w.ComboBox2->currentText(), c.logs ? kThree[0] : QStringLiteral("no entries"));
        EXPECT_EQ(w.Label5->text().isEmpty(), !c.logs);
        EXPECT_EQ(w.Button3->isEnabled() && w.Button4->isEnabled(), c.logs);
        EXPECT_TRUE(w.RichEdit1->toPlainText().isEmpty());
        EXPECT_EQ(answers.Seen().size(), c.told ? 1 : 0) << answers.Seen().join("|").toStdString();
        if (c.told) {
            EXPECT_TRUE(answers.Seen().value(0).contains(c.told)) << answers.Seen().value(0).toStdString();
            EXPECT_TRUE(plain) << "the device's text was shown as markup";
        }
    }
}

TEST_F(RunTest, ASecondClickStartsNoSecondRun) {
    Simulator sim(ThreeLogs());
    TForm1& w = Open();
    TypePort(sim.PortPath());
    w.Button2Click();
    w.Button2Click();  // before the worker's first step
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    const auto commands = sim.Commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const auto& c) { return c.text == "fs list"; }), 1);
}

// A log comes home byte for byte whatever it holds and is shown line for
// line; a cut one is told and never proposed under the log's own name. The
// port is free while the dialog and a report show. View Log reads the file
// back, ignores a missing one and reports one it cannot read.
TEST_F(RunTest, TheSavedFileHoldsExactlyWhatTheDeviceSent) {
    const Lines odd = {
        "T=21.5\xB0"
        "C;note=caf\xE9",
        "", std::string(300, 'x') + "|end", "\x80\x81\xFE\xFF tail"};
    const Lines nul = {std::string("a\0b", 3), std::string("\0", 1), "after"};
    const struct {
        const char* what;
        Lines lines;
        bool cut, save;        // the line drops after 600 bytes; the user saves (else cancels)
        const char* proposed;  // the name the save dialog proposes
    } cases[] = {
        {"bytes above 0x7F, empty and long lines", odd, false, true, "2021_02_01_08_30_00.log"},
        {"NUL bytes", nul, false, true, "2021_02_01_08_30_00.log"},
        {"a long log, shown in several steps", Numbered(20000), false, true, "2021_02_01_08_30_00.log"},
        {"cancelled", odd, false, false, "2021_02_01_08_30_00.log"},
        {"the line drops", Numbered(200), true, true, "2021_02_01_08_30_00-incomplete.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.cut && RunningUnderWine()) continue;  // Wine reads a hang-up as silence
        Simulator sim({FirstLog(c.lines), SecondLog()});
        TForm1& w = Listed(sim);
        krx3sim::Behaviour b;
        b.close_after_bytes = c.cut ? 600 : -1;
        sim.SetBehaviour(b);
        const QString path = Path("saved.log");
        QFile::remove(path);
        // (A line hung up cannot be opened again: then only the window's hold is seen.)
        const auto free = [&] { return c.cut ? hCom.load() == INVALID_COM_HANDLE : PortFree(sim.PortPath()); };
        ModalAnswers answers;
        std::vector<bool> free_then;
        QString proposed;
        if (c.cut) answers.Add([&](QWidget* box) { return free_then.push_back(free()), ModalAnswers::ClickOk()(box); });
        answers.Add(ModalAnswers::On<QFileDialog>([&](QFileDialog* dialog) {
            proposed = dialog->selectedFiles().value(0).section('/', -1);
            free_then.push_back(free() && !AllEnabled());
            (c.save ? ModalAnswers::Save(path) : ModalAnswers::Cancel())(dialog);
        }));
        QTest::mouseClick(w.Button3, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle(milliseconds(60000)));
        ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
        EXPECT_EQ(proposed, c.proposed);
        EXPECT_EQ(free_then, std::vector<bool>(c.cut ? 2 : 1, true)) << "the port held or the buttons usable";
        EXPECT_EQ(w.ProgressBar1->maximum(), 900);
        EXPECT_EQ(w.ProgressBar1->value(), 0);
        EXPECT_TRUE(AllEnabled());
        EXPECT_EQ(answers.Seen().size(), c.cut ? 1 : 0) << answers.Seen().join("|").toStdString();
        EXPECT_TRUE(!c.cut || answers.Seen().value(0).contains("incomplete"));
        const Lines shown = ViewLines();
        EXPECT_EQ(shown.size() < c.lines.size(), c.cut);
        const Lines got(c.lines.begin(), c.lines.begin() + std::min(shown.size(), c.lines.size()));
        EXPECT_TRUE(FileBytes(path) == (c.save ? WithCrLf(got) : QByteArray("<none>"))) << "the file's bytes";
        EXPECT_TRUE(c.lines == nul ? w.RichEdit1->document()->firstBlock().text() == QString("a\uFFFDb")
                                   : shown == got);
        if (c.save && c.lines == odd) {
            // A name typed without ".log" gets it; a file it cannot read is told, and the view stays.
            QFile big(Path("big.log"));
            ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(kMaxLogFileBytes + 1));
            for (const char* name : {"missing.log", "saved", "big.log"}) {
                const bool big = name[0] == 'b';
                w.RichEdit1->setPlainText(QStringLiteral("before"));
                ModalAnswers view;
                view.Add(ModalAnswers::Save(Path(name)));
                if (big) view.Add(ModalAnswers::ClickOk());
                QTest::mouseClick(w.Button5, Qt::LeftButton);
                ASSERT_TRUE(WaitFor([&] { return view.Pending() == 0; }));
                EXPECT_EQ(ViewLines(), name[0] == 's' ? c.lines : Lines{"before"}) << name;
                EXPECT_EQ(view.Seen().size(), big ? 1 : 0);
                EXPECT_TRUE(!big || view.Seen().value(0).contains("big.log")) << view.Seen().join("|").toStdString();
            }
        }
        Reopen();
    }
}

// Each way a run can fail is told once, in words that say what happened; the
// port is free while the report shows, and the window is usable after it.
TEST_F(RunTest, EachFailureIsToldOnce) {
    enum Run { kList, kUpload, kDelete };
    const std::function<void(krx3sim::Behaviour&)> none = [](krx3sim::Behaviour&) {};
    const auto silent = [](krx3sim::Behaviour& b) { b.silent = true; };
    const auto refused = [](const char* reply) {
        return [reply](krx3sim::Behaviour& b) {
            b.keep_on_delete = true;
            b.del_reply = reply;
        };
    };
    const struct {
        const char* what;
        Run run;
        std::function<void(krx3sim::Behaviour&)> behave;
        int port;                       // 0: the device's, 1: a missing one, 2: held by another opener
        const char* fail_at;            // a step of the run that throws, or nullptr
        bool save_fails;                // the upload is saved where no file can be written
        std::vector<std::string> told;  // "$port" stands for the port
    } cases[] = {
        {"list: missing port", kList, none, 1, nullptr, false, {"$port", MissingPortReason(), "No logs were listed"}},
        {"list: held port", kList, none, 2, nullptr, false, {"$port", "could not be opened"}},
        {"upload: held port", kUpload, none, 2, nullptr, false, {"$port", "Nothing was uploaded"}},
        {"delete: held port", kDelete, none, 2, nullptr, false, {"$port", "not deleted"}},
        {"list: silent device", kList, silent, 0, nullptr, false, {"$port", "did not answer"}},
        {"upload: silent device", kUpload, silent, 0, nullptr, false, {"$port", "did not answer"}},
        {"delete: silent device", kDelete, silent, 0, nullptr, false, {"did not answer", "may not have been deleted"}},
        {"delete: the line drops",
         kDelete,
         [](krx3sim::Behaviour& b) { b.close_after_bytes = 0; },
         0,
         nullptr,
         false,
         {"could not be sent", "not deleted"}},
        {"delete: refused with a reply",
         kDelete,
         refused("ERR 5 cannot delete"),
         0,
         nullptr,
         false,
         {"did not delete", "2021_02_01_08_30_00.log", "ERR 5 cannot delete"}},
        {"delete: refused without a reply",
         kDelete,
         refused(""),
         0,
         nullptr,
         false,
         {"did not delete", "no immediate reply"}},
        {"upload: the save fails", kUpload, none, 0, nullptr, true, {"not-a-folder", PathNotFoundReason()}},
        {"list: an error inside", kList, none, 0, "listed", false, {"listing failed", "decoder exploded"}},
        {"upload: an error inside", kUpload, none, 0, "uploaded", false, {"upload failed", "decoder exploded"}},
    };
    QFile blocker(Path("not-a-folder"));  // a path below a plain file cannot be written, whoever runs the test
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.port == 2 && RunningUnderWine()) continue;  // kWineSharesPorts
        Simulator sim({FirstLog({"x"}), SecondLog()});
        TForm1& w = c.run == kList ? Open() : Listed(sim);
        const std::string port = c.port == 1 ? MissingPort() : sim.PortPath();
        if (c.run == kList) TypePort(port);
        krx3sim::Behaviour b;
        c.behave(b);
        sim.SetBehaviour(b);
        sim.ClearCommands();
        std::string error;
        const com_handle_t other = c.port == 2 ? serial_os::Open(port, &error) : INVALID_COM_HANDLE;
        ASSERT_EQ(other != INVALID_COM_HANDLE, c.port == 2) << error;
        const char* fail_at = c.fail_at;
        TWorker::Checkpoint = [fail_at](const char* point) {
            if (fail_at && std::string(point) == fail_at) throw std::runtime_error("decoder exploded");
        };
        ModalAnswers answers;
        if (c.run == kDelete) answers.Add(ModalAnswers::Key(Qt::Key_Return));  // the question
        if (c.save_fails) answers.Add(ModalAnswers::Save(Path("not-a-folder/log.log")));
        bool free_at_report = false;
        answers.Add([&](QWidget* box) {
            // (A missing, held or hung-up port cannot be opened: then only the window's hold is seen.)
            free_at_report =
                hCom.load() == INVALID_COM_HANDLE && (c.port || b.close_after_bytes >= 0 || PortFree(port));
            return ModalAnswers::ClickOk()(box);
        });
        answers.Add(ModalAnswers::ClickOk());  // a second report, which must not come
        QTest::mouseClick(c.run == kList ? w.Button2 : c.run == kUpload ? w.Button3 : w.Button4, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return answers.Pending() <= 1; }));
        ASSERT_TRUE(WaitIdle());
        QApplication::processEvents();
        if (other != INVALID_COM_HANDLE) serial_os::Close(other);
        ASSERT_EQ(answers.Seen().size(), c.run == kDelete ? 2 : 1) << answers.Seen().join("|").toStdString();
        const QString told = answers.Seen().back();
        for (std::string word : c.told)
            EXPECT_TRUE(told.contains(QString::fromStdString(word == "$port" ? port : word))) << told.toStdString();
        EXPECT_TRUE(free_at_report) << "the port was held while the report showed";
        EXPECT_TRUE(c.port != 2 || sim.Commands().empty()) << "a held port was written to";
        EXPECT_EQ(sim.Logs().size(), 2u);
        EXPECT_TRUE(w.Button1->isEnabled() && w.Button2->isEnabled() && w.Button5->isEnabled() &&
                    w.ComboBox1->isEnabled());
        EXPECT_EQ(w.ProgressBar1->value(), 0);
        EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
        TWorker::Checkpoint = nullptr;
        Reopen();
    }
}

// Closing the window during a run ends it at once, saves nothing, opens no
// dialog and frees the port. While an upload runs, the bar follows the lines
// (its maximum half the log's seconds, one line a step) and the view waits
// for the whole reply; a log shorter than two seconds has a full bar.
TEST_F(RunTest, ClosingDuringARunEndsItPromptly) {
    const std::uint32_t at = dos_value(2021, 2, 1, 8, 30, 0);
    const struct {
        const char* what;
        Log log;
        bool upload;
        int maximum;  // the bar's, during the upload
    } cases[] = {
        {"a listing", FirstLog({"x"}), false, 0},
        {"an upload", FirstLog(Lines(50, std::string(60, 'q'))), true, 900},
        {"an upload of a log under two seconds", MakeLog(at, at, Lines(50, std::string(60, 'q'))), true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Simulator sim({c.log});
        TForm1& w = Listed(sim);
        krx3sim::Behaviour b;  // paced, and the upload never ends by itself
        b.paced = b.endless_reply = true;
        b.list_delay = milliseconds(1500);  // a listing is closed during its silence
        sim.SetBehaviour(b);
        sim.ClearCommands();
        ModalAnswers answers;
        QTest::mouseClick(c.upload ? w.Button3 : w.Button2, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return sim.Commands().size() >= 3; }));
        if (c.upload) {
            bool part_way = false;
            ASSERT_TRUE(WaitFor(
                [&] {
                    const int v = w.ProgressBar1->value();
                    part_way = part_way || (v > 0 && v < w.ProgressBar1->maximum());
                    return v > 0 && v == w.ProgressBar1->maximum();
                },
                milliseconds(30000)));
            EXPECT_EQ(w.ProgressBar1->maximum(), c.maximum);
            EXPECT_EQ(part_way, c.maximum > 1) << "the bar jumped to full";
            EXPECT_TRUE(ViewLines().empty()) << "the view fills after the reply";
            EXPECT_FALSE(AllEnabled());
        }
        const auto before = std::chrono::steady_clock::now();
        w.close();
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
        EXPECT_EQ(TThread::RunningCount(), 0);
        EXPECT_EQ(list, nullptr) << "the log list was not released";
        EXPECT_TRUE(PortFree(sim.PortPath()));
        form_.reset();
        QApplication::processEvents();
        EXPECT_TRUE(answers.Seen().isEmpty());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog opened after the close";
        EXPECT_TRUE(QDir(dir_.path()).isEmpty());
        SetUp();
    }
}

// Delete asks first: Escape or the close box sends nothing; Enter deletes,
// the window answers during the device's pause, and the logs are listed again.
TEST_F(RunTest, DeleteAsksThenDeletesAndListsAgain) {
    Simulator sim({FirstLog({"x"}), SecondLog()});
    TForm1& w = Listed(sim);
    const std::string name = cf.name;
    const auto close_box = ModalAnswers::On<QMessageBox>([](QMessageBox* box) { box->close(); });
    for (const auto& no : {ModalAnswers::Key(Qt::Key_Escape), close_box}) {
        sim.ClearCommands();
        ModalAnswers answers;
        answers.Add(no);
        QTest::mouseClick(w.Button4, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
        QApplication::processEvents();
        EXPECT_TRUE(sim.Commands().empty());
        EXPECT_EQ(TThread::RunningCount(), 0);
    }
    ModalAnswers answers;
    answers.Add(ModalAnswers::Key(Qt::Key_Return));
    std::vector<std::chrono::steady_clock::time_point> ticks;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticks.push_back(std::chrono::steady_clock::now()); });
    ticker.start(10);
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
    ASSERT_TRUE(WaitIdle());
    ticker.stop();
    ASSERT_EQ(answers.Seen().size(), 1);
    EXPECT_EQ(answers.Seen()[0], QStringLiteral("Delete log file\nSure You want to delete 2021_02_01_08_30_00.log?\n"
                                                "Logfile is irretrievable deleted from KRX3 internal storage .."));
    EXPECT_EQ(sim.Logs().size(), 1u);
    EXPECT_EQ(ComboItems(w.ComboBox2), (std::vector<QString>{"2021-03-05  12:00:00"}));
    EXPECT_EQ(w.Label5->text(), QStringLiteral("2021_03_05_12_00_00.log"));
    const auto commands = sim.Commands();
    const auto del =
        std::find_if(commands.begin(), commands.end(), [&](const auto& k) { return k.text == "fs del " + name; });
    ASSERT_TRUE(del != commands.end() && del != commands.begin());
    EXPECT_TRUE(std::any_of(ticks.begin(), ticks.end(), [&](auto t) {
        return t > (del - 1)->arrived && t < del->arrived;
    })) << "the window stood still during the pause before the delete";
}
