#include "gui_support.h"

#include <QElapsedTimer>

#include "exchange.h"
#include "registry.h"
#include "serial.h"

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > bound.count()) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qSleep(1);
    }
    return true;
}

ModalAnswers::ModalAnswers() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
}

void ModalAnswers::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    // Guarded pointers: a new box may take the address of a deleted one; a
    // dialog that is shown again is a new showing.
    if (last_ && (last_ != modal || !last_->isVisible())) last_ = nullptr;
    if (!modal || modal == last_ || !modal->isVisible()) return;
    if (modal != current_) {
        current_ = modal;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) seen_ << box->windowTitle() + "\n" + box->text();
        unanswered_since_ = std::chrono::steady_clock::now();
    }
    if (!answers_.empty()) {
        if (answers_.front()(modal)) {
            last_ = modal;
            current_ = nullptr;
            answers_.pop_front();
        }
    } else if (std::chrono::steady_clock::now() - unanswered_since_ > std::chrono::seconds(5)) {
        last_ = modal;
        current_ = nullptr;
        modal->close();
    }
}

ModalAnswers::Answer ModalAnswers::Key(Qt::Key key) {
    return On<QMessageBox>([key](QMessageBox* box) { QTest::keyClick(box, key); });
}

ModalAnswers::Answer ModalAnswers::Save(const QString& path) {
    return On<QFileDialog>([path](QFileDialog* dialog) {
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(path);
        else
            dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

void WindowTest::SetUp() {
    if (!list) list = new TStringList;
    list->Clear();
    list->SetSorted(false);
    selport.clear();
    cf = fatdss_t();
    list_state = 0;
    CloseCom();
    StopExchanges(false);
}

void WindowTest::TearDown() {
    if (form_) {
        form_->close();
        form_.reset();
    }
    TForm1::SetRegistryFactory(nullptr);
    EXPECT_TRUE(TThread::WaitForAll(std::chrono::milliseconds(5000)));
    EXPECT_EQ(hCom.load(), INVALID_COM_HANDLE) << "the port was left open";
}

TForm1& WindowTest::Open(const std::string& registry) {
    const std::string text = registry.empty() ? std::string("Windows Registry Editor Version 5.00\n") : registry;
    TForm1::SetRegistryFactory([text] { return RecordedRegistryFromText(text); });
    form_ = std::make_unique<TForm1>();
    form_->show();
    WaitFor([this] { return form_->isVisible(); });
    return *form_;
}

void WindowTest::TypePort(const std::string& port) {
    form_->ComboBox1->lineEdit()->clear();
    QTest::keyClicks(form_->ComboBox1->lineEdit(), QString::fromLocal8Bit(port.c_str()));
}

bool WindowTest::WaitIdle(std::chrono::milliseconds bound) {
    return WaitFor([this] { return TThread::RunningCount() == 0 && form_->Button2->isEnabled(); }, bound);
}

std::vector<std::string> WindowTest::ViewLines() const {
    std::vector<std::string> lines;
    QTextDocument* doc = form_->RichEdit1->document();
    if (doc->isEmpty()) return lines;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) lines.push_back(b.text().toLatin1().toStdString());
    return lines;
}

std::vector<QString> WindowTest::ComboItems(QComboBox* box) const {
    std::vector<QString> items;
    for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i));
    return items;
}
