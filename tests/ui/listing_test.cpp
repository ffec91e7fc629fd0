// "List Logs" against the simulated device: what the log box and its labels
// show, what the device said besides its logs, and the controls during a run.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <algorithm>

#include "fatdss.h"
#include "globals.h"
#include "gui_support.h"
#include "simulator.h"
#include "tthread.h"

namespace {

using krx3sim::Log;

Log MakeLog(std::uint32_t start, std::uint32_t stop) { return Log{code_of(start), code_of(stop), {"a line"}}; }

// Three logs, handed to the device latest first.
std::vector<Log> ThreeLogs() {
    return {MakeLog(dos_value(2021, 2, 1, 8, 30, 0), dos_value(2021, 2, 1, 9, 0, 0)),
            MakeLog(dos_value(2017, 6, 15, 10, 30, 20), dos_value(2017, 6, 15, 12, 45, 58)),
            MakeLog(dos_value(2019, 12, 31, 23, 59, 58), dos_value(2020, 1, 2, 2, 3, 4))};
}

class ListingTest : public WindowTest {
protected:
    void List() {
        ASSERT_TRUE(form_->Button2->isEnabled());
        QTest::mouseClick(form_->Button2, Qt::LeftButton);
        ASSERT_TRUE(WaitIdle());
    }
    krx3sim::Simulator sim_{ThreeLogs()};
};

}  // namespace

// Earliest first, the first shown; each entry shows its own log, also two
// that started in the same second and so read alike.
TEST_F(ListingTest, ListsEarliestFirstAndEachEntryShowsItsOwnLog) {
    std::vector<Log> logs = ThreeLogs();
    logs.push_back(MakeLog(dos_value(2021, 2, 1, 8, 30, 0), dos_value(2021, 2, 1, 8, 35, 0)));
    sim_.SetLogs(logs);
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    for (QWidget* c : std::initializer_list<QWidget*>{w.Button1, w.Button2, w.Button3, w.Button4, w.Button5,
                                                      w.ComboBox1, w.ComboBox2})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString() << " usable during the run";
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
    for (QWidget* c : std::initializer_list<QWidget*>{w.Button1, w.Button2, w.Button3, w.Button4, w.Button5,
                                                      w.ComboBox1, w.ComboBox2})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
}

// Only logs are listed; a reply without a log is told as plain text, an
// empty device is not, and a listing leaves nothing of the one before.
TEST_F(ListingTest, OnlyLogsAreListedAndAReplyWithoutALogIsTold) {
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
    TypePort(sim_.PortPath());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim_.SetBehaviour(krx3sim::Behaviour());
        sim_.SetLogs(ThreeLogs());
        List();  // a full listing before
        w.RichEdit1->setPlainText(QStringLiteral("viewed before"));
        krx3sim::Behaviour b;
        b.extra_list_lines = c.not_logs;
        sim_.SetBehaviour(b);
        sim_.SetLogs(c.logs ? ThreeLogs() : std::vector<Log>{});
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

TEST_F(ListingTest, ASecondClickStartsNoSecondRun) {
    TForm1& w = Open();
    TypePort(sim_.PortPath());
    w.Button2Click();
    w.Button2Click();  // before the worker's first step
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    ASSERT_TRUE(WaitIdle());
    const auto commands = sim_.Commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const auto& c) { return c.text == "fs list"; }), 1);
}
