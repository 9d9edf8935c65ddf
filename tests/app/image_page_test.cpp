// The image page: what it shows before and after an image is read, which images it refuses and with which
// message, the checks of Next in their order, and the page furniture (Enter, Escape, the Help menu).
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <vector>

#include "app/image_reader.h"
#include "app/image_page.h"
#include "page_lookup.h"
#include "recording_sink.h"
#include "support/vhdx_builder.h"

using halvard::ApplicationState;
using halvard::gui::ImagePage;
using halvard::gui::testing::RecordingMessageSink;
using halvard::gui::testing::child;
using halvard::testing::VhdxSpec;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kGiB = 1024 * kMiB;

const QString kNotVhdx = QStringLiteral("Please select valid vhdx file to continue the recovery process.");
const QString kRegionCorrupt = QStringLiteral("Region entry corrupt");
const QString kDifferencing = QStringLiteral("This is a differencing VHDX.");
const QString kNoPath = QStringLiteral("Please select valid path to continue the recovery process.");
const QString kNoDiskSize = QStringLiteral("Please enter Hard disk Size to process the recovery.");
const QString kNoBlockSize = QStringLiteral("Please enter Block Size to process the recovery.");
const QString kNoSectorSize =
    QStringLiteral("to process the recovery Logical sector Size to process the recovery.");
const QString kCloseQuestion = QStringLiteral("? Do you want to Close Application ?");

const char* const kInformationWidgets[] = {"versionLabel",   "versionValue",   "sizeLabel",      "sizeEdit",
                                           "sizeUnit",       "blockSizeLabel", "blockSizeEdit",  "blockSizeUnit",
                                           "sectorSizeLabel", "sectorSizeEdit", "sectorSizeUnit"};

// One page with a recording sink and a recording browser, as a test drives it.
struct Page {
    ApplicationState state;
    RecordingMessageSink messages;
    std::vector<QUrl> opened;
    ImagePage page{state};

    Page() {
        page.setMessageSink(&messages);
        page.setUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }

    template <typename T = QWidget>
    T* find(const char* name) { return child<T>(&page, name); }
    QLineEdit* edit(const char* name) { return find<QLineEdit>(name); }
    QPushButton* next() { return find<QPushButton>("nextButton"); }

    bool informationShown() {
        for (const char* name : kInformationWidgets)
            if (find(name)->isHidden()) return false;
        return true;
    }
    bool informationHidden() {
        for (const char* name : kInformationWidgets)
            if (!find(name)->isHidden()) return false;
        return true;
    }
};

}  // namespace

class ImagePageTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;

    QString imagePath(const QString& name) const { return QDir(dir_.path()).filePath(name); }

    QString writeImage(const QString& name, const VhdxSpec& spec) {
        const QString path = imagePath(name);
        halvard::testing::writeFile(QFile::encodeName(path).toStdString(), halvard::testing::buildVhdx(spec));
        return path;
    }

    static VhdxSpec tenGiBPlusASector() {
        VhdxSpec spec;
        spec.virtualSize = 10 * kGiB + 512;
        spec.blockSize = 32 * kMiB;
        spec.logicalSectorSize = 512;
        return spec;
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void freshPageShowsNoInformationAndNextIsDisabled() {
        Page p;
        QCOMPARE(p.page.windowTitle(), QStringLiteral("Halvard Disk Recovery"));
        QVERIFY(!p.next()->isEnabled());
        QVERIFY(p.edit("pathEdit")->isEnabled());  // a path can be typed or pasted
        QVERIFY(p.informationHidden());
        QVERIFY(!p.page.imageChosen());
        QCOMPARE(p.state.sourcePage, 0);
        QVERIFY(p.messages.shown.isEmpty());
    }

    void imageNameMustEndInVhdx_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("vhdx") << "disk.vhdx" << true;
        QTest::newRow("upper case") << "disk.VHDX" << true;
        QTest::newRow("differencing child") << "disk.avhdx" << true;
        QTest::newRow("vhd") << "disk.vhd" << false;
        QTest::newRow("vhdx inside the name") << "disk.vhdx.bak" << false;
        QTest::newRow("raw") << "disk.img" << false;
    }
    void imageNameMustEndInVhdx() {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        // A perfectly good image under each name: only the name decides.
        const QString path = writeImage(name, tenGiBPlusASector());
        Page p;
        p.page.chooseImage(path);

        QCOMPARE(p.edit("pathEdit")->text(), path);
        QCOMPARE(p.page.imageChosen(), true);
        QCOMPARE(p.state.sourcePage, halvard::kImagePageId);
        QCOMPARE(p.next()->isEnabled(), accepted);
        QCOMPARE(p.informationShown(), accepted);
        if (accepted)
            QVERIFY(p.messages.shown.isEmpty());
        else
            QCOMPARE(p.messages.shown, QStringList{kNotVhdx});
    }

    // A file without any image signature is a flat disk when it holds whole sectors, whatever its name; the image
    // page shows its size and the pages after it read it.
    void flatDisksOfAnyNameAreAccepted_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("saved disk image") << "disk.img" << qint64(4 * kMiB) << true;
        QTest::newRow("dd image") << "sda.dd" << qint64(3 * kMiB + 512) << true;
        QTest::newRow("no extension") << "disk" << qint64(2 * kMiB) << true;
        QTest::newRow("empty") << "empty.img" << qint64(0) << false;
        QTest::newRow("not whole sectors") << "odd.img" << qint64(1000) << false;
    }
    void flatDisksOfAnyNameAreAccepted() {
        QFETCH(QString, name);
        QFETCH(qint64, bytes);
        QFETCH(bool, accepted);
        const QString path = imagePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(bytes));
        file.close();
        Page p;
        p.page.chooseImage(path);
        QCOMPARE(p.next()->isEnabled(), accepted);
        if (!accepted) {
            QCOMPARE(p.messages.shown, QStringList{kNotVhdx});
            return;
        }
        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(p.informationShown());
        QCOMPARE(p.edit("sizeEdit")->text(), QString::number(bytes / qint64(kMiB)));
        QCOMPARE(p.state.totalSectors, quint64(bytes / 512));
        QVERIFY(p.state.imageKind == halvard::ImageKind::Raw);
        auto reader = halvard::gui::makeImageReader(p.state, nullptr);
        QVERIFY(reader && reader->open(QFile::encodeName(path).toStdString()));
        QCOMPARE(reader->totalSectors, quint64(bytes / 512));
    }

    // A typed or pasted path is read on Enter in the path box (which then does not end the program) and on Next.
    void typedPathIsRead() {
        const QString path = writeImage(QStringLiteral("typed.vhdx"), tenGiBPlusASector());
        Page p;
        p.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.page));
        QLineEdit* box = p.edit("pathEdit");
        QCOMPARE(p.page.focusWidget(), box);  // the page opens with the focus on its main control
        QTest::keyClicks(box, path);
        QVERIFY(p.next()->isEnabled());
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(p.page.isVisible());
        QVERIFY(p.informationShown());
        QCOMPARE(p.edit("sizeEdit")->text(), QStringLiteral("10240"));

        Page q;
        q.page.show();
        q.edit("pathEdit")->setText(path);
        q.next()->setEnabled(true);
        q.next()->click();  // no next page is wired: reading it is what counts
        QVERIFY(q.informationShown());
        QVERIFY(q.messages.shown.isEmpty());
    }

    void readsTheImageInformation_data() {
        QTest::addColumn<quint64>("virtualSize");
        QTest::addColumn<quint32>("blockSize");
        QTest::addColumn<quint32>("sectorSize");
        QTest::addColumn<quint16>("version");
        QTest::addColumn<QString>("sizeText");
        // Fractions of a MiB are dropped.
        QTest::newRow("10 GiB and a sector") << quint64(10 * kGiB + 512) << quint32(32 * kMiB) << quint32(512)
                                             << quint16(1) << "10240";
        QTest::newRow("127 GiB, 4K sectors") << quint64(127 * kGiB) << quint32(1 * kMiB) << quint32(4096)
                                             << quint16(1) << "130048";
        QTest::newRow("under a MiB, version 2") << quint64(kMiB - 512) << quint32(2 * kMiB) << quint32(512)
                                                << quint16(2) << "0";
    }
    void readsTheImageInformation() {
        QFETCH(quint64, virtualSize);
        QFETCH(quint32, blockSize);
        QFETCH(quint32, sectorSize);
        QFETCH(quint16, version);
        QFETCH(QString, sizeText);
        VhdxSpec spec;
        spec.virtualSize = virtualSize;
        spec.blockSize = blockSize;
        spec.logicalSectorSize = sectorSize;
        spec.version = version;
        const QString path = writeImage(QStringLiteral("info.vhdx"), spec);

        Page p;
        p.page.chooseImage(path);

        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(p.informationShown());
        QVERIFY(p.next()->isEnabled());
        QCOMPARE(p.find<QLabel>("versionValue")->text(), QString::number(version));
        QCOMPARE(p.edit("sizeEdit")->text(), sizeText);
        QCOMPARE(p.edit("blockSizeEdit")->text(), QString::number(blockSize));
        QCOMPARE(p.edit("sectorSizeEdit")->text(), QString::number(sectorSize));
        QCOMPARE(p.state.totalSectors, virtualSize / 512);

        // The handover to the next page.
        QCOMPARE(p.page.imagePath(), path);
        QCOMPARE(p.page.chosenPath(), path);
        QCOMPARE(p.page.diskSizeText(), sizeText);
        QCOMPARE(p.page.blockSizeText(), QString::number(blockSize));
        QCOMPARE(p.page.logicalSectorSizeText(), QString::number(sectorSize));
    }

    void regionTableWithOneEntryIsRefused() {
        VhdxSpec spec = tenGiBPlusASector();
        spec.regionEntryCount = 1;
        const QString path = writeImage(QStringLiteral("one-region.vhdx"), spec);
        Page p;
        p.page.chooseImage(path);

        QCOMPARE(p.messages.shown, QStringList{kRegionCorrupt});
        QVERIFY(!p.next()->isEnabled());
        QVERIFY(p.informationHidden());
        QCOMPARE(p.edit("sizeEdit")->text(), QString());
        QCOMPARE(p.state.totalSectors, quint64(0));
    }

    void differencingImageIsAnnouncedAndAccepted() {
        VhdxSpec spec = tenGiBPlusASector();
        spec.hasParent = true;
        const QString path = writeImage(QStringLiteral("child.avhdx"), spec);
        Page p;
        p.page.chooseImage(path);

        // The notice comes first; the parent this synthetic child names is nowhere, and the notice says so.
        QCOMPARE(p.messages.shown.size(), 1);
        QVERIFY(p.messages.shown[0].startsWith(kDifferencing + u'\n'));
        QVERIFY2(p.messages.shown[0].contains(QStringLiteral("parent image of this differencing disk was not found")),
                 qPrintable(p.messages.shown[0]));
        QVERIFY(p.next()->isEnabled());
        QVERIFY(p.informationShown());
        QCOMPARE(p.edit("sizeEdit")->text(), QStringLiteral("10240"));
    }

    void imageThatCannotBeOpenedLeavesTheFieldsAlone() {
        // A folder with an image's name exists but cannot be read as a file.
        const QString path = imagePath(QStringLiteral("folder.vhdx"));
        QVERIFY(QDir().mkpath(path));
        Page p;
        p.page.chooseImage(path);

        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(p.next()->isEnabled());
        QCOMPARE(p.edit("sizeEdit")->text(), QString());
        QCOMPARE(p.edit("blockSizeEdit")->text(), QString());

        // Next then finds the disk size missing.
        p.next()->click();
        QCOMPARE(p.messages.shown, QStringList{kNoDiskSize});
    }

    void cancelledChooserEnablesNextWhichRefusesTheEmptyPath() {
        Page p;
        p.page.chooseImage(QString());
        QVERIFY(p.next()->isEnabled());
        QVERIFY(p.page.imageChosen());
        QCOMPARE(p.state.sourcePage, 0);
        QVERIFY(p.informationHidden());
        QVERIFY(p.messages.shown.isEmpty());

        p.next()->click();
        QCOMPARE(p.messages.shown, QStringList{kNoPath});
    }

    void refusedImageAfterAGoodOneKeepsItsValuesButDisablesNext() {
        const QString good = writeImage(QStringLiteral("good.vhdx"), tenGiBPlusASector());
        VhdxSpec otherSpec = tenGiBPlusASector();
        otherSpec.virtualSize = 4 * kGiB;
        otherSpec.logicalSectorSize = 4096;
        const QString other = writeImage(QStringLiteral("other.vhdx"), otherSpec);
        const QString refused = writeImage(QStringLiteral("other.vhd"), otherSpec);

        Page p;
        p.page.chooseImage(good);
        p.page.chooseImage(other);
        QCOMPARE(p.edit("sizeEdit")->text(), QStringLiteral("4096"));
        QCOMPARE(p.edit("sectorSizeEdit")->text(), QStringLiteral("4096"));
        QCOMPARE(p.state.totalSectors, quint64(4 * kGiB / 512));

        p.page.chooseImage(refused);
        QCOMPARE(p.messages.shown, QStringList{kNotVhdx});
        QVERIFY(!p.next()->isEnabled());
        QCOMPARE(p.edit("pathEdit")->text(), refused);
        QCOMPARE(p.edit("sizeEdit")->text(), QStringLiteral("4096"));
    }

    void nextChecksInOrder_data() {
        QTest::addColumn<QStringList>("cleared");
        QTest::addColumn<QString>("message");
        QTest::newRow("size") << QStringList{"sizeEdit"} << kNoDiskSize;
        QTest::newRow("block size") << QStringList{"blockSizeEdit"} << kNoBlockSize;
        QTest::newRow("sector size") << QStringList{"sectorSizeEdit"} << kNoSectorSize;
        QTest::newRow("block and sector size") << QStringList{"blockSizeEdit", "sectorSizeEdit"} << kNoBlockSize;
        QTest::newRow("all three") << QStringList{"sectorSizeEdit", "blockSizeEdit", "sizeEdit"} << kNoDiskSize;
    }
    void nextChecksInOrder() {
        QFETCH(QStringList, cleared);
        QFETCH(QString, message);
        const QString path = writeImage(QStringLiteral("next.vhdx"), tenGiBPlusASector());
        Page p;
        int nextPagesMade = 0;
        p.page.setNextPageFactory([&](ImagePage&) -> QWidget* {
            ++nextPagesMade;
            return nullptr;
        });
        p.page.chooseImage(path);
        for (const QString& name : cleared) p.edit(name.toLatin1().constData())->clear();

        p.next()->click();
        QCOMPARE(p.messages.shown, QStringList{message});
        QCOMPARE(nextPagesMade, 0);
    }

    void nextWithAPathThatIsGoneRefusesFirst() {
        const QString path = writeImage(QStringLiteral("gone.vhdx"), tenGiBPlusASector());
        Page p;
        p.page.chooseImage(path);
        p.edit("sizeEdit")->clear();
        QVERIFY(QFile::remove(path));

        p.next()->click();
        QCOMPARE(p.messages.shown, QStringList{kNoPath});
    }

    void nextOpensTheFollowingPageWithTheEditedValues() {
        const QString path = writeImage(QStringLiteral("handover.vhdx"), tenGiBPlusASector());
        Page p;
        p.page.show();
        p.page.chooseImage(path);
        p.edit("blockSizeEdit")->setText(QStringLiteral("1048576"));

        QString seenPath, seenSize, seenBlock, seenSector;
        QWidget* following = nullptr;
        QSignalSpy finished(&p.page, &QDialog::finished);
        // A following page that cannot be made leaves this one where it is.
        p.page.setNextPageFactory([](ImagePage&) -> QWidget* { return nullptr; });
        p.next()->click();
        QVERIFY(p.page.isVisible());

        p.page.setNextPageFactory([&](ImagePage& page) -> QWidget* {
            seenPath = page.imagePath();
            seenSize = page.diskSizeText();
            seenBlock = page.blockSizeText();
            seenSector = page.logicalSectorSizeText();
            following = new QDialog(&page);
            return following;
        });
        p.next()->click();

        QVERIFY(p.messages.shown.isEmpty());
        QCOMPARE(seenPath, path);
        QCOMPARE(seenSize, QStringLiteral("10240"));
        QCOMPARE(seenBlock, QStringLiteral("1048576"));
        QCOMPARE(seenSector, QStringLiteral("512"));
        QVERIFY(following && following->isVisible());
        QVERIFY(!p.page.isVisible());
        // Hidden, not finished: the page stays the parent of what follows, and the application goes on.
        QCOMPARE(finished.count(), 0);
    }

    void valueFieldsTakeDigitsOnly() {
        Page p;
        p.page.show();
        for (const char* name : {"sizeEdit", "blockSizeEdit", "sectorSizeEdit"}) {
            QLineEdit* edit = p.edit(name);
            edit->setVisible(true);
            QTest::keyClicks(edit, QStringLiteral("12a-3 4.5"));
            QCOMPARE(edit->text(), QStringLiteral("12345"));
        }
    }

    void enterClosesThePageWithoutAsking() {
        const QString path = writeImage(QStringLiteral("enter.vhdx"), tenGiBPlusASector());
        Page p;
        p.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.page));
        p.page.chooseImage(path);
        QLineEdit* size = p.edit("sizeEdit");
        size->setFocus();
        QTest::keyClick(size, Qt::Key_Return);

        QVERIFY(p.messages.shown.isEmpty());
        QVERIFY(!p.page.isVisible());
        QCOMPARE(p.page.result(), int(QDialog::Accepted));
    }

    void enterOnAFocusedButtonPressesIt() {
        Page p;
        p.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.page));
        p.page.chooseImage(QString());  // Next enabled, path empty
        QPushButton* next = p.next();
        next->setFocus();
        QTest::keyClick(next, Qt::Key_Return);

        QCOMPARE(p.messages.shown, QStringList{kNoPath});
        QVERIFY(p.page.isVisible());
    }

    void closingAsksFirst() {
        Page p;
        p.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.page));

        // No: nothing happens, by Escape or by the close box.
        QTest::keyClick(&p.page, Qt::Key_Escape);
        p.page.close();
        QCOMPARE(p.messages.shown, (QStringList{kCloseQuestion, kCloseQuestion}));
        QVERIFY(p.page.isVisible());
        QVERIFY(p.opened.empty());

        // Yes: the home page opens and the page closes.
        p.messages.answers = {true};
        QTest::keyClick(&p.page, Qt::Key_Escape);
        QVERIFY(!p.page.isVisible());
        QCOMPARE(p.page.result(), int(QDialog::Rejected));
        QCOMPARE(p.opened.size(), std::size_t(1));
        QCOMPARE(p.opened[0].scheme(), QStringLiteral("https"));
    }

    void helpMenuOpensTheHelpAndHomePages() {
        Page p;
        p.find<QAction>("helpAction")->trigger();
        p.find<QAction>("homePageAction")->trigger();
        QCOMPARE(p.opened.size(), std::size_t(2));
        // The help page is the copy beside the program, so it works offline.
        QVERIFY(p.opened[0].isLocalFile());
        QCOMPARE(p.opened[0].fileName(), QStringLiteral("how-it-works.html"));
        QCOMPARE(QFileInfo(p.opened[0].toLocalFile()).absolutePath(), QCoreApplication::applicationDirPath());
        QCOMPARE(p.opened[1].scheme(), QStringLiteral("https"));
        QVERIFY(!p.opened[1].host().isEmpty());

        // The menu button carries the three items in order.
        QMenu* menu = p.find<QPushButton>("helpButton")->menu();
        QVERIFY(menu);
        QStringList items;
        for (QAction* action : menu->actions()) items << action->text();
        QCOMPARE(items, (QStringList{"Help", "Software Homepage", "About"}));
    }

    // With no web browser to open them, the help says where its file is and the home page gives its address.
    void helpWithoutABrowserSaysWhereItIs() {
        Page p;
        p.page.setUrlOpener([](const QUrl&) { return false; });
        p.find<QAction>("helpAction")->trigger();
        p.find<QAction>("homePageAction")->trigger();
        QCOMPARE(p.messages.shown.size(), 2);
        QVERIFY2(p.messages.shown[0].endsWith(QStringLiteral("how-it-works.html")), qPrintable(p.messages.shown[0]));
        QVERIFY(p.messages.shown[1].contains(halvard::gui::homePageUrl().toString()));
    }

    void aboutShowsAModalBox() {
        Page p;
        p.page.show();
        QString seenTitle;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal->objectName() != QStringLiteral("aboutBox")) return;
            seenTitle = modal->windowTitle();
            poll.stop();
            qobject_cast<QDialog*>(modal)->accept();
        });
        poll.start();
        p.find<QAction>("aboutAction")->trigger();  // returns once the box is closed
        QVERIFY(seenTitle.contains(QStringLiteral("Halvard Disk Recovery")));
        QVERIFY(p.opened.empty());
    }

    void helpPageShipsBesideTheProgram() {
        QFile help(QDir(QStringLiteral(HALVARD_GUI_DIR)).filePath(QStringLiteral("how-it-works.html")));
        QVERIFY2(help.open(QIODevice::ReadOnly), qPrintable(help.fileName()));
        const QByteArray text = help.readAll();
        QVERIFY(text.contains("<html"));
        QVERIFY(text.contains("Halvard Disk Recovery"));
        // It describes what the program reads today, not only VHDX.
        for (const char* kind : {"VHD,", "VDI", "VMDK", "flat raw", "differencing"}) QVERIFY2(text.contains(kind), kind);
    }

    void fileChooserOffersEveryImageKindThenVhdxAlone() {
        QTemporaryDir folder;
        for (const char* name : {"a.vhdx", "b.AVHDX", "c.vhd", "d.vhdx.txt", "e.img", "f.vdi", "g.vmdk", "h.qcow2"}) {
            QFile file(QDir(folder.path()).filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        std::unique_ptr<QFileDialog> chooser(ImagePage::makeImageFileDialog(nullptr));
        auto* types = chooser->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        QCOMPARE(types->count(), 3);
        QCOMPARE(types->itemText(1), QStringLiteral(".VHDX Files (*.vhdx)"));
        QCOMPARE(types->itemText(2), QStringLiteral("All Files"));

        chooser->setDirectory(folder.path());
        chooser->show();
        auto* model = chooser->findChild<QFileSystemModel*>();
        QVERIFY(model);
        auto listed = [&] {
            QStringList names;
            const QModelIndex root = model->index(folder.path());
            for (int row = 0; row < model->rowCount(root); ++row) names << model->index(row, 0, root).data().toString();
            names.sort();
            return names;
        };
        QTRY_COMPARE(listed(), (QStringList{"a.vhdx", "b.AVHDX", "c.vhd", "f.vdi", "g.vmdk", "h.qcow2"}));
        chooser->selectNameFilter(chooser->nameFilters().at(1));
        QTRY_COMPARE(listed(), (QStringList{"a.vhdx", "b.AVHDX"}));
    }
};

QTEST_MAIN(ImagePageTest)
#include "image_page_test.moc"
