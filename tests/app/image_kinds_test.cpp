// VHD, VDI and VMDK images made by qemu-img from one MBR disk (NTFS and FAT32): the image page accepts each by its
// signature whatever its name, shows its size, and the volume list page then reads its partition table through the
// reader that fits it. For every format the page names the format and the parents a differencing image reads
// through.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/volume_list_page.h"
#include "app/image_page.h"
#include "recording_sink.h"
#include "support/vdi_builder.h"
#include "support/vhd_builder.h"
#include "support/vhdx_builder.h"

using halvard::ApplicationState;
using halvard::gui::VolumeListPage;
using halvard::gui::ScanChoices;
using halvard::gui::ImagePage;
using halvard::gui::testing::RecordingMessageSink;

class ImageKindsTest : public QObject {
    Q_OBJECT

    static QString fixture(const QString& name) { return QStringLiteral(HALVARD_FIXTURE_DIR "/") + name; }

    // The format line and the chain list's rows ("FORMAT file name", nearest first) after choosing `path`;
    // the rows are empty when the list is hidden.
    struct Description {
        QString format;
        QStringList chain;
        QStringList messages;
        bool nextEnabled = false;
    };
    static Description describeOnPage(const QString& path) {
        ApplicationState state;
        RecordingMessageSink messages;
        ImagePage page(state);
        page.setMessageSink(&messages);
        page.show();
        page.chooseImage(path);
        Description d;
        d.format = page.findChild<QLabel*>(QStringLiteral("formatValue"))->text();
        auto* list = page.findChild<QTreeWidget*>(QStringLiteral("chainList"));
        if (list->isVisible())
            for (int row = 0; row < list->topLevelItemCount(); ++row) {
                const QTreeWidgetItem* item = list->topLevelItem(row);
                d.chain << item->text(0) + u' ' + QFileInfo(item->text(1)).fileName();
            }
        d.messages = messages.shown;
        d.nextEnabled = page.findChild<QPushButton*>(QStringLiteral("nextButton"))->isEnabled();
        return d;
    }

private slots:
    void imagePageAndVolumeListReadEachKind_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"formats_dyn.vhd", "formats_fixed.vhd", "formats_dyn.vdi", "formats_static.vdi",
                                 "formats_sparse.vmdk", "formats_stream.vmdk"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void imagePageAndVolumeListReadEachKind() {
        QFETCH(QString, name);
        const QString path = fixture(name);
        if (!QFile::exists(path)) QSKIP("fixtures not built (ctest builds them)");
        const qint64 diskMiB = QFile(fixture(QStringLiteral("formats_disk.raw"))).size() >> 20;

        ApplicationState state;
        RecordingMessageSink messages;
        {
            ImagePage page(state);
            page.setMessageSink(&messages);
            page.chooseImage(path);
            QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.join(QStringLiteral("; "))));
            QVERIFY(page.findChild<QPushButton*>(QStringLiteral("nextButton"))->isEnabled());
            // qemu rounds a VHD up to its CHS geometry: a little more than the raw disk.
            const qint64 shown = page.findChild<QLineEdit*>(QStringLiteral("sizeEdit"))->text().toLongLong();
            QVERIFY2(shown >= diskMiB && shown <= diskMiB + 1, qPrintable(QString::number(shown)));
        }

        ScanChoices choices;
        choices.imagePath = path;
        choices.imageChosen = true;
        state.sourcePage = halvard::kImagePageId;
        VolumeListPage list(state, choices);
        list.setMessageSink(&messages);
        list.startScan();
        QStringList found;
        for (const halvard::VolumeRecord& record : list.records())
            found << QString::fromStdString(record.fileSystem) + "@" + QString::number(record.startSector);
        QCOMPARE(found.size(), 2);
        QVERIFY2(found[0].startsWith(QStringLiteral("NTFS@2048")), qPrintable(found.join(' ')));
        QVERIFY2(found[1].startsWith(QStringLiteral("FAT32@")), qPrintable(found.join(' ')));
        QVERIFY(messages.shown.isEmpty());
    }

    void pageShowsFormatAndChain_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("chain");
        QTest::newRow("qcow2 chain") << "chains/qcow2_top.qcow2" << "QCOW2, differencing"
                                     << QStringList{"QCOW2 qcow2_mid.qcow2", "QCOW2 qcow2_base.qcow2"};
        QTest::newRow("qcow2 over VMDK") << "chains/qcow2_over_vmdk.qcow2" << "QCOW2, differencing"
                                         << QStringList{"VMDK base.vmdk"};
        QTest::newRow("qcow2 plain") << "chains/qcow2_zstd.qcow2" << "QCOW2" << QStringList{};
        QTest::newRow("VMDK delta") << "chains/vmdk_child.vmdk" << "VMDK, differencing"
                                    << QStringList{"VMDK vmdk_base.vmdk"};
        QTest::newRow("VMDK split") << "chains/vmdk_splitfs.vmdk" << "VMDK" << QStringList{};
        QTest::newRow("VHDX chain") << "vhdx_grandchild.avhdx" << "VHDX, differencing"
                                    << QStringList{"VHDX vhdx_child.avhdx", "VHDX vhdx_parent.vhdx"};
        QTest::newRow("VHDX") << "ntfs_32m.vhdx" << "VHDX" << QStringList{};
        QTest::newRow("VDI") << "formats_dyn.vdi" << "VDI" << QStringList{};
        QTest::newRow("flat disk") << "formats_disk.raw" << "RAW" << QStringList{};
    }
    void pageShowsFormatAndChain() {
        QFETCH(QString, name);
        QFETCH(QString, format);
        QFETCH(QStringList, chain);
        if (!QFile::exists(fixture(name))) QSKIP("fixtures not built (ctest builds them)");
        const Description d = describeOnPage(fixture(name));
        QVERIFY2(d.nextEnabled, qPrintable(d.messages.join(QStringLiteral("; "))));
        QCOMPARE(d.format, format);
        QCOMPARE(d.chain, chain);
    }

    // Differencing VHD and VDI files (which qemu-img cannot write) from the test-only writers; a child whose parent
    // is gone is refused with the reason, and shows no chain.
    void differencingVhdAndVdiShowTheirParents() {
        using namespace halvard::testing;
        QTemporaryDir dir;
        auto file = [&](const char* name) {
            return QFile::encodeName(dir.filePath(QString::fromLatin1(name))).toStdString();
        };
        VhdSpec base;
        base.allocatedBlocks = {0};
        writeFile(file("base.vhd"), buildVhd(base));
        VhdSpec child;
        child.differencing = true;
        child.parentName = "base.vhd";
        child.parentRelativePath = ".\\base.vhd";
        child.parentUniqueIdSeed = base.uniqueIdSeed;
        child.allocatedBlocks = {1};
        writeFile(file("child.vhd"), buildVhd(child));
        Description d = describeOnPage(dir.filePath(QStringLiteral("child.vhd")));
        QCOMPARE(d.format, QStringLiteral("VHD, differencing"));
        QCOMPARE(d.chain, QStringList{QStringLiteral("VHD base.vhd")});

        VdiSpec parent;
        parent.uuidSeed = 0x80;
        writeFile(file("parent.vdi"), buildVdi(parent));
        VdiSpec snapshot;
        snapshot.imageType = 4;
        snapshot.parentSeed = 0x80;
        snapshot.allocatedBlocks = {2};
        writeFile(file("snapshot.vdi"), buildVdi(snapshot));
        d = describeOnPage(dir.filePath(QStringLiteral("snapshot.vdi")));
        QCOMPARE(d.format, QStringLiteral("VDI, differencing"));
        QCOMPARE(d.chain, QStringList{QStringLiteral("VDI parent.vdi")});

        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("base.vhd"))));
        d = describeOnPage(dir.filePath(QStringLiteral("child.vhd")));
        QVERIFY(!d.nextEnabled);
        QCOMPARE(d.messages.size(), 1);
        QVERIFY2(d.messages[0].contains(QStringLiteral("base.vhd")), qPrintable(d.messages[0]));
        QVERIFY(d.chain.isEmpty());
    }

    // A differencing VHDX made by the test-only writer: the page names the parents it reads through.
    void differencingChildNamesItsParents() {
        const QString path = fixture(QStringLiteral("vhdx_grandchild.avhdx"));
        if (!QFile::exists(path)) QSKIP("fixtures not built (ctest builds them)");
        ApplicationState state;
        RecordingMessageSink messages;
        ImagePage page(state);
        page.setMessageSink(&messages);
        page.chooseImage(path);
        QCOMPARE(messages.shown.size(), 1);
        const QStringList lines = messages.shown[0].split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("This is a differencing VHDX."));
        QVERIFY(lines[1].startsWith(QStringLiteral("Parent: ")) && lines[1].endsWith(QStringLiteral("vhdx_child.avhdx")));
        QVERIFY(lines[2].endsWith(QStringLiteral("vhdx_parent.vhdx")));
        QVERIFY(page.findChild<QPushButton*>(QStringLiteral("nextButton"))->isEnabled());
    }
};

QTEST_MAIN(ImageKindsTest)
#include "image_kinds_test.moc"
