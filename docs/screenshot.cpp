// Makes the README's screenshots: the window after listing the simulated
// device's logs and uploading the first one, or the plot of that log.
//
//   screenshot <output.png> [first|plot]   ("first": the window as it first
//                                           shows; "plot": the log's plot)
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
        std::fprintf(stderr, "usage: screenshot <output.png> [first|plot]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const bool first = argc > 2 && std::string(argv[2]) == "first";
    const bool plot = argc > 2 && std::string(argv[2]) == "plot";
    krx3sim::Simulator sim(krx3sim::SampleLogs(4, plot ? 400 : 60));
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
    QWidget* shown = &form;
    if (plot) {
        QTest::keyClick(form.RichEdit1, Qt::Key_P, Qt::ControlModifier);
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != &form && top->isVisible() && top->windowTitle().startsWith(QStringLiteral("Plot"))) shown = top;
        shown->resize(760, 420);
        QApplication::processEvents();
    }
    const bool ok = shown->grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
    form.close();
    return ok ? 0 : 1;
}
