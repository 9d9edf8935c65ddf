// The raw recovery page and the signature editor: a record written by the editor reads back; Parse loads the
// default file (here also named in the path box, so loaded twice) and carves the volume on its worker; a ticked
// category is saved into a folder; without definitions Parse refuses.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "app/raw_recovery_page.h"
#include "app/raw_result_tree.h"
#include "app/signature_editor_dialog.h"
#include "image/image_kind.h"
#include "on_worker.h"
#include "page_lookup.h"
#include "raw/signature_file.h"
#include "recording_sink.h"

using halvard::ApplicationState;
using halvard::VolumeRecord;
using halvard::gui::RawRecoveryPage;
using halvard::gui::SignatureEditorDialog;
using halvard::gui::testing::RecordingMessageSink;
using halvard::gui::testing::child;
using halvard::gui::testing::onWorker;

namespace {

constexpr std::size_t kMiB = 1048576;

std::vector<char> pngLike() {
    std::vector<char> bytes(3000, 'x');
    const char start[] = "\x89PNG";
    const char end[] = "IEND";
    std::copy(start, start + 4, bytes.begin());
    std::copy(end, end + 4, bytes.end() - 4);
    return bytes;
}

}  // namespace

class RawRecoveryPageTest : public QObject {
    Q_OBJECT
private slots:
    void editorWritesAndPageCarvesAndSaves();
    void parseWithoutDefinitionsRefuses();
    void pauseStopAndResumeSayWhatTheyDo();
    void resultTreeFilledFromAWorker();

private:
    QTemporaryDir dir_;
};

void RawRecoveryPageTest::editorWritesAndPageCarvesAndSaves() {
    const QString signatures = dir_.filePath(QStringLiteral("signatures.txt"));
    RecordingMessageSink editorMessages;
    SignatureEditorDialog editor;
    editor.setMessageSink(&editorMessages);
    editor.setFileChooser([&](QWidget*) { return signatures; });
    child<QLineEdit>(&editor, "extension")->setText(QStringLiteral("png"));
    child<QLineEdit>(&editor, "startSignature")->setText(QStringLiteral("0x89,0x50,0x4E,0x47"));
    child<QLineEdit>(&editor, "endSignature")->setText(QStringLiteral("49,45,4E,44"));
    child<QLineEdit>(&editor, "approxSize")->setText(QStringLiteral("20000"));
    child<QLineEdit>(&editor, "category")->setText(QStringLiteral("Pictures"));
    child<QPushButton>(&editor, "browse")->click();
    child<QPushButton>(&editor, "save")->click();
    QCOMPARE(editorMessages.shown, QStringList{QStringLiteral("everything initialized well.....")});
    const auto readBack = halvard::readSignatureFile(signatures.toStdString(), halvard::SignatureFileKind::User, 0, {});
    QVERIFY(readBack && readBack->size() == 1);
    QCOMPARE(readBack->front().endSignature.size(), std::size_t{4});

    // A 2 MiB volume with one file at its second MiB.
    const QString image = dir_.filePath(QStringLiteral("disk.img"));
    std::vector<char> disk(2 * kMiB, 0);
    const std::vector<char> file = pngLike();
    std::copy(file.begin(), file.end(), disk.begin() + kMiB);
    std::ofstream(image.toStdString(), std::ios::binary).write(disk.data(), static_cast<std::streamsize>(disk.size()));

    ApplicationState state;
    state.activeReader = halvard::openImage(image.toStdString()).reader;
    QVERIFY(state.activeReader);
    VolumeRecord volume{"RAW", "", "0", "2", 0};
    RecordingMessageSink messages;
    RawRecoveryPage page(state, volume, image, false);
    page.setMessageSink(&messages);
    page.setDefaultSignaturePath(signatures);  // the path box keeps it too: the file is loaded twice
    page.show();
    page.parse();
    QTRY_VERIFY(!page.working());
    QCOMPARE(messages.shown, QStringList{QStringLiteral("done..")});
    QCOMPARE(page.engine()->definitions().size(), std::size_t{2});

    auto& tree = page.resultTree();
    const auto top = tree.firstChild(halvard::kNoTreeItem);
    QCOMPARE(tree.itemText(top), std::string("RAW RECOVERY "));
    const auto category = tree.firstChild(top);
    QCOMPARE(tree.itemText(category), std::string("Pictures (1)"));
    QCOMPARE(tree.itemText(tree.firstChild(category)), std::string("1048576 .png"));

    const QString out = dir_.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    page.setFolderChooser([&](QWidget*) { return out; });
    tree.setChecked(category, true);
    page.save();
    QTRY_VERIFY(!page.working());
    QFile saved(out + QStringLiteral("/1048576 .png"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray(file.data(), static_cast<int>(file.size())));
}

void RawRecoveryPageTest::parseWithoutDefinitionsRefuses() {
    ApplicationState state;
    RecordingMessageSink messages;
    RawRecoveryPage page(state, VolumeRecord{"RAW", "", "0", "2", 0}, QString(), false);
    page.setMessageSink(&messages);
    child<QCheckBox>(&page, "loadDefault")->setChecked(false);
    child<QLineEdit>(&page, "signaturePath")->clear();
    page.parse();
    QCOMPARE(messages.shown, QStringList{QStringLiteral("Enter the info file first..")});
    QVERIFY(!child<QPushButton>(&page, "parse")->isEnabled());
    QVERIFY(child<QPushButton>(&page, "back")->isEnabled());
}

// Stop asks nothing: it says the process is stopping; Pause and Resume say they were pressed.
void RawRecoveryPageTest::pauseStopAndResumeSayWhatTheyDo() {
    const QString image = dir_.filePath(QStringLiteral("stop.img"));
    std::vector<char> disk(2 * kMiB, 0);
    std::ofstream(image.toStdString(), std::ios::binary).write(disk.data(), static_cast<std::streamsize>(disk.size()));
    ApplicationState state;
    state.activeReader = halvard::openImage(image.toStdString()).reader;
    QVERIFY(state.activeReader);
    RecordingMessageSink messages;
    RawRecoveryPage page(state, VolumeRecord{"RAW", "", "0", "2", 0}, image, false);
    page.setMessageSink(&messages);
    page.setDefaultSignaturePath(dir_.filePath(QStringLiteral("signatures.txt")));  // written by the test above
    page.show();
    page.parse();
    QVERIFY(page.working());  // the worker waits for its first report until events are served
    auto* status = child<QLabel>(&page, "status");
    page.pause();
    QCOMPARE(status->text(), QStringLiteral("Pause button pressed"));
    page.stop();
    QCOMPARE(status->text(), QStringLiteral("Stop button pressed.Please wait for the process to stop"));
    page.resume();
    QCOMPARE(status->text(), QStringLiteral("Resume button pressed"));
    QTRY_VERIFY(!page.working());
    for (const QString& shown : messages.shown) QVERIFY2(!shown.startsWith(u'?'), qPrintable(shown));
    QVERIFY(child<QLabel>(&page, "fileListTitle")->text() == QStringLiteral("File(s) List"));
}

// The carving worker fills the tree: a result found after its category was ticked joins it ticked, so the tick
// still saves everything in it; once the widget is gone the calls do nothing and find nothing.
void RawRecoveryPageTest::resultTreeFilledFromAWorker() {
    using halvard::CheckState;
    using halvard::TreeIcon;
    auto* widget = new QTreeWidget;
    halvard::gui::RawResultTree tree(widget);
    halvard::TreeItemId top = halvard::kNoTreeItem, category = top, first = top, second = top;
    onWorker([&] {
        top = tree.insertItem(halvard::kNoTreeItem, "RAW RECOVERY ", TreeIcon::Folder);
        category = tree.insertItem(top, "Pictures", TreeIcon::Folder);
        first = tree.insertItem(category, "1048576 .png", TreeIcon::File, halvard::TreeColour::Normal, 0);
    });
    QVERIFY(first != halvard::kNoTreeItem);
    tree.setChecked(category, true);
    QCOMPARE(tree.checkState(first), CheckState::Checked);
    onWorker([&] { second = tree.insertItem(category, "2097152 .png", TreeIcon::File, halvard::TreeColour::Normal, 1); });
    QCOMPARE(tree.checkState(second), CheckState::Checked);
    QCOMPARE(tree.checkState(category), CheckState::Checked);
    QCOMPARE(tree.itemData(second), std::optional<std::uint64_t>(1));
    QCOMPARE(tree.nextSibling(first), second);
    QCOMPARE(tree.itemIcon(second), TreeIcon::File);

    delete widget;
    halvard::TreeItemId late = top;
    onWorker([&] { late = tree.insertItem(category, "3145728 .png", TreeIcon::File); });
    QCOMPARE(late, halvard::kNoTreeItem);
    QCOMPARE(tree.itemText(first), std::string());
    QCOMPARE(tree.firstChild(halvard::kNoTreeItem), halvard::kNoTreeItem);
}

QTEST_MAIN(RawRecoveryPageTest)
#include "raw_recovery_page_test.moc"

