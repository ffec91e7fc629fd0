// The window as a person meets it, and the choice of a port.
#include <stdexcept>
#include <tuple>

#include "gui_support.h"
#include "sim/recorded_export.h"

namespace {

const std::string kCom3 = RecordedAdapter("VID_0403+PID_6015+DA00AAAAA", "COM3");
const std::string kCom10 = RecordedAdapter("VID_0403+PID_6015+DA00BBBBA", "COM10");

}  // namespace

// What a person sees first: the tool's name, the adapters' ports sorted as
// text with the first chosen, and no log to upload or delete yet. Made
// larger, the view grows and the lower buttons keep to the bottom. An error
// in a handler is shown and changes nothing. The logs listed belong to their
// port: a port picked, or found by a scan that finds another port, resets
// them; a scan finding the same keeps them.
TEST_F(WindowTest, APersonSeesTheToolAndChoosesAPort) {
    TForm1& w = Open(RecordedExport({"COM1", "COM3", "COM10"}, kCom3 + kCom10));
    const auto scan = [&](TForm1::RegistryFactory source) {
        TForm1::SetRegistryFactory(std::move(source));
        QTest::mouseClick(w.Button1, Qt::LeftButton);  // returns when a box it shows is answered
    };
    EXPECT_TRUE(w.windowTitle().startsWith("KRX3") && w.windowTitle().contains("LogFile Upload Tool"))
        << w.windowTitle().toStdString();
    EXPECT_EQ(ComboItems(w.ComboBox1), (QStringList{"COM10", "COM3"}));
    EXPECT_EQ(selport, "COM10");
    EXPECT_EQ(Usable(), (std::vector<bool>{true, true, false, false, true, true, true})) << "no log listed yet";

    const QRect view = w.RichEdit1->geometry(), upload = w.Button3->geometry();
    w.resize(w.size() + QSize(200, 200));
    ASSERT_TRUE(WaitFor([&] { return w.RichEdit1->geometry() == view.adjusted(0, 0, 200, 200); }));
    EXPECT_EQ(w.Button3->geometry(), upload.translated(0, 200));

    ModalAnswers answers;
    answers.Add(ModalAnswers::ClickOk());
    scan([]() -> std::unique_ptr<RegistrySource> { throw std::runtime_error("Registry key unreadable"); });
    EXPECT_EQ(answers.Seen().size(), 1);
    EXPECT_TRUE(answers.Seen().value(0).contains(QStringLiteral("Registry key unreadable")));
    EXPECT_EQ(ComboItems(w.ComboBox1), (QStringList{"COM10", "COM3"}));

    // How the port is chosen; the registry scanned ("": the second port is
    // picked from the list); the port afterwards; whether the logs are reset.
    const std::tuple<const char*, std::string, const char*, bool> cases[] = {
        {"picked", "", "COM3", true},
        {"scan finds the same port", RecordedExport({"COM3"}, kCom3), "COM3", false},
        {"scan finds another port", RecordedExport({"COM10"}, kCom10), "COM10", true},
        {"scan finds no adapter", RecordedExport({"COM1"}, ""), "", true},
    };
    for (const auto& [how, registry, port, resets] : cases) {
        SCOPED_TRACE(how);
        list->Add("EBQNYWG EBQOFQZ");  // as after a listing and an upload
        w.ComboBox2->addItem(QStringLiteral("2017-06-15  10:30:20"));
        w.Label5->setText(QStringLiteral("2017_06_15_10_30_20.log"));
        w.RichEdit1->setPlainText(QStringLiteral("a line"));
        w.Button3->setEnabled(true);
        const std::string r = registry;
        r.empty() ? w.ComboBox1->setCurrentIndex(1) : scan([r] { return RecordedRegistryFromText(r); });
        EXPECT_EQ(selport, port);
        const bool no_entries = w.ComboBox2->count() == 0 && w.ComboBox2->currentText() == QStringLiteral("no entries");
        EXPECT_EQ((std::vector<bool>{list->Count() == 0, no_entries, w.Label5->text().isEmpty(),
                                     w.RichEdit1->toPlainText().isEmpty(), !w.Button3->isEnabled()}),
                  std::vector<bool>(5, resets));
    }
    // Nothing runs without a port.
    TypePort("");
    w.Button3->setEnabled(true);
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    QTest::mouseClick(w.Button3, Qt::LeftButton);
    EXPECT_EQ(TThread::RunningCount(), 0);

    // Ports that cannot be read are told, not taken for a machine without
    // the adapter. Without a source of its own the window scans the export
    // KRX3_REGISTRY names, as krx3 does; a file that is no export is told.
    QTemporaryDir dir;
    const QString reg = dir.filePath("ports.reg"), junk = dir.filePath("junk.reg");
    ASSERT_TRUE(MakeFile(reg, RecordedExport({"COM3"}, kCom3).c_str()) && MakeFile(junk, ""));
#ifdef __linux__
    ASSERT_TRUE(QDir(dir.path()).mkpath("class") && MakeFile(dir.filePath("class/tty"), ""));
    const std::string root = dir.path().toStdString();
    answers.Add(ModalAnswers::ClickOk());
    scan([root] { return SysfsRegistry(root); });
    EXPECT_EQ(answers.Seen().value(1),
              QStringLiteral("Scan Port\nThe serial ports could not be read: Not a directory"));
#endif
    qputenv("KRX3_REGISTRY", QDir::toNativeSeparators(reg).toLocal8Bit());
    scan({});
    EXPECT_EQ(ComboItems(w.ComboBox1), QStringList{"COM3"});
    qputenv("KRX3_REGISTRY", QDir::toNativeSeparators(junk).toLocal8Bit());
    answers.Add(ModalAnswers::ClickOk());
    scan({});
    qunsetenv("KRX3_REGISTRY");
    EXPECT_TRUE(answers.Seen().last().contains(QStringLiteral("not a registry export")))
        << answers.Seen().last().toStdString();
}

// The bar's text while a log comes: the lines so far of those expected, and
// the time left at the rate so far, rounded up (to minutes past an hour).
TEST(ProgressText, LinesSoFarAndTimeLeftAtTheRateSoFar) {
    // Lines so far, lines expected, milliseconds so far, and the text.
    const std::tuple<long, long, long long, const char*> cases[] = {
        {0, 900, 0, "0 of 900 lines"},
        {100, 900, 20000, "100 of 900 lines, about 2 min 40 s left"},
        {899, 900, 10, "899 of 900 lines, about 1 s left"},
        {10, 1000, 36355, "10 of 1000 lines, about 1 h 0 min left"},
        {1, 300000, 2000, "1 of 300000 lines, about 166 h 40 min left"},
        {900, 900, 5000, "900 of 900 lines"},
        {950, 900, 5000, "950 of 900 lines"},
        {120, 0, 5000, "120 lines"},
    };
    for (const auto& [lines, expected, ms, text] : cases)
        EXPECT_EQ(ProgressText(lines, expected, std::chrono::milliseconds(ms)), text) << lines;
}

// The view selects with the mouse and the keys and copies what is selected,
// as shown (a NUL as the replacement character); Ctrl+P opens the plot.
TEST_F(WindowTest, TheViewSelectsCopiesAndOpensThePlot) {
    TForm1& w = Open();
    TLogView* view = w.RichEdit1;
    view->SetLines(std::make_shared<const PackedLines>(
        std::vector<std::string>{"first line", std::string("se\0ond", 6), "2021-02-01 08:30:00;ch1=1.5"}));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("first line\nse\uFFFDond\n2021-02-01 08:30:00;ch1=1.5"));
    // From the start of the first line's second word to the second line's third character.
    const QFontMetrics fm = view->fontMetrics();
    const int left = 4 - view->horizontalScrollBar()->value(), row = fm.lineSpacing();
    const QPoint from(left + fm.horizontalAdvance(QStringLiteral("first ")), row / 2),
        to(left + fm.horizontalAdvance(QStringLiteral("se\uFFFD")), row + row / 2);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &move);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
    EXPECT_EQ(view->SelectedText(), QStringLiteral("line\nse\uFFFD"));
    QTest::keyClick(view, Qt::Key_P, Qt::ControlModifier);
    QWidget* plot = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != &w && top->isVisible() && top->windowTitle().startsWith(QStringLiteral("Plot"))) plot = top;
        return plot != nullptr;
    }));
    plot->close();
}
