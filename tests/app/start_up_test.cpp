// Start-up: the single-instance lock, and what the application does when it is, or is not, the first instance.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/application.h"
#include "app/single_instance.h"
#include "app/image_page.h"
#include "recording_sink.h"

using halvard::gui::Application;
using halvard::gui::SingleInstanceLock;
using halvard::gui::testing::RecordingMessageSink;
using Status = SingleInstanceLock::Status;

class StartUpTest : public QObject {
    Q_OBJECT

private slots:
    void lockFileIsNamedAfterTheInstanceObject() {
        QCOMPARE(SingleInstanceLock::fileNameFor(QStringLiteral("Global\\{HALVARDTOOL.0_EXE_RUNNING1}")),
                 QStringLiteral("HALVARDTOOL.0_EXE_RUNNING1.lock"));
        // Nothing in the name can lead out of the lock folder.
        QCOMPARE(SingleInstanceLock::fileNameFor(QStringLiteral("Local\\../x/y z")), QStringLiteral(".._x_y_z.lock"));

        QTemporaryDir dir;
        SingleInstanceLock lock(dir.path());
        QCOMPARE(QFileInfo(lock.path()).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        QCOMPARE(QFileInfo(lock.path()).fileName(), QStringLiteral("HALVARDTOOL.0_EXE_RUNNING1.lock"));
    }

    void secondAcquisitionFailsUntilTheFirstIsReleased() {
        QTemporaryDir dir;
        SingleInstanceLock first(dir.path());
        SingleInstanceLock second(dir.path());
        QCOMPARE(first.acquire(), Status::Acquired);
        QCOMPARE(first.acquire(), Status::Acquired);  // asking again keeps it
        QCOMPARE(second.acquire(), Status::HeldElsewhere);
        QVERIFY(!second.isHeld());

        first.release();
        QCOMPARE(second.acquire(), Status::Acquired);
        QCOMPARE(first.acquire(), Status::HeldElsewhere);
    }

    void lockLeftByADeadProcessIsTakenOver() {
        QTemporaryDir dir;
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());

        SingleInstanceLock lock(dir.path());
        QFile leftOver(lock.path());
        QVERIFY(leftOver.open(QIODevice::WriteOnly));
        leftOver.write(QByteArray::number(pid) + "\nhalvard-gui\n\n");
        leftOver.close();

        QCOMPARE(lock.acquire(), Status::Acquired);
    }

    void folderThatCannotHoldTheLockIsNotAnotherInstance() {
        QTemporaryDir dir;
        SingleInstanceLock lock(QDir(dir.path()).filePath(QStringLiteral("no/such/folder")));
        QCOMPARE(lock.acquire(), Status::Unavailable);
    }

    void secondStartShowsTheMessageAndNoWindow() {
        QTemporaryDir dir;
        SingleInstanceLock running(dir.path());
        QCOMPARE(running.acquire(), Status::Acquired);

        RecordingMessageSink messages;
        Application application(dir.path(), &messages);
        QCOMPARE(application.run(), 0);
        QCOMPARE(messages.shown, QStringList{QStringLiteral("Another instance of application is already running")});
        QVERIFY(!application.imagePage());
        for (QWidget* window : QApplication::topLevelWidgets()) QVERIFY(!window->isVisible());
    }

    void firstStartRunsTheImagePageUntilItCloses() {
        QTemporaryDir dir;
        Application application(dir.path());
        bool pageShown = false;
        bool lockHeldMeanwhile = false;
        QTimer::singleShot(0, [&] {
            halvard::gui::ImagePage* page = application.imagePage();
            QVERIFY(page);
            pageShown = page->isVisible() && page->windowTitle() == QStringLiteral("Halvard Disk Recovery");
            SingleInstanceLock other(dir.path());
            lockHeldMeanwhile = other.acquire() == Status::HeldElsewhere;
            page->accept();  // as Enter does
        });
        QCOMPARE(application.run(), 0);
        QVERIFY(pageShown);
        QVERIFY(lockHeldMeanwhile);
        QCOMPARE(application.state().rootName, std::string("ROOT"));
        QCOMPARE(application.state().sourcePage, 0);
    }
};

QTEST_MAIN(StartUpTest)
#include "start_up_test.moc"
