// Makes the README's screenshot: the window after listing the simulated
// device's logs and uploading the first one.
//
//   screenshot <output.png> [first]   ("first": the window as it first shows)
#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <cstdio>

#include "app/globals.h"
#include "sim/simulator.h"
#include "tests/ui/gui_support.h"
#include "ui/thread/tthread.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshot <output.png> [first]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const bool first = argc > 2 && std::string(argv[2]) == "first";
    krx3sim::Simulator sim(krx3sim::SampleLogs(4, 60));
    TForm1::SetRegistryFactory([] { return RecordedRegistryFromText("Windows Registry Editor Version 5.00\n"); });
    TForm1 form;
    form.show();
    WaitFor([&] { return form.isVisible(); });
    if (!first) {
        form.ComboBox1->setEditText(QString::fromStdString(sim.PortPath()));
        QTest::mouseClick(form.Button2, Qt::LeftButton);
        WaitFor([&] { return TThread::RunningCount() == 0 && form.Button3->isEnabled(); });
        ModalAnswers answers;
        answers.Add(ModalAnswers::Cancel());
        QTest::mouseClick(form.Button3, Qt::LeftButton);
        WaitFor([&] { return TThread::RunningCount() == 0 && form.Button3->isEnabled(); });
    }
    QApplication::processEvents();
    const bool ok = form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
    form.close();
    return ok ? 0 : 1;
}
