// The whole road on every other file system and image kind: from the image page through the volume list to the
// browser in standard mode, on FAT32 and exFAT (mkfs + mtools / exfat-fuse), ext3 (mke2fs -d), the HFS+ volume
// made on macOS, and the NTFS volume of one disk converted by qemu-img to VHD, VDI and VMDK. In each the tree
// opens a folder, its label lists the files, a search finds what the source holds, and a saved folder matches
// the source's content.
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/checked_list.h"
#include "wizard_road.h"

using namespace halvard::gui::testing;
using halvard::gui::BrowserPage;

namespace {

// One regular file the volume holds, as its maker wrote it.
struct SourceFile {
    QString path;  // from the volume's root, '/'-joined, no leading '/'
    qint64 size = 0;
    QByteArray sha256;  // hex; empty when the source does not say
    qint64 mtime = -1;  // seconds since 1970 UTC; -1 when not compared
};
using Source = QList<SourceFile>;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// make_fat_fixtures.sh's manifest, one volume by its file-system name. DOS times are local times, so they are
// left to the command-line checks, which set the zone.
Source fatSource(const QString& fileSystem) {
    Source files;
    const QJsonArray volumes = QJsonDocument::fromJson(readAll(kFixtures + "/fat_manifest.json"))["volumes"].toArray();
    for (const QJsonValue& volume : volumes) {
        if (volume["fs"].toString() != fileSystem) continue;
        for (const QJsonValue& f : volume["files"].toArray())
            files.push_back({f["path"].toString().mid(1), f["size"].toInteger(), f["sha256"].toString().toLatin1(), -1});
    }
    return files;
}

// make_ext_fixtures.sh's manifest: partition, type, path, size, sha256, mtime.
Source extSource(int partition) {
    Source files;
    for (const QByteArray& raw : readAll(kFixtures + "/ext_manifest.txt").split('\n')) {
        const QStringList f = QString::fromUtf8(raw).split(u'\t');
        if (f.size() < 6 || f[0].toInt() != partition || f[1] != QStringLiteral("f")) continue;
        files.push_back({f[2].mid(1), f[3].toLongLong(), f[4].toLatin1(), f[5].toLongLong()});
    }
    return files;
}

// The Sleuth Kit's listing of the HFS+ volume made on macOS (fls -r -p -l): regular files, not the catalog's own.
Source hfsSource() {
    Source files;
    for (const QByteArray& raw : readAll(QStringLiteral(HALVARD_EXTERNAL_DIR "/hfsplus.fls.txt")).split('\n')) {
        const QStringList f = QString::fromUtf8(raw).split(u'\t');
        if (f.size() < 7 || !f[0].startsWith(QStringLiteral("r/r")) || f[1].startsWith(u'$')) continue;
        const QDateTime modified = QDateTime::fromString(f[2].section(u' ', 0, 1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        files.push_back({f[1], f[6].toLongLong(), {}, QDateTime(modified.date(), modified.time(), Qt::UTC).toSecsSinceEpoch()});
    }
    return files;
}

// The NTFS volume of the disk that qemu-img converted to every other kind.
Source formatsSource() {
    return {{QStringLiteral("readme.txt"), 300, {}, -1},
            {QStringLiteral("Documents/notes.txt"), 3000, {}, -1},
            {QStringLiteral("Documents/data.bin"), 20000, {}, -1},
            {QStringLiteral("big.bin"), 1572864, {}, -1}};
}

}  // namespace

Q_DECLARE_METATYPE(Source)

class BrowserEnginesTest : public QObject {
    Q_OBJECT

private slots:
    void standardRoad_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<int>("volumes");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("folder");  // a folder of the volume's root, '/'-joined below it
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<Source>("source");
        QTest::addColumn<QString>("closing");  // the parse's closing message; none: the status says it
        const QString done = QStringLiteral("Scanning process completed.");
        QTest::newRow("FAT32") << "fat_disk.vhdx" << 4 << 2 << "Projects" << "summary|NOTES|café" << fatSource("fat32")
                               << done;
        QTest::newRow("exFAT") << "fat_disk.vhdx" << 4 << 3 << "Projects" << "summary|NOTES|frag" << fatSource("exfat")
                               << done + QStringLiteral("..");
        QTest::newRow("ext3") << "ext_disk.vhdx" << 3 << 1 << "docs" << "note|ODD" << extSource(2) << done;
        QTest::newRow("HFS+") << "hfs_mbr.vhdx" << 1 << 0 << "a_directory" << "file|passwords" << hfsSource()
                              << QString();
        for (const char* kind : {"formats_dyn.vhd", "formats_fixed.vhd", "formats_dyn.vdi", "formats_static.vdi",
                                 "formats_sparse.vmdk", "formats_stream.vmdk"})
            QTest::newRow(kind) << kind << 2 << 0 << "Documents" << "notes|readme" << formatsSource() << done;
    }

    void standardRoad() {
        QFETCH(QString, image);
        QFETCH(int, volumes);
        QFETCH(int, row);
        QFETCH(QString, folder);
        QFETCH(QString, pattern);
        QFETCH(Source, source);
        QFETCH(QString, closing);
        if (!QFile::exists(kFixtures + u'/' + image) || source.isEmpty()) QSKIP("fixtures not built (ctest builds them)");

        Road road(kFixtures + u'/' + image);
        BrowserPage* page = road.toBrowser("standardMode", volumes, row);
        QVERIFY2(page, qPrintable(road.messages.shown.join(QStringLiteral("; "))));
        QVERIFY(waitForWork(page));
        if (closing.isEmpty()) {
            QVERIFY2(road.messages.shown.isEmpty(), qPrintable(road.messages.shown.join(QStringLiteral("; "))));
            QCOMPARE(child<QLabel>(page, "statusText")->text(), QStringLiteral("Work Done."));
        } else {
            QVERIFY2(road.messages.shown.contains(closing), qPrintable(road.messages.shown.join(QStringLiteral("; "))));
        }

        // The folder opens on expanding; its label lists its files.
        auto* tree = child<QTreeWidget>(page, "volumeTree");
        auto* list = child<halvard::gui::CheckedList>(page, "fileList");
        QTreeWidgetItem* item = tree->topLevelItem(0);
        QVERIFY(item);
        for (const QString& name : folder.split(u'/')) {
            item = childNamed(item, name);
            QVERIFY2(item, qPrintable(name));
            item->setExpanded(true);
        }
        clickLabel(tree, item);
        const QStringList rows = firstColumn(list);
        const QString prefix = folder + u'/';
        for (const SourceFile& file : source)
            if (file.path.startsWith(prefix) && !file.path.mid(prefix.size()).contains(u'/'))
                QVERIFY2(rows.contains(file.path.section(u'/', -1)), qPrintable(file.path));

        // Search: the source's files whose names match, with their paths from the top item.
        const QRegularExpression regex(pattern, QRegularExpression::CaseInsensitiveOption);
        QStringList expected;
        for (const SourceFile& file : source)
            if (regex.match(file.path.section(u'/', -1)).hasMatch()) expected << QStringLiteral("ROOT/") + file.path;
        QVERIFY(!expected.isEmpty());
        child<QLineEdit>(page, "searchEdit")->setText(pattern);
        child(page, "searchButton")->click();
        QVERIFY(waitForWork(page));
        QCOMPARE(road.messages.shown.last(), QStringLiteral("Searching Finished"));
        QStringList found;
        for (const QString& path : firstColumn(list)) found << QString(path).replace(u'\\', u'/');
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);

        // Saving the folder writes the source's files below it, content and times as the source has them.
        QTemporaryDir out;
        QVERIFY(saveInto(out.path(), page, item, road.messages));
        // The engines of NTFS and FAT32 end the sentence with a full stop, the others do not.
        QVERIFY(road.messages.shown.last().startsWith(QStringLiteral("Saving process done")));
        int compared = 0;
        for (const SourceFile& file : source) {
            if (!file.path.startsWith(prefix)) continue;
            const QString saved = out.filePath(file.path.mid(prefix.size()));
            QVERIFY2(QFileInfo::exists(saved), qPrintable(file.path));
            const QByteArray bytes = readAll(saved);
            QCOMPARE(bytes.size(), file.size);
            if (!file.sha256.isEmpty())
                QCOMPARE(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(), file.sha256);
            if (file.mtime >= 0) QCOMPARE(QFileInfo(saved).lastModified().toSecsSinceEpoch(), file.mtime);
            ++compared;
        }
        QVERIFY(compared >= 2);
    }
};

QTEST_MAIN(BrowserEnginesTest)
#include "browser_engines_test.moc"
