// The parsing-modes page: how its controls follow the chosen mode, what Next hands to the volume list page
// (the override values included, down to the reader), and the raw image export with its naming, content, Stop,
// failures and the page's lifetime while it runs.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/parsing_modes_page.h"
#include "app/volume_list_page.h"
#include "disk_images.h"
#include "page_lookup.h"
#include "image/vhdx_reader.h"
#include "recording_sink.h"

using halvard::ApplicationState;
using halvard::gui::ParsingModesPage;
using halvard::gui::ImageHandover;
using halvard::gui::VolumeListPage;
using halvard::gui::ScanChoices;
using halvard::gui::ScanMode;
using namespace halvard::gui::testing;
using halvard::testing::VhdxSpec;

namespace {

// One way through the page's controls, and what Next must hand over after it.
struct ChoicesCase {
    bool advance = false;
    bool gpt = false;
    bool doNotSkip = false;
    bool custom = false;
    bool standardAfterwards = false;  // the standard scan chosen again after the ticks
    QString start;
    QString end;
    ScanMode mode = ScanMode::Standard;
    qint64 startSector = 0;
    qint64 endSector = 0;
};

// The value fields the image page hands over, and the overrides they must become.
struct OverridesCase {
    QString size;
    QString block;
    QString sector;
    qint64 diskBytes = 0;
    quint32 blockBytes = 0;
    quint32 sectorBytes = 0;
};

const QString kSpaceWarning =
    QStringLiteral("Make sure you have sufficient disk space at saving location of Image File");
const QString kStopQuestion = QStringLiteral("? Are you sure to stop the running process?");
const QString kDoneText = QStringLiteral("Image Saved, click next to continue recovery proess.");
const QString kChooseMode = QStringLiteral("Choose any one of the mode and click next....");

ImageHandover handoverFor(const QString& path) {
    ImageHandover handover;
    handover.imagePath = path;
    handover.diskSizeText = QStringLiteral("0");
    handover.blockSizeText = QStringLiteral("0");
    handover.logicalSectorSizeText = QStringLiteral("0");
    handover.imageChosen = true;
    return handover;
}

// One page with a recording sink and a scripted folder chooser.
struct Page {
    ApplicationState state;
    RecordingMessageSink messages;
    QString folder;  // what the folder chooser returns
    int foldersAsked = 0;
    std::unique_ptr<ParsingModesPage> page;

    explicit Page(const ImageHandover& handover) {
        state.sourcePage = halvard::kImagePageId;
        page = std::make_unique<ParsingModesPage>(state, handover);
        page->setMessageSink(&messages);
        page->setUrlOpener([](const QUrl&) { return true; });
        page->setFolderChooser([this](QWidget*) {
            ++foldersAsked;
            return folder;
        });
    }

    template <typename T = QWidget>
    T* find(const char* name) { return child<T>(page.get(), name); }
    QPushButton* button(const char* name) { return find<QPushButton>(name); }
    QCheckBox* box(const char* name) { return find<QCheckBox>(name); }
    QString status() { return find<QLabel>("statusText")->text(); }

    void startExport() {
        box("saveDiskImageBox")->click();
        button("saveImageButton")->click();
    }
    bool exportControlsEnabled() {
        return button("nextButton")->isEnabled() && button("backButton")->isEnabled() &&
               button("saveImageButton")->isEnabled() && box("saveDiskImageBox")->isEnabled();
    }
    bool exportControlsDisabled() {
        return !button("nextButton")->isEnabled() && !button("backButton")->isEnabled() &&
               !button("saveImageButton")->isEnabled() && !box("saveDiskImageBox")->isEnabled();
    }
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray diskBytes(const VhdxSpec& spec, std::uint64_t length) {
    const std::vector<std::uint8_t> disk = halvard::testing::expectedDisk(spec);
    return QByteArray(reinterpret_cast<const char*>(disk.data()), static_cast<qsizetype>(length));
}

}  // namespace

Q_DECLARE_METATYPE(ChoicesCase)
Q_DECLARE_METATYPE(OverridesCase)

class ParsingModesPageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    // A disk of `mib` MiB whose blocks 0, 3 and the last one hold data, under the name disk.vhdx in its own
    // folder (the export names its output after it).
    QString diskImage(const QString& folder, std::uint64_t size, VhdxSpec* specOut = nullptr) {
        VhdxSpec spec;
        spec.virtualSize = size;
        spec.blockSize = 1 * kMiB;
        const std::uint64_t blocks = (size + kMiB - 1) / kMiB;
        spec.allocatedBlocks = {0, 3, blocks - 1};
        QDir().mkpath(folder);
        if (specOut) *specOut = spec;
        return halvard::gui::testing::writeImage(folder, QStringLiteral("disk.vhdx"), spec);
    }

    QString subFolder(const QString& name) {
        const QString path = QDir(dir_.path()).filePath(name);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void pageStartsInStandardModeWithTheImageShown() {
        Page p(handoverFor(QStringLiteral("/images/disk.vhdx")));
        QCOMPARE(p.find<QLabel>("selectedDriveValue")->text(), QStringLiteral("/images/disk.vhdx"));
        QCOMPARE(p.status(), kChooseMode);
        QVERIFY(p.find<QRadioButton>("standardScanButton")->isChecked());
        QVERIFY(!p.box("doNotSkipBox")->isEnabled());
        QVERIFY(!p.box("customSettingBox")->isEnabled());
        QCOMPARE(p.find<QLineEdit>("startSectorEdit")->text(), QStringLiteral("0"));
        QVERIFY(!p.button("saveImageButton")->isEnabled());
        QVERIFY(p.button("stopButton")->isHidden());
        QVERIFY(p.messages.shown.isEmpty());
    }

    void controlsFollowTheModeAndTheirTicks() {
        Page p(handoverFor(QStringLiteral("disk.vhdx")));
        auto* start = p.find<QLineEdit>("startSectorEdit");
        p.find<QRadioButton>("advanceScanButton")->click();
        QVERIFY(!p.find<QRadioButton>("standardScanButton")->isChecked());
        QVERIFY(p.box("doNotSkipBox")->isEnabled());
        QVERIFY(p.box("customSettingBox")->isEnabled());
        QVERIFY(!start->isEnabled());

        p.box("customSettingBox")->click();
        QVERIFY(start->isEnabled());
        QVERIFY(p.find<QLineEdit>("endSectorEdit")->isEnabled());
        p.box("doNotSkipBox")->click();

        // Back to standard: everything of the advanced scan is disabled, the ticks stay.
        p.find<QRadioButton>("standardScanButton")->click();
        QVERIFY(!p.box("doNotSkipBox")->isEnabled());
        QVERIFY(!p.box("customSettingBox")->isEnabled());
        QVERIFY(!start->isEnabled());
        QVERIFY(p.box("doNotSkipBox")->isChecked());
        QVERIFY(p.box("customSettingBox")->isChecked());

        // And advanced again: the ticked range is editable again, as it is handed over.
        p.find<QRadioButton>("advanceScanButton")->click();
        QVERIFY(start->isEnabled());

        // Sector fields take digits only, up to the largest 64-bit sector number.
        start->clear();
        QTest::keyClicks(start, QStringLiteral("12a-3"));
        QCOMPARE(start->text(), QStringLiteral("123"));
        start->clear();
        QTest::keyClicks(start, QStringLiteral("92233720368547758079"));
        QCOMPARE(start->text(), QStringLiteral("9223372036854775807"));

        p.box("saveDiskImageBox")->click();
        QVERIFY(p.button("saveImageButton")->isEnabled());
        p.box("saveDiskImageBox")->click();
        QVERIFY(!p.button("saveImageButton")->isEnabled());
    }

    void nextHandsTheChoicesOver_data() {
        QTest::addColumn<ChoicesCase>("way");
        QTest::newRow("standard") << ChoicesCase{.start = "2048", .end = "4096"};
        QTest::newRow("standard, GPT") << ChoicesCase{.gpt = true, .start = "0", .end = "0"};
        QTest::newRow("advanced, no skipping")
            << ChoicesCase{.advance = true, .doNotSkip = true, .start = "2048", .end = "4096",
                           .mode = ScanMode::Advanced};
        QTest::newRow("advanced, range")
            << ChoicesCase{.advance = true, .custom = true, .start = "2048", .end = "4096000",
                           .mode = ScanMode::Advanced, .startSector = 2048, .endSector = 4096000};
        QTest::newRow("range past 32 bits")
            << ChoicesCase{.advance = true, .custom = true, .start = "4294967296", .end = "9000000000",
                           .mode = ScanMode::Advanced, .startSector = 4294967296LL, .endSector = 9000000000LL};
        QTest::newRow("range ticked, then standard")
            << ChoicesCase{.advance = true, .custom = true, .standardAfterwards = true, .start = "100", .end = "200",
                           .startSector = 100, .endSector = 200};
        QTest::newRow("empty range fields")
            << ChoicesCase{.advance = true, .custom = true, .start = "", .end = "", .mode = ScanMode::Advanced};
    }
    void nextHandsTheChoicesOver() {
        QFETCH(ChoicesCase, way);

        Page p(handoverFor(QStringLiteral("/images/disk.vhdx")));
        p.page->show();
        if (way.advance) p.find<QRadioButton>("advanceScanButton")->click();
        if (way.gpt) p.box("gptBox")->click();
        if (way.doNotSkip) p.box("doNotSkipBox")->click();
        if (way.custom) p.box("customSettingBox")->click();
        p.find<QLineEdit>("startSectorEdit")->setText(way.start);
        p.find<QLineEdit>("endSectorEdit")->setText(way.end);
        if (way.standardAfterwards) p.find<QRadioButton>("standardScanButton")->click();

        ScanChoices seen;
        int made = 0;
        p.page->setNextPageFactory([&](ParsingModesPage&, const ScanChoices& choices) -> VolumeListPage* {
            seen = choices;
            ++made;
            return nullptr;
        });
        p.button("nextButton")->click();

        QCOMPARE(made, 1);
        QCOMPARE(seen.imagePath, QStringLiteral("/images/disk.vhdx"));
        QVERIFY(seen.imageChosen);
        QCOMPARE(seen.scanMode, way.mode);
        QCOMPARE(seen.gptFlag, way.gpt);
        QCOMPARE(seen.doNotSkipFlag, way.doNotSkip);
        QCOMPARE(qint64(seen.startSector), way.startSector);
        QCOMPARE(qint64(seen.endSector), way.endSector);
        // The volume list page could not be made: the page says so and stays.
        QCOMPARE(p.messages.shown, QStringList{QStringLiteral("error creating PopulateDriveDlgptr")});
        QVERIFY(p.page->isVisible());
    }

    void valueFieldsBecomeOverrides_data() {
        QTest::addColumn<OverridesCase>("fields");
        QTest::newRow("as read")
            << OverridesCase{.size = "130048", .block = "33554432", .sector = "512",
                             .diskBytes = qint64(130048) * qint64(kMiB), .blockBytes = 33554432, .sectorBytes = 512};
        QTest::newRow("empty fields keep the image's values") << OverridesCase{.size = "", .block = "", .sector = ""};
        // Values that do not fit are no override rather than a wrapped one.
        QTest::newRow("too large")
            << OverridesCase{.size = "8796093022208", .block = "4294967296", .sector = "99999999999"};
        QTest::newRow("largest that fit")
            << OverridesCase{.size = "8796093022207", .block = "4294967295", .sector = "4096",
                             .diskBytes = qint64(8796093022207LL) * qint64(kMiB), .blockBytes = 4294967295u,
                             .sectorBytes = 4096};
    }
    void valueFieldsBecomeOverrides() {
        QFETCH(OverridesCase, fields);
        ImageHandover handover = handoverFor(QStringLiteral("disk.vhdx"));
        handover.diskSizeText = fields.size;
        handover.blockSizeText = fields.block;
        handover.logicalSectorSizeText = fields.sector;
        Page p(handover);
        QCOMPARE(qint64(p.state.overrides.userDiskSize), fields.diskBytes);
        QCOMPARE(p.state.overrides.userBlockSize, fields.blockBytes);
        QCOMPARE(p.state.overrides.userLogicalSectorSize, fields.sectorBytes);
    }

    void blockSizeOverrideReachesTheVolumeListReader() {
        VhdxSpec spec;
        spec.virtualSize = 8 * kMiB;
        spec.blockSize = 2 * kMiB;
        const QString path = halvard::gui::testing::writeImage(dir_.path(), QStringLiteral("override.vhdx"), spec);
        ImageHandover handover = handoverFor(path);
        handover.diskSizeText = QStringLiteral("4");
        handover.blockSizeText = QStringLiteral("1048576");
        handover.logicalSectorSizeText = QStringLiteral("512");
        Page p(handover);
        p.page->show();

        p.button("nextButton")->click();

        VolumeListPage* list = p.page->volumeListPage();
        QVERIFY(list);
        QVERIFY(list->isVisible());
        QVERIFY(!p.page->isVisible());
        QCOMPARE(list->parentWidget(), p.page.get());
        QCOMPARE(list->imagePath(), path);
        auto* reader = dynamic_cast<halvard::VhdxReader*>(p.state.activeReader.get());
        QVERIFY(reader);
        QCOMPARE(reader->blockSize(), std::uint64_t(1 * kMiB));
        QCOMPARE(p.state.totalSectors, std::uint64_t(4 * kMiB / 512));
        // An empty disk: the list page tells through the sink it took over from this page.
        QVERIFY(p.messages.shown.isEmpty());
    }

    void exportCopiesTheDiskAndNumbersTheNextOutput() {
        VhdxSpec spec;
        const std::uint64_t size = 12 * kMiB + 512;  // two whole chunks and a short one
        const QString image = diskImage(QDir(dir_.path()).filePath(QStringLiteral("source")), size, &spec);
        Page p(handoverFor(image));
        p.folder = subFolder(QStringLiteral("out"));
        p.page->show();

        p.startExport();
        // The controls that would start a second user of the reader are off at once.
        QVERIFY(p.page->exporting());
        QVERIFY(p.exportControlsDisabled());
        QVERIFY(!p.button("stopButton")->isHidden());
        QVERIFY(!p.find("progressBar")->isHidden());
        QVERIFY(p.state.activeReader);
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->exporting(), 20000);

        const QString first = QDir(p.folder).filePath(QStringLiteral("disk.vhdx.img"));
        QCOMPARE(p.page->outputPath(), first);
        QCOMPARE(p.find<QLineEdit>("outputPathEdit")->text(), first);
        QCOMPARE(readAll(first), diskBytes(spec, size));
        QCOMPARE(p.status(), kDoneText);
        QVERIFY(p.exportControlsEnabled());
        QVERIFY(p.button("stopButton")->isHidden());
        QVERIFY(p.find("progressBar")->isHidden());
        // The export's reader is gone with it; the volume list page makes its own.
        QVERIFY(!p.state.activeReader);
        QCOMPARE(p.state.totalSectors, std::uint64_t(0));
        QCOMPARE(p.foldersAsked, 1);
        QCOMPARE(p.messages.shown, QStringList{kSpaceWarning});

        p.button("saveImageButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->exporting(), 20000);
        const QString second = QDir(p.folder).filePath(QStringLiteral("1disk.vhdx.img"));
        QCOMPARE(p.page->outputPath(), second);
        QCOMPARE(readAll(second), diskBytes(spec, size));
        QCOMPARE(QFileInfo(first).size(), qint64(size));
        QCOMPARE(p.messages.shown, (QStringList{kSpaceWarning, kSpaceWarning}));
    }

    void cancelledFolderChooserStartsNothing() {
        const QString image = diskImage(QDir(dir_.path()).filePath(QStringLiteral("cancel")), 4 * kMiB);
        Page p(handoverFor(image));
        p.folder.clear();
        p.startExport();
        QCOMPARE(p.foldersAsked, 1);
        QVERIFY(!p.page->exporting());
        QVERIFY(p.page->outputPath().isEmpty());
        QVERIFY(!p.state.activeReader);
        QVERIFY(p.exportControlsEnabled());
        QCOMPARE(p.messages.shown, QStringList{kSpaceWarning});
    }

    void stopAsksAndEndsTheExportAfterTheChunkInProgress() {
        VhdxSpec spec;
        const std::uint64_t size = 24 * kMiB;
        const QString image = diskImage(QDir(dir_.path()).filePath(QStringLiteral("stop")), size, &spec);
        Page p(handoverFor(image));
        p.folder = subFolder(QStringLiteral("stop-out"));
        p.page->show();

        // At the 10 MiB mark (where the bar moves) the user presses Stop twice: No, then Yes. The copy ends
        // after the chunk that follows.
        p.messages.answers = {false, true};
        bool pressed = false;
        bool backStayedDisabled = false;
        auto* bar = p.find<QProgressBar>("progressBar");
        connect(bar, &QProgressBar::valueChanged, bar, [&](int value) {
            if (pressed || value < int(10 * kMiB / 512)) return;
            pressed = true;
            p.button("stopButton")->click();
            p.button("stopButton")->click();
            backStayedDisabled = !p.button("backButton")->isEnabled();
        });
        p.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->exporting(), 20000);

        QVERIFY(pressed);
        QVERIFY(backStayedDisabled);
        QCOMPARE(p.messages.shown, (QStringList{kSpaceWarning, kStopQuestion, kStopQuestion}));
        const QString output = QDir(p.folder).filePath(QStringLiteral("disk.vhdx.img"));
        QCOMPARE(readAll(output), diskBytes(spec, 15 * kMiB));
        QCOMPARE(p.status(), kDoneText);
        QVERIFY(p.exportControlsEnabled());
        QVERIFY(!p.state.activeReader);

        // The next export is not stopped by the earlier answer.
        p.button("saveImageButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->exporting(), 20000);
        QCOMPARE(QFileInfo(QDir(p.folder).filePath(QStringLiteral("1disk.vhdx.img"))).size(), qint64(size));
    }

    void unreadableSectorsAreReportedAfterTheCopy() {
        // The image ends 8 sectors short of its last block: those sectors come out as zeros, and the user is told.
        VhdxSpec spec;
        spec.virtualSize = 2 * kMiB;
        spec.blockSize = 1 * kMiB;
        spec.allocatedBlocks = {0, 1};
        spec.payloadPastEnd = 8 * 512;
        const QString folder = subFolder(QStringLiteral("truncated"));
        const QString image = halvard::gui::testing::writeImage(folder, QStringLiteral("disk.vhdx"), spec);
        Page p(handoverFor(image));
        p.folder = subFolder(QStringLiteral("truncated-out"));
        p.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->exporting(), 20000);

        QCOMPARE(p.messages.shown,
                 (QStringList{kSpaceWarning,
                              QStringLiteral("8 sectors of the image could not be read and were written as zeros.")}));
        QCOMPARE(p.status(), kDoneText);
        QByteArray expected = diskBytes(spec, spec.virtualSize);
        expected.replace(qsizetype(spec.virtualSize - 8 * 512), 8 * 512, QByteArray(8 * 512, '\0'));
        QCOMPARE(readAll(QDir(p.folder).filePath(QStringLiteral("disk.vhdx.img"))), expected);
    }

    void imageThatCannotBeOpenedEndsTheExportQuietly() {
        Page p(handoverFor(QDir(dir_.path()).filePath(QStringLiteral("missing/disk.vhdx"))));
        p.folder = subFolder(QStringLiteral("missing-out"));
        p.startExport();
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->exporting(), 20000);
        // The reader has said why; nothing was written and the page is as before.
        QCOMPARE(p.messages.shown.size(), 2);
        QCOMPARE(p.messages.shown[0], kSpaceWarning);
        QVERIFY(!QFile::exists(QDir(p.folder).filePath(QStringLiteral("disk.vhdx.img"))));
        QVERIFY(!p.state.activeReader);
        QVERIFY(p.exportControlsEnabled());
        QVERIFY(p.button("stopButton")->isHidden());
        QCOMPARE(p.status(), kChooseMode);
    }

    void closingDuringTheExportStopsItFirst() {
        const QString image = diskImage(QDir(dir_.path()).filePath(QStringLiteral("close")), 64 * kMiB);
        Page p(handoverFor(image));
        p.folder = subFolder(QStringLiteral("close-out"));
        p.page->show();
        QSignalSpy finished(p.page.get(), &QDialog::finished);

        p.startExport();
        p.page->accept();  // Enter: the application ends without a question
        QCOMPARE(finished.count(), 0);  // not while the export still writes
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QVERIFY(!p.page->exporting());
        QVERIFY(!p.state.activeReader);
        // Stopped before its second chunk, with no question asked.
        QCOMPARE(QFileInfo(QDir(p.folder).filePath(QStringLiteral("disk.vhdx.img"))).size(),
                 qint64(halvard::kExportChunkSize));
        QCOMPARE(p.messages.shown, QStringList{kSpaceWarning});
    }

    void pageDestroyedDuringTheExportWaitsForIt() {
        const QString image = diskImage(QDir(dir_.path()).filePath(QStringLiteral("destroy")), 64 * kMiB);
        Page p(handoverFor(image));
        p.folder = subFolder(QStringLiteral("destroy-out"));
        p.page->show();
        p.startExport();
        QVERIFY(p.page->exporting());
        p.page.reset();
        // The worker has left: its partial output is closed and nothing more is shown.
        QCOMPARE(QFileInfo(QDir(p.folder).filePath(QStringLiteral("disk.vhdx.img"))).size(),
                 qint64(halvard::kExportChunkSize));
        QCOMPARE(p.messages.shown, QStringList{kSpaceWarning});
    }
};

QTEST_MAIN(ParsingModesPageTest)
#include "parsing_modes_page_test.moc"
