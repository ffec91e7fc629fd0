// The window as a person meets it, and the choice of a port.
#include <stdexcept>

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

    const struct {
        const char* how;
        std::string registry;  // "": the second port is picked from the list
        const char* port;      // the port afterwards
        bool resets;
    } cases[] = {
        {"picked", "", "COM3", true},
        {"scan finds the same port", RecordedExport({"COM3"}, kCom3), "COM3", false},
        {"scan finds another port", RecordedExport({"COM10"}, kCom10), "COM10", true},
        {"scan finds no adapter", RecordedExport({"COM1"}, ""), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        list->Add("EBQNYWG EBQOFQZ");  // as after a listing and an upload
        w.ComboBox2->addItem(QStringLiteral("2017-06-15  10:30:20"));
        w.Label5->setText(QStringLiteral("2017_06_15_10_30_20.log"));
        w.RichEdit1->setPlainText(QStringLiteral("a line"));
        w.Button3->setEnabled(true);
        const std::string r = c.registry;
        r.empty() ? w.ComboBox1->setCurrentIndex(1) : scan([r] { return RecordedRegistryFromText(r); });
        EXPECT_EQ(selport, c.port);
        EXPECT_EQ((std::vector<bool>{list->Count() == 0, w.ComboBox2->count() == 0, w.Label5->text().isEmpty(),
                                     w.RichEdit1->toPlainText().isEmpty(), !w.Button3->isEnabled()}),
                  std::vector<bool>(5, c.resets));
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
