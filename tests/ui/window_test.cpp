// The window as it first shows, its anchors and tab order, the manual choice
// of a port, the port scan behind "Scan Port", and the general error report.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

#include "globals.h"
#include "gui_support.h"
#include "tthread.h"

namespace {

std::string Adapter(const std::string& key, const std::string& port) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\" + key +
           "\\0000\\Device Parameters]\n\"PortName\"=\"" + port + "\"\n\"LatencyTimer\"=dword:00000010\n\n";
}

std::string Registry(const std::vector<std::string>& ports, const std::string& devices) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n";
    for (std::size_t i = 0; i < ports.size(); ++i)
        text += "\"\\\\Device\\\\VCP" + std::to_string(i) + "\"=\"" + ports[i] + "\"\n";
    return text + "\n" + devices;
}

const std::string kTwoAdapters = Registry({"COM1", "COM3", "COM10"}, Adapter("VID_0403+PID_6015+DA00AAAAA", "COM3") +
                                                                        Adapter("VID_0403+PID_6015+DA00BBBBA", "COM10"));

}  // namespace

TEST_F(WindowTest, FirstShowingMatchesTheLayout) {
    TForm1& w = Open();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("KRX3-V01 LogFile Upload Tool v1.0 (64-bit Windows)"));
    EXPECT_EQ(w.size(), QSize(664, 434));

    struct Expect {
        QWidget* widget;
        QRect rect;
        bool enabled;
    };
    const Expect expected[] = {
        {w.Button1, {16, 8, 137, 25}, true},      {w.ComboBox1, {16, 39, 137, 21}, true},
        {w.Button2, {16, 76, 137, 25}, true},     {w.ComboBox2, {16, 107, 137, 21}, true},
        {w.Button5, {16, 307, 137, 25}, true},    {w.Button4, {16, 347, 137, 25}, false},
        {w.Button3, {16, 387, 137, 25}, false},   {w.RichEdit1, {200, 8, 450, 373}, true},
        {w.ProgressBar1, {200, 387, 450, 25}, true},
    };
    for (const Expect& e : expected) {
        EXPECT_EQ(e.widget->geometry(), e.rect) << e.widget->objectName().toStdString();
        EXPECT_EQ(e.widget->isEnabled(), e.enabled) << e.widget->objectName().toStdString();
    }
    EXPECT_EQ(w.Button1->text(), QStringLiteral("Scan Port"));
    EXPECT_EQ(w.Button2->text(), QStringLiteral("List Logs"));
    EXPECT_EQ(w.Button3->text(), QStringLiteral("Upload Log"));
    EXPECT_EQ(w.Button4->text(), QStringLiteral("Delete Log"));
    EXPECT_EQ(w.Button5->text(), QStringLiteral("View Log"));
    const QLabel* captions[] = {w.Label1, w.Label2, w.Label3, w.Label4};
    const char* texts[] = {"LogFile:", "Start: ", "Stop:", "Dur:"};
    const int tops[] = {144, 163, 182, 201};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(captions[i]->text(), QString::fromLatin1(texts[i]));
        EXPECT_EQ(captions[i]->pos(), QPoint(16, tops[i]));
    }
    const QLabel* values[] = {w.Label5, w.Label6, w.Label7, w.Label8};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(values[i]->text().isEmpty()) << "placeholder caption left: " << values[i]->text().toStdString();
        EXPECT_EQ(values[i]->pos(), QPoint(59, tops[i]));
    }
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
    EXPECT_EQ(w.ComboBox2->count(), 0);
    EXPECT_TRUE(w.RichEdit1->isReadOnly());
    EXPECT_EQ(w.RichEdit1->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(w.ProgressBar1->minimum(), 0);
    EXPECT_EQ(w.ProgressBar1->maximum(), 100);
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    EXPECT_EQ(w.font().pointSize(), 8);
    EXPECT_EQ(w.font().families().value(0), QStringLiteral("Tahoma"));
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.windowIcon().availableSizes().size(), 7);
}

TEST_F(WindowTest, DialogsAreConfiguredInTheForm) {
    TForm1& w = Open();
    EXPECT_EQ(w.SaveDialog1->windowTitle(), QStringLiteral("Save KRX3 Logfile (.log)"));
    EXPECT_EQ(w.OpenDialog1->windowTitle(), QStringLiteral("View KRX3 Logfile (.log)"));
    for (QFileDialog* d : {w.SaveDialog1, w.OpenDialog1}) {
        EXPECT_EQ(d->nameFilters(), QStringList{QStringLiteral("log files (*.log)")});
        EXPECT_EQ(d->defaultSuffix(), QStringLiteral("log"));
        EXPECT_EQ(d->fileMode(), QFileDialog::AnyFile);
    }
    EXPECT_EQ(w.SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(w.SaveDialog1->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(w.OpenDialog1->acceptMode(), QFileDialog::AcceptOpen);
}

TEST_F(WindowTest, AnchorsHoldOnResize) {
    TForm1& w = Open();
    const QRect button1 = w.Button1->geometry();
    const QRect combo2 = w.ComboBox2->geometry();
    w.resize(864, 634);
    ASSERT_TRUE(WaitFor([&] { return w.size() == QSize(864, 634); }));
    EXPECT_EQ(w.RichEdit1->geometry(), QRect(200, 8, 650, 573));
    EXPECT_EQ(w.ProgressBar1->geometry(), QRect(200, 587, 650, 25));
    EXPECT_EQ(w.Button3->geometry(), QRect(16, 587, 137, 25));
    EXPECT_EQ(w.Button4->geometry(), QRect(16, 547, 137, 25));
    EXPECT_EQ(w.Button5->geometry(), QRect(16, 507, 137, 25));
    EXPECT_EQ(w.Button1->geometry(), button1);
    EXPECT_EQ(w.ComboBox2->geometry(), combo2);
    w.resize(664, 434);
    ASSERT_TRUE(WaitFor([&] { return w.size() == QSize(664, 434); }));
    EXPECT_EQ(w.RichEdit1->geometry(), QRect(200, 8, 450, 373));
    EXPECT_EQ(w.Button3->geometry(), QRect(16, 387, 137, 25));
}

TEST_F(WindowTest, TabOrderFollowsTheLayout) {
    TForm1& w = Open();
    const std::vector<QWidget*> ours = {w.Button1, w.Button2, w.ComboBox1, w.Button3,
                                        w.Button4, w.RichEdit1, w.ComboBox2, w.Button5};
    std::vector<QWidget*> chain;
    QWidget* at = w.Button1;
    for (int guard = 0; guard < 200 && chain.size() < ours.size(); ++guard) {
        if (std::find(ours.begin(), ours.end(), at) != ours.end() &&
            std::find(chain.begin(), chain.end(), at) == chain.end())
            chain.push_back(at);
        at = at->nextInFocusChain();
    }
    EXPECT_EQ(chain, ours);
}

TEST_F(WindowTest, ScanListsAdapterPortsSortedAsText) {
    TForm1& w = Open(kTwoAdapters);
    EXPECT_EQ(ComboItems(w.ComboBox1), (std::vector<QString>{"COM10", "COM3"}));
    EXPECT_EQ(w.ComboBox1->currentText(), QStringLiteral("COM10"));
    EXPECT_EQ(selport, "COM10");
    // The scan's own change of the port box is no choice of a port.
    EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));

    // The adapters are gone and so is the serial port map: the list is
    // emptied, the box's text stays, and no port is selected.
    TForm1::SetRegistryFactory([] { return RecordedRegistryFromText("Windows Registry Editor Version 5.00\n"); });
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(w.ComboBox1->count(), 0);
    EXPECT_EQ(w.ComboBox1->currentText(), QStringLiteral("COM10"));
    EXPECT_EQ(selport, "");

    // A map without a matching port empties the text too.
    TForm1::SetRegistryFactory([] { return RecordedRegistryFromText(Registry({"COM1"}, "")); });
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    EXPECT_EQ(w.ComboBox1->count(), 0);
    EXPECT_EQ(w.ComboBox1->currentText(), QString());
    EXPECT_EQ(selport, "");
}

// The logs listed belong to their port: a port picked from the list, or a
// scan that finds another port first, resets them; a scan that finds the
// same port keeps them.
TEST_F(WindowTest, ChoosingAPortResetsTheLogControls) {
    TForm1& w = Open(kTwoAdapters);
    const std::string kOnlyCom3 = Registry({"COM3"}, Adapter("VID_0403+PID_6015+DA00AAAAA", "COM3"));
    const std::string kOnlyCom10 = Registry({"COM10"}, Adapter("VID_0403+PID_6015+DA00BBBBA", "COM10"));
    const struct {
        const char* how;
        std::string registry;  // empty: the port is picked from the list
        const char* port;      // the port afterwards
        bool resets;
    } cases[] = {
        {"picked", "", "COM3", true},
        {"scan finds the same port", kOnlyCom3, "COM3", false},
        {"scan finds another port", kOnlyCom10, "COM10", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        // A state as after a listing and an upload.
        list->Clear();
        list->Add("EBQNYWG EBQOFQZ");
        w.ComboBox2->clear();
        w.ComboBox2->addItem(QStringLiteral("2017-06-15  10:30:20"));
        w.Label5->setText(QStringLiteral("2017_06_15_10_30_20.log"));
        w.Label8->setText(QStringLiteral("2h 15m 38s"));
        w.RichEdit1->setPlainText(QStringLiteral("a line"));
        w.Button3->setEnabled(true);
        w.Button4->setEnabled(true);
        list_state = 1;
        cf.name = "EBQNYWG";
        cf.dur = 8138;

        if (c.registry.empty()) {
            w.ComboBox1->setCurrentIndex(1);  // picked from the list
        } else {
            const std::string registry = c.registry;
            TForm1::SetRegistryFactory([registry] { return RecordedRegistryFromText(registry); });
            QTest::mouseClick(w.Button1, Qt::LeftButton);
        }
        EXPECT_EQ(selport, c.port);
        EXPECT_EQ(list->Count(), c.resets ? 0 : 1);
        EXPECT_EQ(w.ComboBox2->count(), c.resets ? 0 : 1);
        EXPECT_EQ(w.Label5->text().isEmpty(), c.resets);
        EXPECT_EQ(w.Label8->text().isEmpty(), c.resets);
        EXPECT_EQ(list_state, c.resets ? 0 : 1);
        EXPECT_EQ(w.Button3->isEnabled(), !c.resets);
        EXPECT_EQ(w.Button4->isEnabled(), !c.resets);
        EXPECT_EQ(w.RichEdit1->toPlainText().isEmpty(), c.resets);
        if (c.resets) {
            EXPECT_EQ(w.ComboBox2->currentText(), QStringLiteral("no entries"));
        }
        EXPECT_TRUE(w.Button1->isEnabled());
        EXPECT_TRUE(w.Button2->isEnabled());
        EXPECT_TRUE(w.Button5->isEnabled());
        EXPECT_EQ(cf.name, "EBQNYWG") << "the chosen log's record stays as it was";
        EXPECT_EQ(cf.dur, 8138u);
    }

    // Typed: every keystroke is a port change, and the text need not be listed.
    TypePort("COM77");
    EXPECT_EQ(selport, "COM77");
    EXPECT_EQ(w.ComboBox1->count(), 1);
}

TEST_F(WindowTest, ListAndUploadDoNothingWithoutAPort) {
    TForm1& w = Open();
    ASSERT_EQ(selport, "");
    w.Button3->setEnabled(true);
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    QTest::mouseClick(w.Button3, Qt::LeftButton);
    EXPECT_EQ(TThread::RunningCount(), 0);
    EXPECT_TRUE(w.Button1->isEnabled());
    EXPECT_TRUE(w.Button2->isEnabled());
    EXPECT_TRUE(w.Button3->isEnabled());
    EXPECT_TRUE(w.Button5->isEnabled());
    EXPECT_TRUE(w.ComboBox1->isEnabled());
}

TEST_F(WindowTest, AnErrorInAHandlerIsShownAndTheProgramGoesOn) {
    TForm1& w = Open(kTwoAdapters);
    TForm1::SetRegistryFactory([]() -> std::unique_ptr<RegistrySource> {
        throw std::runtime_error("Registry key unreadable");
    });
    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return answers.Pending() == 0; }));
    ASSERT_EQ(answers.Seen().size(), 1);
    EXPECT_TRUE(answers.Seen()[0].contains(QStringLiteral("Registry key unreadable")));
    // Nothing was changed by the failed handler, and the window still works.
    EXPECT_EQ(w.ComboBox1->count(), 2);
    EXPECT_EQ(selport, "COM10");
    TypePort("COM4");
    EXPECT_EQ(selport, "COM4");
}

TEST_F(WindowTest, ClosingBeforeAnyListingReleasesTheList) {
    TForm1& w = Open();
    w.close();
    EXPECT_EQ(list, nullptr);
    form_.reset();
}
