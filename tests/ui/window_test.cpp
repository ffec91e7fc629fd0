// The window as a person meets it: its title, size, captions, tab order and
// anchors; the choice of a port and the scan behind "Scan Port"; the report
// of an error in a handler.
#include <stdexcept>

#include "gui_support.h"

namespace {

std::string Adapter(const std::string& key, const std::string& port) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\" + key +
           "\\0000\\Device Parameters]\n\"PortName\"=\"" + port + "\"\n\"LatencyTimer\"=dword:00000010\n\n";
}

std::string Registry(const std::vector<std::string>& ports, const std::string& devices) {
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += "\"\\\\Device\\\\VCP" + std::to_string(i) + "\"=\"" + ports[i] + "\"\n";
    return text + "\n" + devices;
}

const std::string kCom3 = Adapter("VID_0403+PID_6015+DA00AAAAA", "COM3");
const std::string kCom10 = Adapter("VID_0403+PID_6015+DA00BBBBA", "COM10");

}  // namespace

TEST_F(WindowTest, APersonSeesTheToolsNameAndTabsThroughItInTheLayoutsOrder) {
    TForm1& w = Open();
    EXPECT_TRUE(w.windowTitle().startsWith("KRX3") && w.windowTitle().contains("LogFile Upload Tool"))
        << w.windowTitle().toStdString();
    EXPECT_EQ(w.size(), QSize(664, 434));
    const std::vector<QString> captions = {"Scan Port", "List Logs", "Upload Log", "Delete Log", "View Log"};
    EXPECT_EQ((std::vector<QString>{w.Button1->text(), w.Button2->text(), w.Button3->text(), w.Button4->text(),
                                    w.Button5->text()}),
              captions);
    EXPECT_FALSE(w.Button3->isEnabled() || w.Button4->isEnabled()) << "no log listed yet";
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));

    // With every control usable, Tab goes down the left column, then to the view.
    w.Button3->setEnabled(true);
    w.Button4->setEnabled(true);
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.Button1->setFocus();
    std::vector<QWidget*> order;
    for (int i = 0; i < 8; ++i) {
        order.push_back(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order, (std::vector<QWidget*>{w.Button1, w.Button2, w.ComboBox1, w.Button3, w.Button4, w.RichEdit1,
                                            w.ComboBox2, w.Button5}));

    // Made larger, the view and the bar grow with it; the lower buttons keep
    // to the bottom, the upper ones to the top.
    const QRect view = w.RichEdit1->geometry(), upload = w.Button3->geometry(), scan = w.Button1->geometry();
    w.resize(864, 634);
    ASSERT_TRUE(WaitFor([&] { return w.RichEdit1->width() == view.width() + 200; }));
    EXPECT_EQ(w.RichEdit1->geometry(), view.adjusted(0, 0, 200, 200));
    EXPECT_EQ(w.Button3->geometry(), upload.translated(0, 200));
    EXPECT_EQ(w.ProgressBar1->geometry().bottom(), w.Button3->geometry().bottom());
    EXPECT_EQ(w.Button1->geometry(), scan);
}

// The scan lists the adapters' ports sorted as text and chooses the first;
// the logs listed belong to their port: a port picked, typed, or found by a
// scan that finds another port resets them; a scan finding the same keeps them.
TEST_F(WindowTest, ScanAndChoiceOfAPort) {
    TForm1& w = Open(Registry({"COM1", "COM3", "COM10"}, kCom3 + kCom10));
    EXPECT_EQ(ComboItems(w.ComboBox1), (std::vector<QString>{"COM10", "COM3"}));
    EXPECT_EQ(selport, "COM10");
    const struct {
        const char* how;
        std::string registry;  // "": the second port is picked from the list
        const char* port;      // the port afterwards
        bool resets;
    } cases[] = {
        {"picked", "", "COM3", true},
        {"scan finds the same port", Registry({"COM3"}, kCom3), "COM3", false},
        {"scan finds another port", Registry({"COM10"}, kCom10), "COM10", true},
        {"scan finds no adapter", Registry({"COM1"}, ""), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        list->Clear();  // as after a listing
        list->Add("EBQNYWG EBQOFQZ");
        w.ComboBox2->addItem(QStringLiteral("2017-06-15  10:30:20"));
        w.Label5->setText(QStringLiteral("2017_06_15_10_30_20.log"));
        w.RichEdit1->setPlainText(QStringLiteral("a line"));
        w.Button3->setEnabled(true);
        w.Button4->setEnabled(true);
        if (c.registry.empty()) {
            w.ComboBox1->setCurrentIndex(1);
        } else {
            const std::string registry = c.registry;
            TForm1::SetRegistryFactory([registry] { return RecordedRegistryFromText(registry); });
            QTest::mouseClick(w.Button1, Qt::LeftButton);
        }
        EXPECT_EQ(selport, c.port);
        EXPECT_EQ(list->Count() == 0, c.resets);
        EXPECT_EQ(w.ComboBox2->count() == 0, c.resets);
        EXPECT_EQ(w.Label5->text().isEmpty(), c.resets);
        EXPECT_EQ(w.RichEdit1->toPlainText().isEmpty(), c.resets);
        EXPECT_EQ(w.Button3->isEnabled() || w.Button4->isEnabled(), !c.resets);
    }
    // Typed: any text is a port, and nothing runs without one.
    TypePort("COM77");
    EXPECT_EQ(selport, "COM77");
    TypePort("");
    w.Button3->setEnabled(true);
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    QTest::mouseClick(w.Button3, Qt::LeftButton);
    EXPECT_EQ(TThread::RunningCount(), 0);
    EXPECT_TRUE(w.Button2->isEnabled());
}

TEST_F(WindowTest, AnErrorInAHandlerIsShownAndTheProgramGoesOn) {
    TForm1& w = Open(Registry({"COM3", "COM10"}, kCom3 + kCom10));
    TForm1::SetRegistryFactory(
        []() -> std::unique_ptr<RegistrySource> { throw std::runtime_error("Registry key unreadable"); });
    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
    ASSERT_EQ(answers.Seen().size(), 1);
    EXPECT_TRUE(answers.Seen()[0].contains(QStringLiteral("Registry key unreadable")));
    EXPECT_EQ(w.ComboBox1->count(), 2) << "the failed handler changed the port list";
    TypePort("COM4");
    EXPECT_EQ(selport, "COM4");
}
