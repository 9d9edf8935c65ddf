// The advanced road on the damaged fixtures: recovery mode page (Advanced) -> advanced options page, whose finders
// fill its lists -> browser page in advanced mode on the same engine: the tree, the orphan folder, a saved folder
// compared with what was written, Back and Next again on the same engine. For one NTFS, one FAT32 and one exFAT
// volume, each with a zeroed boot sector. Also the refusals: nothing found, and no usable cluster size.
#include <QComboBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/advanced_options_page.h"
#include "app/recovery_mode_page.h"
#include "app/browser_page.h"
#include "app/wizard_flow.h"
#include "image/image_kind.h"
#include "wizard_road.h"

using namespace halvard;
using namespace halvard::gui;
using namespace halvard::gui::testing;

namespace {

// An advanced scan reads whole volumes: it may take longer than the wizard's other work.
constexpr int kWorkTimeoutMs = 30000;


QJsonObject manifestVolume(const QString& name) {
    QFile file(kFixtures + QStringLiteral("/adv_manifest.json"));
    if (!file.open(QIODevice::ReadOnly)) qFatal("no adv_manifest.json");
    for (const QJsonValue v : QJsonDocument::fromJson(file.readAll()).object()[QStringLiteral("volumes")].toArray())
        if (v.toObject()[QStringLiteral("name")].toString() == name) return v.toObject();
    qFatal("no volume %s in the manifest", qPrintable(name));
}

template <typename Page>
bool waitUntil(Page* page, bool (Page::*busy)() const) {
    QElapsedTimer timer;
    timer.start();
    while ((page->*busy)() && timer.elapsed() < 30000) QTest::qWait(10);
    return !(page->*busy)();
}

int indexOfOffset(QComboBox* list, qulonglong offset) {
    for (int i = 0; i < list->count(); ++i)
        if (list->itemData(i, halvard::gui::kOffsetRole).toULongLong() == offset) return i;
    return -1;
}

// The recovery mode page on one damaged volume, with the image open as the volume list page leaves it.
struct AdvancedRoad {
    ApplicationState state;
    RecordingMessageSink messages;
    std::unique_ptr<RecoveryModePage> modes;

    AdvancedRoad(const QString& image, const VolumeRecord& volume) {
        state.activeReader = halvard::openImage((kFixtures + u'/' + image).toStdString()).reader;
        modes = std::make_unique<RecoveryModePage>(state, volume);
        modes->setMessageSink(&messages);
        halvard::gui::wireRecoveryModePage(*modes);
        modes->show();
    }

    // Advanced, Next: the advanced options page, once its finders have ended.
    AdvancedOptionsPage* toOptions() {
        modes->chooseAdvanced();
        child(modes.get(), "nextButton")->click();
        auto* options = modes->findChild<AdvancedOptionsPage*>();
        if (!options) return nullptr;
        options->setMessageSink(&messages);
        return waitUntil(options, &AdvancedOptionsPage::finderRunning) ? options : nullptr;
    }

    BrowserPage* next(AdvancedOptionsPage* options) {
        child(options, "nextButton")->click();
        auto* browser = options->findChild<BrowserPage*>();
        if (!browser) return nullptr;
        browser->setMessageSink(&messages);
        return waitForWork(browser, kWorkTimeoutMs) ? browser : nullptr;
    }
};

}  // namespace

class AdvancedRoadTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(kFixtures + QStringLiteral("/adv_manifest.json"))) QSKIP("advanced fixtures not built");
    }

    // NTFS: the stranger's $MFT record comes first; the volume's own is picked by its offset.
    void NtfsEngine() {
        const QJsonObject v = manifestVolume(QStringLiteral("ntfs-noboot"));
        wholeRoad(v, QStringLiteral("NTFS"), "8", QStringLiteral("Scanning process completed."),
                  [&](AdvancedOptionsPage* options) {
                      QCOMPARE(child<QComboBox>(options, "foundList")->itemText(0), QStringLiteral("MFT_ENTRY:0"));
                      QVERIFY(!child<QComboBox>(options, "heapList")->isVisible());
                      const int own = indexOfOffset(child<QComboBox>(options, "foundList"),
                                                    v[QStringLiteral("mft_offset")].toInteger());
                      QVERIFY(own > 0);
                      child<QComboBox>(options, "foundList")->setCurrentIndex(own);
                  });
    }

    void fat32() {
        const QJsonObject v = manifestVolume(QStringLiteral("fat32-noboot"));
        wholeRoad(v, QStringLiteral("FAT32"), "1", QStringLiteral("Scanning process completed..."),
                  [&](AdvancedOptionsPage* options) {
                      QCOMPARE(child<QComboBox>(options, "foundList")->itemText(0), QStringLiteral("FAT32_ENTRY:0"));
                      // With sector 0 zeroed, the backup boot sector's cluster size leads the list.
                      QCOMPARE(child<QComboBox>(options, "clusterSizeList")->itemText(0), QStringLiteral("1"));
                  });
    }

    // exFAT: the heap is the user's own pick from the heap list.
    void exfat() {
        const QJsonObject v = manifestVolume(QStringLiteral("exfat-noboot"));
        wholeRoad(v, QStringLiteral("FAT64"), "3", QStringLiteral("Scanning process completed..."),
                  [&](AdvancedOptionsPage* options) {
                      auto* heaps = child<QComboBox>(options, "heapList");
                      QVERIFY(heaps->isVisible());
                      const int own = indexOfOffset(heaps, v[QStringLiteral("heap_offset")].toInteger());
                      QVERIFY(own >= 0);
                      heaps->setCurrentIndex(own);
                  });
    }

    // A FAT32 finder on the NTFS volume finds nothing: Next says so and stays.
    void nothingFoundKeepsThePage() {
        AdvancedRoad road(QStringLiteral("adv_mixed_disk.raw"), VolumeRecord{"FAT32", "", "1", "16", 34816});
        AdvancedOptionsPage* options = road.toOptions();
        QVERIFY(options);
        QCOMPARE(road.messages.shown.last(), QStringLiteral("NO FAT  FAT32-ENTRY found .."));
        QCOMPARE(child<QComboBox>(options, "foundList")->count(), 0);
        child(options, "nextButton")->click();
        QCOMPARE(road.messages.shown.last(), QStringLiteral("No File system Entry Found.Process cannot be continue..."));
        QVERIFY(options->isVisible());
        QVERIFY(!options->findChild<BrowserPage*>());
    }

    // A cluster size that is none refuses the parse on the browser page, which can then go back.
    void unusableClusterSizeIsRefused() {
        const QJsonObject v = manifestVolume(QStringLiteral("fat16-noboot"));
        AdvancedRoad road(QStringLiteral("adv_fat_disk.raw"), VolumeRecord{"FAT16", "", "0", "12", v[QStringLiteral("start")].toInteger()});
        AdvancedOptionsPage* options = road.toOptions();
        QVERIFY(options);
        QCOMPARE(child<QLabel>(options, "foundLabel")->text(), QStringLiteral("Total fat16 Entries Found:"));
        child<QComboBox>(options, "clusterSizeList")->addItem(QStringLiteral("3"));
        child<QComboBox>(options, "clusterSizeList")->setCurrentIndex(child<QComboBox>(options, "clusterSizeList")->count() - 1);
        BrowserPage* browser = road.next(options);
        QVERIFY(browser);
        QVERIFY(road.messages.shown.last().contains(QStringLiteral("is not a usable cluster size")));
        QVERIFY(child(browser, "backButton")->isEnabled());
        child(browser, "backButton")->click();
        QVERIFY(options->isVisible());
    }

    // Back while the finders run (paused) stops them and waits before the engine goes.
    void backDuringTheFindersIsSafe() {
        AdvancedRoad road(QStringLiteral("adv_mixed_disk.raw"), VolumeRecord{"NTFS", "", "1", "16", 34816});
        road.modes->chooseAdvanced();
        child(road.modes.get(), "nextButton")->click();
        QPointer<AdvancedOptionsPage> options = road.modes->findChild<AdvancedOptionsPage*>();
        QVERIFY(options);
        child(options, "pauseButton")->click();
        child(options, "backButton")->click();
        QVERIFY(road.modes->isVisible());
        QTRY_VERIFY(!options);
    }

private:
    void wholeRoad(const QJsonObject& v, const QString& fileSystem, const char* clusterSize, const QString& done,
                   const std::function<void(AdvancedOptionsPage*)>& pick) {
        const VolumeRecord volume{fileSystem.toStdString(), "", "1", std::to_string(v[QStringLiteral("size_mib")].toInt()),
                                  v[QStringLiteral("start")].toInteger()};
        AdvancedRoad road(v[QStringLiteral("disk")].toString(), volume);
        AdvancedOptionsPage* options = road.toOptions();
        QVERIFY(options && options->isVisible() && !road.modes->isVisible());
        QVERIFY2(road.messages.shown.last().startsWith(QStringLiteral("Number of ")), qPrintable(road.messages.shown.last()));
        QVERIFY(child<QLabel>(options, "statusText")->text().startsWith(QStringLiteral("Parsing done.Click")));
        QVERIFY(!child(options, "stopButton")->isVisible());
        QCOMPARE(options->focusWidget(), child<QComboBox>(options, "foundList"));  // not Help: Enter ends the run
        pick(options);
        auto* sizes = child<QComboBox>(options, "clusterSizeList");
        sizes->setCurrentIndex(sizes->findText(QString::fromLatin1(clusterSize)));
        QVERIFY(sizes->currentIndex() >= 0);

        for (int round = 0; round < 2; ++round) {
            BrowserPage* browser = road.next(options);
            QVERIFY(browser && browser->isVisible() && !options->isVisible());
            QCOMPARE(road.messages.shown.last(), done);
            // The hidden copies hold the picks.
            QCOMPARE(child<QComboBox>(browser, "foundList")->currentIndex(),
                     child<QComboBox>(options, "foundList")->currentIndex());
            QVERIFY(!child<QComboBox>(browser, "foundList")->isVisible());

            auto* tree = child<QTreeWidget>(browser, "volumeTree");
            QTreeWidgetItem* root = tree->topLevelItem(0);
            QVERIFY(root);
            QTreeWidgetItem* photos = childNamed(root, QStringLiteral("Photos"));
            QVERIFY(photos);
            photos->setExpanded(true);
            QCOMPARE(photos->childCount(), 12);
            if (fileSystem != QStringLiteral("NTFS")) QVERIFY(childNamed(root, QStringLiteral("ORPHAN ENTRY")));

            if (round == 0) {
                QTemporaryDir out;
                QVERIFY(saveInto(out.path(), browser, photos, road.messages, kWorkTimeoutMs));
                int compared = 0;
                for (const QJsonValue f : v[QStringLiteral("files")].toArray()) {
                    const QString path = f.toObject()[QStringLiteral("path")].toString();
                    if (!path.startsWith(QStringLiteral("/Photos/"))) continue;
                    QFile saved(out.filePath(path.mid(8)));
                    QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(path));
                    QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(saved.readAll(), QCryptographicHash::Sha256).toHex()),
                             f.toObject()[QStringLiteral("sha256")].toString());
                    ++compared;
                }
                QCOMPARE(compared, 12);
            }
            // Back shows the advanced page with its lists; Next parses again with the same engine.
            child(browser, "backButton")->click();
            QVERIFY(options->isVisible());
            QTest::qWait(20);
        }
    }
};

QTEST_MAIN(AdvancedRoadTest)
#include "advanced_road_test.moc"
