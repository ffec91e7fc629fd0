// "List Logs" against the simulated device: the listing, its conversation,
// the buttons before, during and after a run, and its failures.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "fatdss.h"
#include "globals.h"
#include "gui_support.h"
#include "platform_support.h"
#include "serial.h"
#include "serial_os.h"
#include "simulator.h"
#include "tthread.h"
#include "workers.h"

namespace {

using krx3sim::Log;
using krx3sim::Simulator;

Log MakeLog(std::uint32_t start, std::uint32_t stop, int lines = 3) {
    Log log{code_of(start), code_of(stop), {}};
    for (int i = 0; i < lines; ++i) log.lines.push_back("line " + std::to_string(i));
    return log;
}

// Three logs, handed to the device latest first.
std::vector<Log> ThreeLogs() {
    return {MakeLog(dos_value(2021, 2, 1, 8, 30, 0), dos_value(2021, 2, 1, 9, 0, 0)),
            MakeLog(dos_value(2017, 6, 15, 10, 30, 20), dos_value(2017, 6, 15, 12, 45, 58)),
            MakeLog(dos_value(2019, 12, 31, 23, 59, 58), dos_value(2020, 1, 2, 2, 3, 4))};
}

std::vector<std::string> Texts(const std::vector<krx3sim::Command>& commands) {
    std::vector<std::string> texts;
    for (const auto& c : commands) texts.push_back(c.text);
    return texts;
}

bool AllButtons(TForm1& w, bool enabled) {
    for (QPushButton* b : {w.Button1, w.Button2, w.Button3, w.Button4, w.Button5})
        if (b->isEnabled() != enabled) return false;
    return true;
}

class ListingTest : public WindowTest {
protected:
    void TearDown() override {
        TWorker::Checkpoint = nullptr;
        WindowTest::TearDown();
    }
    void List() {
        ASSERT_TRUE(form_->Button2->isEnabled());
        QTest::mouseClick(form_->Button2, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle());
    }
    Simulator sim_{ThreeLogs()};
};

}  // namespace

TEST_F(ListingTest, ListsEarliestFirstAndShowsTheFirst) {
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    // From the click on, every button and both combo boxes are disabled.
    EXPECT_TRUE(AllButtons(w, false));
    EXPECT_FALSE(w.ComboBox1->isEnabled());
    EXPECT_FALSE(w.ComboBox2->isEnabled());
    ASSERT_TRUE(WaitIdle());

    EXPECT_EQ(ComboItems(w.ComboBox2), (std::vector<QString>{"2017-06-15  10:30:20", "2019-12-31  23:59:58",
                                                            "2021-02-01  08:30:00"}));
    EXPECT_EQ(w.ComboBox2->currentIndex(), 0);
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("2017-06-15  10:30:20"));
    EXPECT_EQ(w.Label5->text(), QStringLiteral("2017_06_15_10_30_20.log"));
    EXPECT_EQ(w.Label6->text(), QStringLiteral("2017-06-15 10:30:20"));
    EXPECT_EQ(w.Label7->text(), QStringLiteral("2017-06-15 12:45:58"));
    EXPECT_EQ(w.Label8->text(), QStringLiteral("2h 15m 38s"));
    EXPECT_EQ(cf.name, "EBQNYWG");
    EXPECT_EQ(cf.file, "2017_06_15_10_30_20.log");
    EXPECT_EQ(list_state, 1);
    EXPECT_TRUE(AllButtons(w, true));
    EXPECT_TRUE(w.ComboBox1->isEnabled());
    EXPECT_TRUE(w.ComboBox2->isEnabled());

    // The conversation, with its pauses: 100 ms after "fs stop" and the
    // drain's idle read before each command.
    const auto commands = sim_.Commands();
    ASSERT_EQ(Texts(commands), (std::vector<std::string>{"md mach", "fs stop", "fs list"}));
    using std::chrono::milliseconds;
    EXPECT_GE(commands[1].arrived - commands[0].arrived, milliseconds(20));
    EXPECT_GE(commands[2].arrived - commands[1].arrived, milliseconds(120));
    EXPECT_LT(commands[2].arrived - commands[0].arrived, milliseconds(3000));
}

TEST_F(ListingTest, ChoosingAnEntryShowsItsDetailsAndTypingIsIgnored) {
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    List();
    w.ComboBox2->setCurrentIndex(2);
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("2021-02-01  08:30:00"));
    EXPECT_EQ(w.Label5->text(), QStringLiteral("2021_02_01_08_30_00.log"));
    EXPECT_EQ(w.Label8->text(), QStringLiteral("0h 30m 0s"));
    EXPECT_EQ(cf.dur, 1800u);

    // Typing leaves no entry selected: no error box, labels and cf as they were.
    ModalAnswers answers;
    QTest::keyClicks(w.ComboBox2->lineEdit(), QStringLiteral("20"));
    QApplication::processEvents();
    EXPECT_TRUE(answers.Seen().isEmpty());
    EXPECT_EQ(w.Label5->text(), QStringLiteral("2021_02_01_08_30_00.log"));
    EXPECT_EQ(cf.file, "2021_02_01_08_30_00.log");

    w.ComboBox2->setCurrentIndex(1);
    EXPECT_EQ(w.Label6->text(), QStringLiteral("2019-12-31 23:59:58"));
    EXPECT_EQ(w.Label8->text(), QStringLiteral("26h 3m 6s"));
    EXPECT_EQ(cf.name, code_of(dos_value(2019, 12, 31, 23, 59, 58)));
}

TEST_F(ListingTest, EntriesThatReadAlikeAreStillTwoChoices) {
    // Two logs that started in the same second: their entries read the same.
    const std::uint32_t start = dos_value(2022, 1, 10, 7, 0, 0);
    sim_.SetLogs({MakeLog(start, dos_value(2022, 1, 10, 7, 5, 0)), MakeLog(start, dos_value(2022, 1, 10, 9, 0, 0))});
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    List();
    ASSERT_EQ(w.ComboBox2->count(), 2);
    ASSERT_EQ(w.ComboBox2->itemText(0), w.ComboBox2->itemText(1));
    EXPECT_EQ(w.Label8->text(), QStringLiteral("0h 5m 0s"));
    w.ComboBox2->setCurrentIndex(1);
    EXPECT_EQ(w.Label8->text(), QStringLiteral("2h 0m 0s"));
    EXPECT_EQ(cf.dur, 7200u);
}

TEST_F(ListingTest, AnEmptyListingAfterAFullOneLeavesNothingBehind) {
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    List();
    ASSERT_EQ(w.ComboBox2->count(), 3);
    w.RichEdit1->setPlainText(QStringLiteral("viewed before"));

    sim_.SetLogs({});
    List();
    EXPECT_EQ(w.ComboBox2->count(), 0);
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
    for (QLabel* l : {w.Label5, w.Label6, w.Label7, w.Label8}) EXPECT_TRUE(l->text().isEmpty());
    EXPECT_TRUE(w.RichEdit1->toPlainText().isEmpty());
    EXPECT_EQ(list_state, 0);
    EXPECT_TRUE(w.Button1->isEnabled());
    EXPECT_TRUE(w.Button2->isEnabled());
    EXPECT_TRUE(w.Button5->isEnabled());
    EXPECT_FALSE(w.Button3->isEnabled());
    EXPECT_FALSE(w.Button4->isEnabled());
}

TEST_F(ListingTest, APortThatCannotBeOpenedIsReportedNotShownAsEmpty) {
    TForm1& w = Open();
    TypePort(MissingPort());
    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
    ASSERT_EQ(answers.Seen().size(), 1);
    EXPECT_TRUE(answers.Seen()[0].contains(QString::fromStdString(MissingPort())));
    EXPECT_TRUE(answers.Seen()[0].contains(QString::fromStdString(MissingPortReason())));
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
    EXPECT_TRUE(w.Button2->isEnabled());
    EXPECT_FALSE(w.Button3->isEnabled());
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
}

TEST_F(ListingTest, APortHeldByAnotherOpenerIsReportedAndNothingIsSent) {
    if (RunningUnderWine()) GTEST_SKIP() << kWineSharesPorts;
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    std::string error;
    const com_handle_t other = serial_os::Open(sim_.PortPath(), &error);
    ASSERT_NE(other, INVALID_COM_HANDLE) << error;
    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
    serial_os::Close(other);
    ASSERT_EQ(answers.Seen().size(), 1);
    EXPECT_TRUE(answers.Seen()[0].contains(QString::fromStdString(sim_.PortPath())));
    EXPECT_TRUE(sim_.Commands().empty());
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
}

TEST_F(ListingTest, PortAndLogChoicesWaitWhileAListingRuns) {
    krx3sim::Behaviour slow;
    slow.delay_before_reply = std::chrono::milliseconds(40);
    slow.pause_every_lines = 1;
    slow.pause = std::chrono::milliseconds(30);
    sim_.SetBehaviour(slow);
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    const std::string port = selport;
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    // While it runs, neither a port nor a log can be chosen.
    ASSERT_TRUE(WaitFor([&] { return sim_.Commands().size() >= 1; }));
    QTest::keyClicks(w.ComboBox1->lineEdit(), QStringLiteral("X"));
    QTest::keyClicks(w.ComboBox2->lineEdit(), QStringLiteral("X"));
    EXPECT_EQ(selport, port);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(selport, port);
    EXPECT_EQ(w.ComboBox2->count(), 3);
    EXPECT_EQ(list->Count(), 3);
    EXPECT_EQ(cf.name, "EBQNYWG");
}

TEST_F(ListingTest, ASecondClickStartsNoSecondRun) {
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    w.Button2Click();
    w.Button2Click();  // before the worker's first step
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    const auto texts = Texts(sim_.Commands());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "fs list"), 1);
}

TEST_F(ListingTest, AnErrorInsideARunClosesThePortAndRestoresTheButtons) {
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    TWorker::Checkpoint = [](const char* point) {
        if (std::string(point) == "listed") throw std::runtime_error("decoder exploded");
    };
    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0 && TThread::RunningCount() == 0; }));
    ASSERT_EQ(answers.Seen().size(), 1);
    EXPECT_TRUE(answers.Seen()[0].contains(QStringLiteral("decoder exploded")));
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    EXPECT_TRUE(w.Button1->isEnabled());
    EXPECT_TRUE(w.Button5->isEnabled());
    EXPECT_TRUE(w.ComboBox1->isEnabled());
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
}

TEST_F(ListingTest, ClosingDuringAListingEndsItPromptly) {
    krx3sim::Behaviour slow;
    slow.delay_before_reply = std::chrono::milliseconds(40);
    slow.pause_every_lines = 1;
    slow.pause = std::chrono::milliseconds(40);
    sim_.SetBehaviour(slow);
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return sim_.Commands().size() >= 3; }));
    const auto before = std::chrono::steady_clock::now();
    w.close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    EXPECT_EQ(TThread::RunningCount(), 0);
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE);
    form_.reset();
}

// What a device may do to a listing besides answering it at once: start
// late, pause, say nothing, or say things that are not logs. Only logs are
// listed; silence and a reply without a log are told (as plain text), an
// empty device is not.
TEST_F(ListingTest, WhatTheDeviceSaidIsToldAndOnlyLogsAreListed) {
    using std::chrono::milliseconds;
    const std::vector<std::string> kNotLogs = {"", "OK", "FS ERROR 17"};
    const std::vector<QString> kThree = {"2017-06-15  10:30:20", "2019-12-31  23:59:58", "2021-02-01  08:30:00"};
    struct Case {
        const char* what;
        std::function<void(krx3sim::Behaviour&)> behave;
        bool logs;                    // the device holds the three logs
        std::vector<QString> listed;  // empty: "no entries"
        const char* told;             // a word of the one box shown, or nullptr: none
    };
    const Case cases[] = {
        {"a slow start", [](krx3sim::Behaviour& b) { b.list_delay = milliseconds(1500); }, true, kThree, nullptr},
        {"a pause after each line",
         [](krx3sim::Behaviour& b) {
             b.pause_every_lines = 1;
             b.pause = milliseconds(240);
         },
         true, kThree, nullptr},
        {"lines that are not logs", [&](krx3sim::Behaviour& b) { b.extra_list_lines = kNotLogs; }, true, kThree,
         nullptr},
        {"an empty device", [](krx3sim::Behaviour&) {}, false, {}, nullptr},
        {"silence", [](krx3sim::Behaviour& b) { b.silent = true; }, true, {}, "did not answer"},
        {"only lines that are not logs", [&](krx3sim::Behaviour& b) { b.extra_list_lines = kNotLogs; }, false, {},
         "FS ERROR 17"},
        {"markup", [](krx3sim::Behaviour& b) { b.extra_list_lines = {"<h1>BIG</h1> ESINAHC"}; }, false, {},
         "<h1>BIG</h1> ESINAHC"},
    };
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        krx3sim::Behaviour b;
        c.behave(b);
        sim_.SetBehaviour(b);
        sim_.SetLogs(c.logs ? ThreeLogs() : std::vector<Log>{});
        ModalAnswers answers;
        bool plain = true;
        answers.Add([&plain](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) return false;
            plain = box->textFormat() == Qt::PlainText;
            box->button(QMessageBox::Ok)->click();
            return true;
        });
        List();
        if (c.told) {
            ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
        }
        QApplication::processEvents();
        EXPECT_EQ(ComboItems(w.ComboBox2), c.listed);
        EXPECT_EQ(list->Count(), static_cast<int>(c.listed.size())) << "item i of the box is line i of the list";
        EXPECT_EQ(w.Button3->isEnabled(), !c.listed.empty());
        if (c.listed.empty()) {
            EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
        }
        if (!c.told) {
            EXPECT_TRUE(answers.Seen().isEmpty()) << answers.Seen().join("|").toStdString();
            continue;
        }
        ASSERT_EQ(answers.Seen().size(), 1);
        EXPECT_TRUE(answers.Seen()[0].contains(QString::fromLatin1(c.told))) << answers.Seen()[0].toStdString();
        EXPECT_TRUE(plain) << "the device's text was shown as markup";
    }
}
