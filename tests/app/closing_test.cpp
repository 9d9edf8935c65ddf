// Every page ends the program the same way: Exit, the close box or Escape answered Yes, and Enter where it is the
// page's OK command make the application's run return (so the process ends) and free the single-instance lock.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/advanced_options_page.h"
#include "app/application.h"
#include "app/parsing_modes_page.h"
#include "app/recovery_mode_page.h"
#include "app/volume_list_page.h"
#include "app/raw_recovery_page.h"
#include "app/single_instance.h"
#include "app/image_page.h"
#include "app/browser_page.h"
#include "page_lookup.h"
#include "recording_sink.h"

using namespace halvard::gui;
using halvard::gui::testing::child;
using halvard::gui::testing::RecordingMessageSink;

namespace {

const QString kFixtures = QStringLiteral(HALVARD_FIXTURE_DIR);

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i) QTest::qWait(10);
    return done();
}

// Walks from the image page to the page named, the way a user does; null when the road is blocked.
WizardPage* walkTo(ImagePage* image, const QString& target) {
    image->chooseImage(kFixtures + QStringLiteral("/ntfs_1m.vhdx"));
    if (target == QStringLiteral("image")) return image;
    child(image, "nextButton")->click();
    auto* modes = image->findChild<ParsingModesPage*>();
    if (!modes || target == QStringLiteral("modes")) return modes;
    child(modes, "nextButton")->click();
    VolumeListPage* list = modes->volumeListPage();
    if (!list || target == QStringLiteral("volumes")) return list;
    child<QTableWidget>(list, "volumeList")->selectRow(0);
    if (target == QStringLiteral("raw")) {
        child<QCheckBox>(list, "customSettingsBox")->setChecked(true);
        auto* treatAs = child<QComboBox>(list, "treatAsBox");
        treatAs->setCurrentIndex(treatAs->findText(QStringLiteral("RAW")));
        child(list, "nextButton")->click();
        return list->findChild<RawRecoveryPage*>();
    }
    child(list, "nextButton")->click();
    auto* recovery = list->findChild<RecoveryModePage*>();
    if (!recovery || target == QStringLiteral("recovery")) return recovery;
    if (target == QStringLiteral("advanced")) {
        child<QRadioButton>(recovery, "advancedMode")->click();
        child(recovery, "nextButton")->click();
        auto* options = recovery->findChild<AdvancedOptionsPage*>();
        if (options && !waitUntil([options] { return !options->finderRunning(); })) return nullptr;
        return options;
    }
    child(recovery, "nextButton")->click();
    auto* browser = recovery->findChild<BrowserPage*>();
    if (browser && !waitUntil([browser] { return !browser->workerBusy() && !browser->parseRunning(); }))
        return nullptr;
    return browser;
}

// Ends the run from the page the way named.
void closeBy(WizardPage* page, const QString& way, RecordingMessageSink& messages) {
    if (way == QStringLiteral("exit")) {
        child(page, "exitButton")->click();
    } else if (way == QStringLiteral("closeBox")) {
        messages.answers = {true};
        page->close();
    } else if (way == QStringLiteral("escape")) {
        messages.answers = {true};
        QTest::keyClick(page, Qt::Key_Escape);
    } else {
        // Enter where no button has the focus: the raw page's path box, elsewhere the page itself.
        QWidget* target = page;
        if (auto* raw = qobject_cast<RawRecoveryPage*>(page)) target = child<QLineEdit>(raw, "signaturePath");
        if (QWidget* focused = page->focusWidget()) focused->clearFocus();
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
    }
}

}  // namespace

class ClosingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(kFixtures + QStringLiteral("/ntfs_1m.vhdx"))) QSKIP("fixtures not built");
    }

    void everyPageEndsTheProgram_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("way");
        const QStringList pages{QStringLiteral("image"),    QStringLiteral("modes"),   QStringLiteral("volumes"),
                                QStringLiteral("recovery"), QStringLiteral("raw"),     QStringLiteral("browser"),
                                QStringLiteral("advanced")};
        for (const QString& page : pages) {
            QStringList ways{QStringLiteral("closeBox"), QStringLiteral("escape"), QStringLiteral("enter")};
            if (page == QStringLiteral("browser") || page == QStringLiteral("advanced")) ways << QStringLiteral("exit");
            for (const QString& way : ways)
                QTest::newRow(qPrintable(page + QLatin1Char(' ') + way)) << page << way;
        }
    }

    void everyPageEndsTheProgram() {
        QFETCH(QString, page);
        QFETCH(QString, way);
        QTemporaryDir lockDir;
        RecordingMessageSink messages;
        bool reached = false;
        bool timedOut = false;
        // A run that does not end is the fault; the guard ends it so that the test can say so.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        {
            Application application(lockDir.path());
            QTimer::singleShot(0, [&] {
                ImagePage* image = application.imagePage();
                image->setMessageSink(&messages);
                image->setUrlOpener([](const QUrl&) { return true; });
                WizardPage* target = walkTo(image, page);
                reached = target && target->isVisible();
                guard.start(20000);
                if (target) closeBy(target, way, messages);
                else QCoreApplication::quit();
            });
            QCOMPARE(application.run(), 0);
            QVERIFY(reached);
            QVERIFY(!timedOut);
            SingleInstanceLock next(lockDir.path());
            QCOMPARE(next.acquire(), SingleInstanceLock::Status::Acquired);
        }
        for (QWidget* window : QApplication::topLevelWidgets()) QVERIFY2(!window->isVisible(), qPrintable(window->objectName()));
    }
};

QTEST_MAIN(ClosingTest)
#include "closing_test.moc"
