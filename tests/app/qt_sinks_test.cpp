// The Qt reporting adapters: the message boxes they show, and that calls from a worker thread are carried out on
// the user-interface thread while the worker waits.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <climits>
#include <memory>
#include <thread>

#include "app/qt_sinks.h"
#include "on_worker.h"

using halvard::gui::QtMessageSink;
using halvard::gui::QtProgressSink;
using halvard::gui::QtStatusSink;
using halvard::gui::testing::onWorker;

namespace {

// Waits for the next message box, notes what it looks like and presses one of its buttons.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton press) : press_(press) {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            poll_.stop();
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            format = box->textFormat();
            buttons = box->standardButtons();
            onUiThread = box->thread() == QApplication::instance()->thread();
            answered = true;
            box->button(press_)->click();
        });
        poll_.start();
    }

    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
    bool onUiThread = false;
    std::atomic<bool> answered{false};

private:
    QMessageBox::StandardButton press_;
    QTimer poll_;
};

}  // namespace

class QtSinksTest : public QObject {
    Q_OBJECT

private slots:
    void informationBoxHasTheProductCaptionAnIconAndOk() {
        QWidget owner;
        QtMessageSink sink(&owner);
        BoxAnswerer answerer(QMessageBox::Ok);
        // Texts carry names read from images, so they are shown as they are, never as markup.
        sink.information("Saved <b>x</b> & y");
        QVERIFY(answerer.answered);
        QCOMPARE(answerer.title, QStringLiteral("Halvard Disk Recovery"));
        QCOMPARE(answerer.text, QStringLiteral("Saved <b>x</b> & y"));
        QCOMPARE(answerer.format, Qt::PlainText);
        QCOMPARE(answerer.icon, QMessageBox::Information);
        QCOMPARE(answerer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void questionAsksYesOrNo_data() {
        QTest::addColumn<int>("press");
        QTest::addColumn<bool>("expected");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
    }
    void questionAsksYesOrNo() {
        QFETCH(int, press);
        QFETCH(bool, expected);
        QtMessageSink sink;
        BoxAnswerer answerer(static_cast<QMessageBox::StandardButton>(press));
        QCOMPARE(sink.question("Do you want to Close Application ?"), expected);
        QCOMPARE(answerer.title, QStringLiteral("Halvard Disk Recovery"));
        QCOMPARE(answerer.icon, QMessageBox::Question);
        QCOMPARE(answerer.buttons, QMessageBox::Yes | QMessageBox::No);
    }

    void workerQuestionIsAskedOnTheUiThreadAndWaitsForTheAnswer() {
        QWidget owner;
        QtMessageSink sink(&owner);
        BoxAnswerer answerer(QMessageBox::Yes);
        bool answer = false;
        bool answeredBeforeReturn = false;
        onWorker([&] {
            answer = sink.question("Are you sure to stop the running process?");
            answeredBeforeReturn = answerer.answered;
        });
        QVERIFY(answer);
        QVERIFY(answeredBeforeReturn);
        QVERIFY(answerer.onUiThread);
        QCOMPARE(answerer.text, QStringLiteral("Are you sure to stop the running process?"));
    }

    void workerProgressIsOnTheBarBeforeTheCallReturns() {
        QProgressBar bar;
        QtProgressSink sink(&bar);
        std::atomic<int> shownValue{-1};
        std::atomic<bool> changedOnUiThread{true};
        connect(&bar, &QProgressBar::valueChanged, &bar, [&](int value) {
            shownValue = value;
            if (QThread::currentThread() != QApplication::instance()->thread()) changedOnUiThread = false;
        });

        int valueAfterCall = -2;
        onWorker([&] {
            sink.setRange(0, 40);
            sink.setPosition(17);
            valueAfterCall = shownValue;
        });
        QCOMPARE(valueAfterCall, 17);
        QCOMPARE(bar.maximum(), 40);
        QVERIFY(changedOnUiThread);
        QCOMPARE(bar.value(), 17);
    }

    void progressPositionsAreClampedToTheRange() {
        QProgressBar bar;
        QtProgressSink sink(&bar);
        sink.setRange(10, 20);
        sink.setPosition(25);
        QCOMPARE(bar.value(), 20);
        sink.setPosition(3);
        QCOMPARE(bar.value(), 10);
        sink.setPosition(15);
        QCOMPARE(bar.value(), 15);

        // Counts beyond what the bar holds still fill it.
        sink.setRange(0, 0xFFFFFFFFu);
        sink.setPosition(0xFFFFFFFFu);
        QCOMPARE(bar.maximum(), INT_MAX);
        QCOMPARE(bar.value(), INT_MAX);
    }

    void emptyRangeShowsAnEmptyBarNotABusyOne() {
        QProgressBar bar;
        QtProgressSink sink(&bar);
        sink.setRange(0, 100);
        sink.setPosition(60);
        sink.setRange(0, 0);
        QVERIFY(bar.maximum() > bar.minimum());  // 0..0 would make Qt animate a busy bar
        QCOMPARE(bar.value(), bar.minimum());
        sink.setPosition(5);
        QCOMPARE(bar.value(), bar.minimum());

        sink.setRange(30, 10);  // upside down: as empty
        sink.setPosition(20);
        QCOMPARE(bar.value(), bar.minimum());
    }

    void workerStatusReplacesTheLineAsPlainText() {
        QLabel label(QStringLiteral("old"));
        QtStatusSink sink(&label);
        onWorker([&] {
            sink.setStatus("Scanning <b>Fichier</b> \xc3\xa9t\xc3\xa9");
            sink.setStatus("Reading <i>MFT</i> \xc3\xa9t\xc3\xa9");
        });
        QCOMPARE(label.text(), QString::fromUtf8("Reading <i>MFT</i> \xc3\xa9t\xc3\xa9"));
        QCOMPARE(label.textFormat(), Qt::PlainText);
    }

    void reportsToAWidgetThatIsGoneAreDropped() {
        auto bar = std::make_unique<QProgressBar>();
        auto label = std::make_unique<QLabel>();
        QtProgressSink progress(bar.get());
        QtStatusSink status(label.get());
        bar.reset();
        label.reset();
        onWorker([&] {
            progress.setRange(0, 10);
            progress.setPosition(5);
            status.setStatus("still going");
        });
        progress.setPosition(6);
        status.setStatus("done");
    }
};

QTEST_MAIN(QtSinksTest)
#include "qt_sinks_test.moc"
