// VHD, VDI and VMDK images made by qemu-img from one MBR disk (NTFS and FAT32): the image page accepts each by its
// signature whatever its name, shows its size, and the volume list page then reads its partition table through the
// reader that fits it.
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/populate_drive_dlg.h"
#include "app/vhd_input_dialog.h"
#include "recording_sink.h"

using halvard::ApplicationState;
using halvard::gui::PopulateDriveDlg;
using halvard::gui::ScanChoices;
using halvard::gui::VhdInputDialog;
using halvard::gui::testing::RecordingMessageSink;

class ImageKindsTest : public QObject {
    Q_OBJECT

    static QString fixture(const QString& name) { return QStringLiteral(HALVARD_FIXTURE_DIR "/") + name; }

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
            VhdInputDialog page(state);
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
        PopulateDriveDlg list(state, choices);
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

    // A differencing VHDX made by the test-only writer: the page names the parents it reads through.
    void differencingChildNamesItsParents() {
        const QString path = fixture(QStringLiteral("vhdx_grandchild.avhdx"));
        if (!QFile::exists(path)) QSKIP("fixtures not built (ctest builds them)");
        ApplicationState state;
        RecordingMessageSink messages;
        VhdInputDialog page(state);
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
