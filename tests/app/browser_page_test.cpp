// The whole road on the NTFS fixture: image page, parsing modes, volume list, recovery mode, browser: the tree
// fills on demand, the list follows label clicks and check boxes, a search lists matching files, and a saved
// folder matches the fixture's manifest in content and time stamps. Also the worker controls (pause, stop,
// resume, exit during a parse) and the recovery mode page's choices per file system.
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/advanced_options_page.h"
#include "app/checked_list.h"
#include "app/parsing_modes_page.h"
#include "app/recovery_mode_page.h"
#include "app/volume_list_page.h"
#include "app/qt_tree_control.h"
#include "app/image_page.h"
#include "app/browser_page.h"
#include "app/wizard_flow.h"
#include "image/image_kind.h"
#include "wizard_road.h"

using namespace halvard;
using namespace halvard::gui;
using namespace halvard::gui::testing;

namespace {

struct ManifestLine {
    bool folder = false;
    bool deleted = false;
    qint64 size = 0;
    QByteArray sha256;
    QDateTime modified;
    QString path;
};

QList<ManifestLine> readManifest() {
    QFile file(kFixtures + QStringLiteral("/manifest.txt"));
    if (!file.open(QIODevice::ReadOnly)) qFatal("no manifest");
    QList<ManifestLine> lines;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const QStringList f = line.split(u'\t');
        lines.push_back({f[0] == QStringLiteral("dir"), f[1] == QStringLiteral("deleted"), f[2].toLongLong(),
                         f[3].toLatin1(), QDateTime::fromString(f[6], Qt::ISODate), f[7]});
    }
    return lines;
}

}  // namespace

class BrowserPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(kFixtures + QStringLiteral("/ntfs_1m.vhdx"))) QSKIP("fixtures not built");
    }

    void wholeRoadStandard() { wholeRoad("standardMode", {}, true); }
    // The deep scan finds every record and puts it back into its folder, below the orphan folder.
    void wholeRoadDeep() {
        wholeRoad("deepMode", {QStringLiteral("ORPHAN_ENTRY")}, false);
    }

    void pauseStopResumeEndsTheParseNormally() {
        Road road(kFixtures + QStringLiteral("/ntfs_1m.vhdx"));
        BrowserPage* page = road.toBrowser("standardMode");
        QVERIFY(page && page->isVisible());
        // The worker waits for its first status report until events are served, so the pause lands in the parse.
        child(page, "pauseButton")->click();
        QTest::qWait(300);
        QVERIFY(page->parseRunning());
        child(page, "stopButton")->click();
        QTest::qWait(100);
        QVERIFY(page->parseRunning());
        child(page, "resumeButton")->click();
        QVERIFY(waitForWork(page));
        QVERIFY(child(page, "backButton")->isEnabled());
        QVERIFY(!child<QProgressBar>(page, "progressBar")->isVisible());
        QVERIFY(!child(page, "pauseButton")->isVisible());
        QCOMPARE(child<QLabel>(page, "statusText")->text(), QStringLiteral("Processing done..."));
        QCOMPARE(road.messages.shown.last(), QStringLiteral("Scanning process completed."));
    }

    void exitDuringAParseStopsAndJoinsTheWorker() {
        QPointer<BrowserPage> page;
        {
            Road road(kFixtures + QStringLiteral("/ntfs_1m.vhdx"));
            QSignalSpy finished(&road.image, &QDialog::finished);
            page = road.toBrowser("deepMode");
            QVERIFY(page);
            child(page, "pauseButton")->click();
            QTest::qWait(50);
            QVERIFY(page->parseRunning());
            child(page, "exitButton")->click();
            QCOMPARE(finished.count(), 1);
            QCOMPARE(child<QLabel>(page, "statusText")->text(), QStringLiteral("All thread Stopped"));
        }
        QVERIFY(!page);
    }

    // Advanced goes through the advanced options page, whose finder lists the volume's $MFT record; Back returns.
    void advancedModeOpensTheAdvancedOptionsPage() {
        Road road(kFixtures + QStringLiteral("/ntfs_1m.vhdx"));
        RecoveryModePage* recovery = road.toRecoveryMode();
        QVERIFY(recovery);
        child<QRadioButton>(recovery, "advancedMode")->click();
        child(recovery, "nextButton")->click();
        auto* options = recovery->findChild<halvard::gui::AdvancedOptionsPage*>();
        QVERIFY(options && options->isVisible());
        options->setMessageSink(&road.messages);
        QTRY_VERIFY_WITH_TIMEOUT(!options->finderRunning(), 20000);
        QVERIFY(!recovery->findChild<BrowserPage*>());
        QVERIFY(road.messages.shown.last().startsWith(QStringLiteral("Number of MFT-ENTRY found = 1 .")));
        child(options, "backButton")->click();
        QVERIFY(recovery->isVisible());
    }

    void volumesNoEngineReadsEndWithBackOpen() {
        ApplicationState state;
        RecordingMessageSink messages;
        VolumeRecord raw{"RAW", "", "0", "15", 2048};
        {
            BrowserPage page(state, raw, ParseMode::Standard);
            page.setMessageSink(&messages);
            page.start();
            QCOMPARE(messages.shown.last(),
                     QStringLiteral("Please Restart the program to re begin necessary initialization..."));
            QVERIFY(child(&page, "backButton")->isEnabled());
        }
        state.activeReader =
            halvard::openImage((kFixtures + QStringLiteral("/ntfs_1m.vhdx")).toStdString()).reader;
        BrowserPage page(state, raw, ParseMode::Standard);
        page.setMessageSink(&messages);
        page.start();
        QCOMPARE(messages.shown.last(), QStringLiteral("Not a valid drive."));
        QCOMPARE(child<QLabel>(&page, "statusText")->text(), QStringLiteral("Not a valid Drive .Go back"));
        QVERIFY(child(&page, "backButton")->isEnabled());
    }

    void recoveryModesFollowTheFileSystem() {
        ApplicationState state;
        struct Case {
            const char* fileSystem;
            bool advanced, deep, formatted;
        };
        for (const Case& c : {Case{"NTFS", true, true, false}, Case{"FAT32", true, false, true},
                              Case{" FAT64", true, false, true}, Case{"exFAT", true, false, false}, Case{"extX", false, false, false},
                              Case{"HFS+", false, true, false}}) {
            RecoveryModePage page(state, VolumeRecord{c.fileSystem, "", "0", "8", 63});
            page.show();
            QVERIFY(child<QRadioButton>(&page, "standardMode")->isChecked());
            QCOMPARE(child<QRadioButton>(&page, "advancedMode")->isVisible(), c.advanced);
            QCOMPARE(child<QRadioButton>(&page, "deepMode")->isVisible(), c.deep);
            QVERIFY(!child<QCheckBox>(&page, "formattedBox")->isVisible());
            QVERIFY(!child<QLineEdit>(&page, "limitEdit")->isVisible());
            page.chooseAdvanced();
            QCOMPARE(child<QCheckBox>(&page, "formattedBox")->isVisible(), c.formatted);
            QVERIFY(child<QLineEdit>(&page, "limitEdit")->isVisible());
            QCOMPARE(page.finderLimit(), 3);
            child<QLineEdit>(&page, "limitEdit")->setText(QStringLiteral("0"));
            QCOMPARE(page.finderLimit(), 3);
            child<QLineEdit>(&page, "limitEdit")->setText(QStringLiteral("5"));
            QCOMPARE(page.finderLimit(), 5);
            child<QCheckBox>(&page, "formattedBox")->setChecked(true);
            QCOMPARE(state.formattedDriveFlag, 1);
            page.chooseDeep();  // each mode starts with the flag cleared
            QCOMPARE(state.formattedDriveFlag, 0);
            QCOMPARE(page.recoveryMode(), ParseMode::Deep);
        }
    }

private:
    // Parses in `mode`, opens the volume's Documents folder (below `rootPath`, the folders that stand for the
    // volume's root in this mode) by expanding or by a click on its label, ticks its files, searches, saves the
    // folder and compares the saved files with the manifest.
    void wholeRoad(const char* mode, const QStringList& rootPath, bool expandFirst) {
        const QStringList folderPath = rootPath + QStringList{QStringLiteral("Documents")};
        const QString rootPrefix = rootPath.isEmpty() ? QString() : rootPath.join(u'/') + u'/';
        Road road(kFixtures + QStringLiteral("/ntfs_1m.vhdx"));
        BrowserPage* page = road.toBrowser(mode);
        QVERIFY(page && page->isVisible());
        QVERIFY(!child(page, "backButton")->isEnabled());
        QVERIFY(waitForWork(page));
        QVERIFY(road.messages.shown.contains(QStringLiteral("Scanning process completed.")));
        QCOMPARE(child<QLabel>(page, "statusText")->text(), QStringLiteral("Processing done..."));
        QVERIFY(child(page, "backButton")->isEnabled());
        QVERIFY(!child(page, "stopButton")->isVisible());

        auto* tree = child<QTreeWidget>(page, "volumeTree");
        auto* list = child<halvard::gui::CheckedList>(page, "fileList");
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QVERIFY(root);
        QCOMPARE(root->text(0), QStringLiteral("ROOT"));
        QTreeWidgetItem* folder = root;
        for (const QString& name : folderPath) {
            folder = childNamed(folder, name);
            QVERIFY2(folder, qPrintable(name));
            QCOMPARE(folder->child(0)->text(0), QStringLiteral("..DUMY.."));
            if (expandFirst)
                folder->setExpanded(true);
            else
                clickLabel(tree, folder);
            QVERIFY(folder->childCount() > 0 && folder->child(0)->text(0) != QStringLiteral("..DUMY.."));
        }

        // Deleted entries show red however the folder was opened, in every mode.
        QTreeWidgetItem* deleted = childNamed(folder, QStringLiteral("deleted_report.bin"));
        QVERIFY(deleted);
        QCOMPARE(deleted->foreground(0).color(), QColor(255, 0, 0));

        clickLabel(tree, folder);
        const QStringList rows = firstColumn(list);
        QVERIFY(rows.contains(QStringLiteral("notes.txt")) && rows.contains(QStringLiteral("deleted_report.bin")));
        QVERIFY(!rows.contains(QStringLiteral("Reports")));
        const int notes = static_cast<int>(rows.indexOf(QStringLiteral("notes.txt")));
        QCOMPARE(list->item(notes, 4)->text(), QStringLiteral("2.93 KB"));
        QVERIFY(!list->item(notes, 3)->text().isEmpty());
        QVERIFY(!list->checkHeader()->isChecked());

        // A row's check box ticks the file in the tree; with every row ticked the header shows ticked, and the
        // folder shows ticked once its sub-folders are too.
        for (int row = 0; row < list->rowCount(); ++row) list->item(row, 0)->setCheckState(Qt::Checked);
        QCOMPARE(childNamed(folder, QStringLiteral("notes.txt"))->checkState(0), Qt::Checked);
        QVERIFY(list->checkHeader()->isChecked());
        for (int i = 0; i < folder->childCount(); ++i) folder->child(i)->setCheckState(0, Qt::Checked);
        QCOMPARE(folder->checkState(0), Qt::Checked);
        // The header unticks every row again; a click on a tree item's check box ticks it and lists nothing.
        auto* header = list->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionSize(0) / 2, header->height() / 2));
        QVERIFY(!list->checkHeader()->isChecked());
        QCOMPARE(list->item(0, 0)->checkState(), Qt::Unchecked);
        QTreeWidgetItem* parent = folder->parent();
        QTreeWidgetItem* other = parent->child(parent->indexOfChild(folder) == 0 ? 1 : 0);
        tree->scrollToItem(other);
        const QRect otherRect = tree->visualItemRect(other);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(otherRect.left() + 8, otherRect.center().y()));
        QCOMPARE(other->checkState(0), Qt::Checked);
        QCOMPARE(firstColumn(list), rows);

        if (expandFirst && qEnvironmentVariableIsSet("HALVARD_SCREENSHOT")) {
            page->resize(1100, 680);
            QTest::qWait(50);
            QVERIFY(page->grab().save(qEnvironmentVariable("HALVARD_SCREENSHOT")));
        }

        // Search: every .txt file of the manifest, case ignored, with its path from the top item.
        const QList<ManifestLine> manifest = readManifest();
        QStringList expected;
        for (const ManifestLine& line : manifest)
            if (line.path.endsWith(QStringLiteral(".txt")))
                expected << QStringLiteral("ROOT/") + rootPrefix + line.path;
        child<QLineEdit>(page, "searchEdit")->setText(QStringLiteral("TXT|JPG"));
        child(page, "searchButton")->click();
        QVERIFY(waitForWork(page));
        QVERIFY(page->showingSearchResults());
        QCOMPARE(road.messages.shown.last(), QStringLiteral("Searching Finished"));
        QStringList found;
        for (const QString& path : firstColumn(list))
            found << QString(path).replace(u'\\', u'/');
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
        QVERIFY(tree->isEnabled());

        // Save the folder and compare it with the manifest.
        QTemporaryDir out;
        QVERIFY(saveInto(out.path(), page, folder, road.messages));
        QCOMPARE(road.messages.shown.last(), QStringLiteral("Saving process done."));
        const QString question = road.messages.shown[road.messages.shown.size() - 2];
        QVERIFY2(question.startsWith(QStringLiteral("? number of files found inside this folder = ")) &&
                     question.endsWith(QStringLiteral(" .do u want to continue dumping these files..?")),
                 qPrintable(question));
        const QString prefix = QStringLiteral("Documents/");
        int compared = 0;
        for (const ManifestLine& line : manifest) {
            if (line.folder || line.deleted || !line.path.startsWith(prefix)) continue;
            const QString saved = out.filePath(line.path.mid(prefix.size()));
            QVERIFY2(QFileInfo::exists(saved), qPrintable(line.path));
            QFile file(saved);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.size(), line.size);
            QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex(), line.sha256);
            QCOMPARE(QFileInfo(saved).lastModified().toUTC(), line.modified);
            ++compared;
        }
        QVERIFY(compared >= 4);
        // Folders keep their times too.
        int folders = 0;
        for (const ManifestLine& line : manifest) {
            if (!line.folder || line.deleted || !line.path.startsWith(prefix) || !line.modified.isValid()) continue;
            const QString saved = out.filePath(line.path.mid(prefix.size()));
            QVERIFY2(QFileInfo(saved).isDir(), qPrintable(line.path));
            QCOMPARE(QFileInfo(saved).lastModified().toUTC(), line.modified);
            ++folders;
        }
        QVERIFY(folders >= 1);

        // A double-clicked file goes into the output folder chosen last.
        QTreeWidgetItem* notesItem = childNamed(folder, QStringLiteral("notes.txt"));
        QVERIFY(notesItem);
        QFile::remove(out.filePath(QStringLiteral("notes.txt")));
        const int shownBefore = static_cast<int>(road.messages.shown.size());
        page->itemDoubleClicked(notesItem);
        QVERIFY(waitForWork(page));
        QCOMPARE(road.messages.shown.size(), shownBefore);  // NTFS confirms nothing
        QCOMPARE(QFileInfo(out.filePath(QStringLiteral("notes.txt"))).size(), 3000);

        // Save with a file selected saves that file.
        QFile::remove(out.filePath(QStringLiteral("notes.txt")));
        tree->setCurrentItem(notesItem);
        child(page, "saveButton")->click();
        QVERIFY(waitForWork(page));
        QCOMPARE(road.messages.shown.size(), shownBefore);
        QCOMPARE(QFileInfo(out.filePath(QStringLiteral("notes.txt"))).size(), 3000);
    }
};

QTEST_MAIN(BrowserPageTest)
#include "browser_page_test.moc"
