// The whole road on images that live in more than one file: a qcow2 chain of three (both children wrote into a file
// of the FAT32 volume, so its content comes from every level) and a split VMDK whose FAT32 volume crosses the edge
// between its two extents. From the image page through the volume list to the browser, the saved root folder
// must equal what `halvard save` writes from the flat disk qemu-img made of the same image, and no file of the
// image is changed.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include "wizard_road.h"

using namespace halvard::gui::testing;
using halvard::gui::BrowserPage;

namespace {

const QString kChains = QStringLiteral(HALVARD_FIXTURE_DIR "/chains/");

// Every file below `folder`, by its path relative to it: size, content hash and modification time.
QMap<QString, QString> savedTree(const QString& folder) {
    QMap<QString, QString> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QFileInfo info(path);
        files.insert(QDir(folder).relativeFilePath(path),
                     QString::number(info.size()) + u' ' +
                         QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex() + u' ' +
                         QString::number(info.lastModified().toSecsSinceEpoch()));
    }
    return files;
}

// The content and modification time of each file of the image.
QStringList fingerprints(const QStringList& files) {
    QStringList prints;
    for (const QString& name : files) {
        QFile file(kChains + name);
        if (!file.open(QIODevice::ReadOnly)) return {};
        prints << name + u' ' + QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex() + u' ' +
                      QString::number(QFileInfo(file).lastModified().toMSecsSinceEpoch());
    }
    return prints;
}

}  // namespace

class ChainRoadTest : public QObject {
    Q_OBJECT

private slots:
    void savedFilesEqualTheFlatDisks_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QStringList>("files");  // every file of the image, the image first
        QTest::addColumn<QString>("flat");
        QTest::addColumn<int>("volumes");
        QTest::addColumn<int>("row");
        QTest::newRow("qcow2 chain") << "qcow2_top.qcow2"
                                     << QStringList{"qcow2_top.qcow2", "qcow2_mid.qcow2", "qcow2_base.qcow2"}
                                     << "qcow2_top.raw" << 2 << 1;
        QTest::newRow("split VMDK") << "vmdk_splitfs.vmdk"
                                    << QStringList{"vmdk_splitfs.vmdk", "vmdk_splitfs-s001.vmdk",
                                                   "vmdk_splitfs-s002.vmdk"}
                                    << "vmdk_splitfs.raw" << 1 << 0;
    }

    void savedFilesEqualTheFlatDisks() {
        QFETCH(QString, image);
        QFETCH(QStringList, files);
        QFETCH(QString, flat);
        QFETCH(int, volumes);
        QFETCH(int, row);
        if (!QFile::exists(kChains + image) || !QFile::exists(kChains + flat))
            QSKIP("fixtures not built (ctest builds them)");
        const QStringList before = fingerprints(files);
        QCOMPARE(before.size(), files.size());

        QTemporaryDir fromGui;
        {
            Road road(kChains + image);
            BrowserPage* page = road.toBrowser("standardMode", volumes, row);
            QVERIFY2(page, qPrintable(road.messages.shown.join(QStringLiteral("; "))));
            QVERIFY(waitForWork(page));
            auto* tree = child<QTreeWidget>(page, "volumeTree");
            QTreeWidgetItem* root = tree->topLevelItem(0);
            QVERIFY(root);
            QVERIFY(saveInto(fromGui.path(), page, root, road.messages));
            QVERIFY2(road.messages.shown.last().startsWith(QStringLiteral("Saving process done")),
                     qPrintable(road.messages.shown.join(QStringLiteral("; "))));
        }

        QTemporaryDir fromCli;
        QProcess save;
        save.start(QStringLiteral(HALVARD_CLI), {QStringLiteral("save"), kChains + flat, QStringLiteral("--volume"),
                                                 QString::number(row), QStringLiteral("--path"), QStringLiteral("/"),
                                                 QStringLiteral("--out"), fromCli.path()});
        QVERIFY(save.waitForFinished(60000));
        QVERIFY2(save.exitStatus() == QProcess::NormalExit && save.exitCode() == 0, save.readAllStandardError());

        const QMap<QString, QString> cli = savedTree(fromCli.path());
        QVERIFY2(cli.size() >= 3, qPrintable(QStringList(cli.keys()).join(u' ')));
        QCOMPARE(savedTree(fromGui.path()), cli);
        QCOMPARE(fingerprints(files), before);
    }
};

QTEST_MAIN(ChainRoadTest)
#include "chain_road_test.moc"
