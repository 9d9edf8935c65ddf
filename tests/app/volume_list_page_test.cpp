// The volume list page: the standard scan of a partition table, the advanced scan on a worker (its options, Stop,
// closing and destroying the page while it runs), list selection, Filter Entries, Add Custom Volume, the custom
// settings with their up-down fields, and the rules of Next.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <optional>

#include "app/volume_list_page.h"
#include "app/sector_field.h"
#include "disk_images.h"
#include "page_lookup.h"
#include "recording_sink.h"

using halvard::ApplicationState;
using halvard::VolumeRecord;
using halvard::gui::VolumeListPage;
using halvard::gui::ScanChoices;
using halvard::gui::ScanMode;
using halvard::gui::SectorSpinBox;
using namespace halvard::gui::testing;
using NextTarget = VolumeListPage::NextTarget;

namespace {

const QString kSelectVolume = QStringLiteral("Select volume and click next button...");
const QString kPopulated = QStringLiteral("populated partitions....");
const QString kNoSelection = QStringLiteral("please select a valid volume.");
const QString kUnknownVolume = QStringLiteral("can not parse unknown volume");

using Rows = QList<QStringList>;

ScanChoices choicesFor(const QString& path, ScanMode mode = ScanMode::Standard) {
    ScanChoices choices;
    choices.imagePath = path;
    choices.imageChosen = true;
    choices.scanMode = mode;
    return choices;
}

// One page with a recording sink and a recording next-page factory (which makes no page, so this one stays).
struct Page {
    ApplicationState state;
    RecordingMessageSink messages;
    std::vector<QUrl> opened;
    std::vector<std::pair<NextTarget, VolumeRecord>> nextPages;
    std::unique_ptr<VolumeListPage> page;

    explicit Page(const ScanChoices& choices) {
        state.sourcePage = halvard::kImagePageId;
        page = std::make_unique<VolumeListPage>(state, choices);
        page->setMessageSink(&messages);
        page->setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
        page->setNextPageFactory([this](VolumeListPage& from, NextTarget target) -> QWidget* {
            nextPages.emplace_back(target, *from.selectedVolume());
            return nullptr;
        });
        page->show();
    }

    template <typename T = QWidget>
    T* find(const char* name) { return child<T>(page.get(), name); }
    QPushButton* button(const char* name) { return find<QPushButton>(name); }
    QTableWidget* list() { return find<QTableWidget>("volumeList"); }
    QCheckBox* customBox() { return find<QCheckBox>("customSettingsBox"); }
    SectorSpinBox* startEdit() { return find<SectorSpinBox>("startSectorEdit"); }
    SectorSpinBox* endEdit() { return find<SectorSpinBox>("endSectorEdit"); }
    QComboBox* treatAs() { return find<QComboBox>("treatAsBox"); }
    QString status() { return find<QLabel>("statusText")->text(); }

    Rows rows() {
        Rows all;
        for (int row = 0; row < list()->rowCount(); ++row) {
            QStringList texts;
            for (int column = 0; column < list()->columnCount(); ++column)
                texts << (list()->item(row, column) ? list()->item(row, column)->text() : QString());
            all << texts;
        }
        return all;
    }
    void click(int row) {
        const QRect rect = list()->visualItemRect(list()->item(row, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    void waitForScan() { QTRY_VERIFY_WITH_TIMEOUT(!page->scanning(), 20000); }
};

// Volumes as the MBR of the tests' disks lists them.
std::map<std::uint64_t, std::vector<std::uint8_t>> mbrDisk(const std::vector<MbrSlot>& entries) {
    return {{0, mbrSector(entries)}};
}

}  // namespace

class VolumeListPageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString image(const QString& name, const halvard::testing::VhdxSpec& spec) {
        return halvard::gui::testing::writeImage(dir_.path(), name, spec);
    }

    // NTFS (1 GiB claimed, at 2048) and a partition of a type nobody knows (at 4096).
    // Large enough for its 1 GiB NTFS entry (a volume past the disk's end would be cut); the image stays sparse.
    QString ntfsAndUnknownDisk() {
        return image(QStringLiteral("mbr.vhdx"),
                     diskSpec(1040 * kMiB, mbrDisk({{0x07, 2048, 2097152}, {0x99, 4096, 2048}})));
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void standardScanListsTheVolumesOfThePartitionTable() {
        const QString path = image(QStringLiteral("two.vhdx"),
                                   diskSpec(16 * kMiB, mbrDisk({{0x07, 2048, 8192}, {0x0B, 10240, 4096}})));
        Page p(choicesFor(path));
        QVERIFY(!p.customBox()->isEnabled());
        p.page->startScan();

        QCOMPARE(p.rows(), (Rows{{"0", "NTFS", "4   MB", "2048"}, {"1", "FAT32", "2   MB", "10240"}}));
        QCOMPARE(p.list()->horizontalHeaderItem(0)->text(), QStringLiteral("VOLUME"));
        QCOMPARE(p.list()->horizontalHeaderItem(3)->text(), QStringLiteral("START_SECTOR"));
        QCOMPARE(p.page->records().size(), std::size_t(2));
        QVERIFY(p.customBox()->isEnabled());
        QVERIFY(!p.customBox()->isChecked());
        QVERIFY(!p.startEdit()->isEnabled());
        QVERIFY(p.button("addCustomVolumeButton")->isHidden());
        QVERIFY(p.button("filterButton")->isEnabled());
        QVERIFY(p.button("nextButton")->isEnabled());
        QVERIFY(p.find("progressBar")->isHidden());
        QVERIFY(p.button("stopButton")->isHidden());
        QCOMPARE(p.status(), kSelectVolume);
        // The reader made here stays open for the pages that follow.
        QVERIFY(p.state.activeReader);
        QCOMPARE(p.state.totalSectors, std::uint64_t(16 * kMiB / 512));
        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(!p.page->selectedVolume());
    }

    void scanThatFindsNothingLeavesNothingToChoose() {
        const QString path = image(QStringLiteral("empty.vhdx"), diskSpec(4 * kMiB));
        Page p(choicesFor(path));
        p.page->startScan();
        QVERIFY(p.rows().isEmpty());
        QVERIFY(!p.customBox()->isEnabled());
        QCOMPARE(p.status(), kSelectVolume);

        p.button("nextButton")->click();
        QCOMPARE(p.messages.shown, QStringList{kNoSelection});
        QVERIFY(p.nextPages.empty());
    }

    void imageThatCannotBeOpened_data() {
        QTest::addColumn<ScanMode>("mode");
        QTest::addColumn<QString>("message");
        QTest::newRow("standard") << ScanMode::Standard << QStringLiteral("File not opened..");
        QTest::newRow("advanced") << ScanMode::Advanced << QStringLiteral("file not opened..");
    }
    void imageThatCannotBeOpened() {
        QFETCH(ScanMode, mode);
        QFETCH(QString, message);
        Page p(choicesFor(QDir(dir_.path()).filePath(QStringLiteral("gone.vhdx")), mode));
        p.page->startScan();
        QVERIFY(!p.page->scanning());
        // The reader's own reason first, then the page's message.
        QCOMPARE(p.messages.shown.size(), 2);
        QCOMPARE(p.messages.shown.last(), message);
        QVERIFY(p.rows().isEmpty());
        QVERIFY(p.button("nextButton")->isEnabled());
        QVERIFY(p.button("backButton")->isEnabled());
        QVERIFY(p.button("stopButton")->isHidden());
    }

    void noReaderAndNoImageChosenMeansInformationLost() {
        ScanChoices choices = choicesFor(ntfsAndUnknownDisk());
        choices.imageChosen = false;  // nothing chosen on the image page: the page has no reader to use
        Page p(choices);
        p.page->startScan();
        QCOMPARE(p.messages.shown, QStringList{QStringLiteral("Information lost ..go back and parse again")});
        QVERIFY(p.rows().isEmpty());
    }

    void selectingAVolumeFillsTheCustomFields() {
        Page p(choicesFor(ntfsAndUnknownDisk()));
        p.page->startScan();
        QCOMPARE(p.rows(), (Rows{{"0", "NTFS", "1024   MB", "2048"}, {"1", "Unknown", "1   MB", "4096"}}));
        QCOMPARE(p.treatAs()->currentIndex(), -1);
        QStringList choices;
        for (int i = 0; i < p.treatAs()->count(); ++i) choices << p.treatAs()->itemText(i);
        QCOMPARE(choices, (QStringList{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"}));

        p.click(0);
        QCOMPARE(p.find<QLabel>("selectedVolumeName")->text(), QStringLiteral("0"));
        QCOMPARE(p.startEdit()->text(), QStringLiteral("2048"));
        QCOMPARE(p.endEdit()->text(), QStringLiteral("2099199"));
        QCOMPARE(p.treatAs()->currentText(), QStringLiteral("NTFS"));

        // A type no choice begins with leaves the drop-down as it was.
        p.click(1);
        QCOMPARE(p.startEdit()->text(), QStringLiteral("4096"));
        QCOMPARE(p.endEdit()->text(), QStringLiteral("6143"));
        QCOMPARE(p.treatAs()->currentText(), QStringLiteral("NTFS"));

        // The box switches every custom control with its tick.
        const char* controls[] = {"selectedVolumeLabel", "selectedVolumeName", "startSectorLabel", "startSectorEdit",
                                  "endSectorLabel",      "endSectorEdit",      "treatAsLabel",     "treatAsBox"};
        for (const char* name : controls) QVERIFY(!p.find(name)->isEnabled());
        p.customBox()->click();
        for (const char* name : controls) QVERIFY(p.find(name)->isEnabled());
        p.customBox()->click();
        for (const char* name : controls) QVERIFY(!p.find(name)->isEnabled());
    }

    void customSettingsApplyOnNextAndTheListRestoresThemLater() {
        Page p(choicesFor(ntfsAndUnknownDisk()));
        p.page->startScan();
        p.click(0);
        p.customBox()->click();
        p.startEdit()->setText(QStringLiteral("2048"));
        p.endEdit()->setText(QStringLiteral("206847"));
        p.treatAs()->setCurrentIndex(p.treatAs()->findText(QStringLiteral("NTFS")));

        p.button("nextButton")->click();
        QCOMPARE(p.nextPages.size(), std::size_t(1));
        QCOMPARE(p.nextPages[0].first, NextTarget::RecoveryMode);
        const VolumeRecord* chosen = p.page->selectedVolume();
        QVERIFY(chosen);
        QCOMPARE(chosen->fileSystem, std::string("ntfs"));
        QCOMPARE(chosen->sizeText, std::string("100"));
        QCOMPARE(chosen->startSector, std::int64_t(2048));
        QCOMPARE(p.nextPages[0].second.sizeText, std::string("100"));
        // The list still shows what was found.
        QCOMPARE(p.rows()[0], (QStringList{"0", "NTFS", "1024   MB", "2048"}));

        p.customBox()->click();
        p.button("nextButton")->click();
        QCOMPARE(p.nextPages.size(), std::size_t(2));
        QCOMPARE(p.page->selectedVolume(), chosen);
        QCOMPARE(chosen->fileSystem, std::string("NTFS"));
        QCOMPARE(chosen->sizeText, std::string("1024"));
        QCOMPARE(chosen->startSector, std::int64_t(2048));
        QCOMPARE(chosen->volumeName, std::string("0"));
        QVERIFY(p.messages.shown.isEmpty());

        // An end before the start makes an empty volume.
        p.customBox()->click();
        p.startEdit()->setText(QStringLiteral("5000"));
        p.endEdit()->setText(QStringLiteral("4000"));
        p.button("nextButton")->click();
        QCOMPARE(chosen->sizeText, std::string("0"));
        QCOMPARE(chosen->startSector, std::int64_t(5000));
    }

    void unknownVolumesNeedRawToGoOn() {
        Page p(choicesFor(ntfsAndUnknownDisk()));
        p.page->startScan();
        p.click(1);
        p.button("nextButton")->click();
        QCOMPARE(p.messages.shown, QStringList{kUnknownVolume});
        QVERIFY(p.nextPages.empty());

        // Treated as a file system the custom settings name, it goes on.
        p.customBox()->click();
        p.treatAs()->setCurrentIndex(p.treatAs()->findText(QStringLiteral("FAT32")));
        p.button("nextButton")->click();
        QCOMPARE(p.nextPages.size(), std::size_t(1));
        QCOMPARE(p.nextPages[0].first, NextTarget::RecoveryMode);
        QCOMPARE(p.nextPages[0].second.fileSystem, std::string("fat32"));

        // Treated as RAW it goes to raw recovery.
        p.treatAs()->setCurrentIndex(p.treatAs()->findText(QStringLiteral("RAW")));
        p.button("nextButton")->click();
        QCOMPARE(p.nextPages.size(), std::size_t(2));
        QCOMPARE(p.nextPages[1].first, NextTarget::RawRecovery);
        QCOMPARE(p.nextPages[1].second.fileSystem, std::string("RAW"));
        QCOMPARE(p.messages.shown, QStringList{kUnknownVolume});
    }

    void filterKeepsVolumesThatStartOneSectorAfterTheOneBefore() {
        const QString path = image(QStringLiteral("filter.vhdx"),
                                   diskSpec(4 * kMiB, mbrDisk({{0x07, 63, 2048}, {0x07, 64, 2048}, {0x07, 2048, 2048}})));
        Page p(choicesFor(path));
        p.page->startScan();
        QCOMPARE(p.rows().size(), 3);
        p.click(2);
        p.button("nextButton")->click();
        QVERIFY(p.page->selectedVolume());

        p.button("filterButton")->click();
        QCOMPARE(p.rows(), (Rows{{"1", "NTFS", "1   MB", "64"}}));
        // The rows the earlier choice referred to are gone, and so is the choice.
        QVERIFY(!p.page->selectedVolume());
        p.click(0);
        QCOMPARE(p.startEdit()->text(), QStringLiteral("64"));
    }

    void upDownFieldsStepByOneAndHoldSectorNumbersPast32Bits() {
        SectorSpinBox field;
        field.setText(QStringLiteral("5"));
        field.stepUp();
        QCOMPARE(field.value(), std::int64_t(6));
        field.setText(QStringLiteral("1"));
        field.stepDown();
        field.stepDown();  // never below 0
        QCOMPARE(field.text(), QStringLiteral("0"));

        field.setText(QStringLiteral("9000000000"));
        field.stepUp();
        QCOMPARE(field.value(), std::int64_t(9000000001LL));
        field.setText(QStringLiteral("9223372036854775807"));
        field.stepUp();
        QCOMPARE(field.text(), QStringLiteral("9223372036854775807"));

        // Typing: digits only, and nothing past the largest sector number.
        field.show();
        auto* edit = field.findChild<QLineEdit*>();
        QVERIFY(edit);
        edit->clear();
        QTest::keyClicks(&field, QStringLiteral("20x48"));
        QCOMPARE(field.text(), QStringLiteral("2048"));
        QTest::keyClick(&field, Qt::Key_Up);
        QCOMPARE(field.value(), std::int64_t(2049));
        QTest::keyClick(&field, Qt::Key_Down);
        QTest::keyClick(&field, Qt::Key_Down);
        QCOMPARE(field.value(), std::int64_t(2047));
        edit->clear();
        QTest::keyClicks(&field, QStringLiteral("92233720368547758079"));
        QCOMPARE(field.text(), QStringLiteral("9223372036854775807"));
    }

    void advancedScanListsVolumesAsItFindsThem_data() {
        QTest::addColumn<bool>("doNotSkip");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<Rows>("expected");
        // The backup boot sector in the volume's last sector is found only when the scan goes inside volumes.
        QTest::newRow("skipping volumes") << false << qint64(0) << qint64(0) << Rows{{"0", "NTFS", "2   MB", "2048"}};
        QTest::newRow("not skipping") << true << qint64(0) << qint64(0)
                                      << Rows{{"0", "NTFS", "2   MB", "2048"}, {"1", "NTFS", "2   MB", "6144"}};
        QTest::newRow("from sector 4096") << false << qint64(4096) << qint64(0) << Rows{{"0", "NTFS", "2   MB", "6144"}};
        QTest::newRow("ending at sector 1000") << false << qint64(0) << qint64(1000) << Rows{};
    }
    void advancedScanListsVolumesAsItFindsThem() {
        QFETCH(bool, doNotSkip);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(Rows, expected);
        const QString path = image(QStringLiteral("advanced.vhdx"),
                                   diskSpec(16 * kMiB, {{2048 * 512, ntfsBootSector(4096)},
                                                        {6144 * 512, ntfsBootSector(4096)}}));
        ScanChoices choices = choicesFor(path, ScanMode::Advanced);
        choices.doNotSkipFlag = doNotSkip;
        choices.startSector = start;
        choices.endSector = end;
        Page p(choices);

        // While the scan runs nothing that touches the records can be used; the rows come one by one.
        bool lockedWhileListing = true;
        int rowsSeen = 0;
        connect(p.list()->model(), &QAbstractItemModel::rowsInserted, p.page.get(), [&] {
            ++rowsSeen;
            for (const char* name : {"backButton", "nextButton", "filterButton", "addCustomVolumeButton"})
                lockedWhileListing = lockedWhileListing && !p.button(name)->isEnabled();
            lockedWhileListing = lockedWhileListing && !p.button("stopButton")->isHidden();
        });
        p.page->startScan();
        QVERIFY(p.page->scanning());
        p.waitForScan();

        QCOMPARE(p.rows(), expected);
        QCOMPARE(rowsSeen, int(expected.size()));
        QVERIFY(lockedWhileListing);
        QCOMPARE(p.messages.shown, QStringList{kPopulated});
        QCOMPARE(p.status(), kSelectVolume);
        QCOMPARE(p.customBox()->isEnabled(), !expected.isEmpty());
        for (const char* name : {"backButton", "nextButton", "filterButton", "addCustomVolumeButton"})
            QVERIFY(p.button(name)->isEnabled());
        QVERIFY(p.button("stopButton")->isHidden());
        QVERIFY(p.find("progressBar")->isHidden());
    }

    // Both scans and the custom settings agree on a volume's size: the NTFS volume whose boot sector counts 6,143
    // sectors (its backup boot sector is the 6,144th) is 3 MiB and ends at sector 8,191.
    void customSettingsEndWhereTheVolumeEnds() {
        const QString path = image(QStringLiteral("agree.vhdx"),
                                   diskSpec(16 * kMiB, {{0, mbrSector({{0x07, 2048, 6144}})},
                                                        {2048 * 512, ntfsBootSector(6143)},
                                                        {(2048 + 6143) * 512, ntfsBootSector(6143)}}));
        for (const ScanMode mode : {ScanMode::Standard, ScanMode::Advanced}) {
            Page p(choicesFor(path, mode));
            p.page->startScan();
            p.waitForScan();
            QCOMPARE(p.rows().value(0), (QStringList{"0", "NTFS", "3   MB", "2048"}));
            p.click(0);
            QCOMPARE(p.endEdit()->value(), std::int64_t(8191));
            QCOMPARE(p.page->records().at(0).sectorCount, std::uint64_t(6144));
        }
    }

    void stopEndsTheAdvancedScanWithTheVolumesFoundSoFar() {
        const QString path = image(QStringLiteral("stop.vhdx"),
                                   diskSpec(16 * kMiB, {{2048 * 512, ntfsBootSector(4096)},
                                                        {10240 * 512, ntfsBootSector(4096)}}));
        Page p(choicesFor(path, ScanMode::Advanced));
        bool backAfterStop = true;
        connect(p.list()->model(), &QAbstractItemModel::rowsInserted, p.page.get(), [&] {
            p.button("stopButton")->click();
            // Back comes back with the scan's end steps, not before: the scan may still append.
            backAfterStop = p.button("backButton")->isEnabled();
        });
        p.page->startScan();
        p.waitForScan();

        QVERIFY(!backAfterStop);
        QCOMPARE(p.rows(), (Rows{{"0", "NTFS", "2   MB", "2048"}}));
        QCOMPARE(p.page->records().size(), std::size_t(1));
        QCOMPARE(p.messages.shown, QStringList{kPopulated});
        QCOMPARE(p.status(), kSelectVolume);
        QVERIFY(p.button("backButton")->isEnabled());
    }

    void customVolumeIsAddedOnTopAfterAnAdvancedScan() {
        const QString path = image(QStringLiteral("custom.vhdx"), diskSpec(8 * kMiB, {{2048 * 512, ntfsBootSector(4096)}}));
        Page p(choicesFor(path, ScanMode::Advanced));
        QVERIFY(!p.button("addCustomVolumeButton")->isEnabled());
        p.page->startScan();
        p.waitForScan();
        p.click(0);
        p.button("nextButton")->click();
        VolumeRecord* found = p.page->selectedVolume();
        QVERIFY(found);

        p.button("addCustomVolumeButton")->click();
        QCOMPARE(p.rows(), (Rows{{"1", "CUSTOM ", "0", "0"}, {"0", "NTFS", "2   MB", "2048"}}));
        QCOMPARE(p.page->records().size(), std::size_t(2));
        QVERIFY(p.customBox()->isChecked());
        QVERIFY(p.startEdit()->isEnabled());
        QCOMPARE(p.startEdit()->text(), QStringLiteral("0"));
        QCOMPARE(p.endEdit()->text(), QStringLiteral("0"));
        QCOMPARE(p.list()->selectedItems().constFirst()->row(), 0);
        // The volume chosen before stays where it was, whatever the records did.
        QCOMPARE(found->startSector, std::int64_t(2048));
        QCOMPARE(found->fileSystem, std::string("NTFS"));

        p.startEdit()->setText(QStringLiteral("4096"));
        p.endEdit()->setText(QStringLiteral("8191"));
        p.treatAs()->setCurrentIndex(p.treatAs()->findText(QStringLiteral("EXTX")));
        p.button("nextButton")->click();
        QCOMPARE(p.nextPages.back().second.fileSystem, std::string("extX"));
        QCOMPARE(p.nextPages.back().second.sizeText, std::string("2"));
        QCOMPARE(p.nextPages.back().second.startSector, std::int64_t(4096));
    }

    void closingDuringTheAdvancedScanWaitsForItToStop() {
        const QString path = image(QStringLiteral("close.vhdx"),
                                   diskSpec(16 * kMiB, {{2048 * 512, ntfsBootSector(4096)},
                                                        {10240 * 512, ntfsBootSector(4096)}}));
        Page p(choicesFor(path, ScanMode::Advanced));
        QSignalSpy finished(p.page.get(), &QDialog::finished);
        p.messages.answers = {true};
        connect(p.list()->model(), &QAbstractItemModel::rowsInserted, p.page.get(), [&] {
            if (p.messages.shown.isEmpty()) p.page->reject();  // the close box, answered Yes
            QCOMPARE(finished.count(), 0);
        });
        p.page->startScan();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QVERIFY(!p.page->scanning());
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.opened.size(), std::size_t(1));
        // The application ends: no closing message of the scan.
        QCOMPARE(p.messages.shown, QStringList{QStringLiteral("? Do you want to Close Application ?")});
    }

    void pageDestroyedDuringTheAdvancedScanWaitsForIt() {
        // A disk that takes many seconds to scan. The page goes at once, before the worker has even begun: the
        // stop must still reach the scan, or the page would wait for all of it.
        const QString path = image(QStringLiteral("destroy.vhdx"),
                                   diskSpec(16 * 1024 * kMiB, {{2048 * 512, ntfsBootSector(4096)}}));
        Page p(choicesFor(path, ScanMode::Advanced));
        p.page->startScan();
        QVERIFY(p.page->scanning());
        QElapsedTimer clock;
        clock.start();
        p.page.reset();
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(p.state.activeReader);
    }
};

QTEST_MAIN(VolumeListPageTest)
#include "volume_list_page_test.moc"
