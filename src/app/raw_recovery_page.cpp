#include "app/raw_recovery_page.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/image_reader.h"
#include "app/raw_result_tree.h"
#include "app/signature_editor_dialog.h"
#include "app/widgets.h"
#include "common/texts.h"
#include "raw/carved_files.h"
#include "raw/signature_file.h"

namespace halvard::gui {

namespace {

constexpr const char* kWait = "Please wait for the running process.";
constexpr const char* kScanDone = "Scanning processing done.Select save button to save the data.";

QString chooseTextFile(QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), QStringLiteral("Text Files (*.txt)"));
}

QString chooseFolder(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Please choose a folder."));
}

void openSignatureEditor(QWidget* parent) {
    SignatureEditorDialog editor(parent);
    editor.exec();
}

QPushButton* button(const char* name, const char* text) {
    return named(new QPushButton(QString::fromLatin1(text)), name);
}

}  // namespace

RawRecoveryPage::RawRecoveryPage(ApplicationState& state, const VolumeRecord& volume, const QString& imagePath,
                                     bool imageChosen, QWidget* parent)
    : WizardPage(state, QStringLiteral("Raw recovery"), parent), volume_(volume), imagePath_(imagePath),
      imageChosen_(imageChosen), defaultPath_(QString::fromStdString(defaultSignaturePath())),
      chooseSignatureFile_(&chooseTextFile), chooseFolder_(&chooseFolder), openEditor_(&openSignatureEditor) {
    setWindowTitle(QString::fromLatin1(kProductName));

    auto* input = new QGroupBox(QStringLiteral(
        "Click Parse button to add default file settings or create your own file to process raw recovery."));
    // The path on a row of its own: beside the buttons it was squeezed to a few letters in a page of usual width.
    auto* inputRows = new QVBoxLayout(input);
    auto* pathRow = new QHBoxLayout;
    auto* inputRow = new QHBoxLayout;
    inputRows->addLayout(pathRow);
    inputRows->addLayout(inputRow);
    pathEdit_ = new QLineEdit(defaultPath_);
    pathEdit_->setObjectName(QStringLiteral("signaturePath"));
    browseButton_ = button("browse", "...");
    parseButton_ = button("parse", "Parse");
    loadDefault_ = new QCheckBox(QStringLiteral("Load Default Items "));
    loadDefault_->setObjectName(QStringLiteral("loadDefault"));
    loadDefault_->setChecked(true);
    settingButton_ = button("setting", "Setting");
    pathRow->addWidget(pathEdit_, 1);
    pathRow->addWidget(browseButton_);
    inputRow->addWidget(parseButton_);
    inputRow->addWidget(loadDefault_);
    inputRow->addWidget(settingButton_);
    inputRow->addWidget(new QLabel(QStringLiteral("[Add new signatures in \n new/existing file]")));
    inputRow->addStretch(1);
    contentLayout()->addWidget(input);

    auto* splitter = new QSplitter;
    treeWidget_ = new QTreeWidget;
    treeWidget_->setObjectName(QStringLiteral("tree"));
    treeWidget_->setHeaderHidden(true);
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("fileList"));
    // The list's one column, titled as a column is.
    auto* listPane = new QWidget;
    auto* listLayout = new QVBoxLayout(listPane);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    auto* listTitle = new QLabel(QStringLiteral("File(s) List"));
    listTitle->setObjectName(QStringLiteral("fileListTitle"));
    listTitle->setFrameShape(QFrame::StyledPanel);
    listTitle->setContentsMargins(4, 2, 4, 2);
    listLayout->addWidget(listTitle);
    listLayout->addWidget(list_, 1);
    listPane->setMinimumWidth(300);
    splitter->addWidget(treeWidget_);
    splitter->addWidget(listPane);
    contentLayout()->addWidget(splitter, 1);
    tree_ = std::make_unique<RawResultTree>(treeWidget_);

    workerRow_.progress = new QProgressBar;
    workerRow_.progress->setObjectName(QStringLiteral("progress"));
    workerRow_.pause = button("pause", "Pause");
    workerRow_.resume = button("resume", "Resume");
    workerRow_.stop = button("stop", "Stop");
    contentLayout()->addLayout(workerRow_.layOut());
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("status"));
    contentLayout()->addWidget(status_);

    backButton_ = button("back", "Back");
    saveButton_ = button("save", "Save");
    addNavigationButton(backButton_);
    addNavigationButton(saveButton_);

    connect(browseButton_, &QPushButton::clicked, this, &RawRecoveryPage::chooseSignatureFile);
    connect(parseButton_, &QPushButton::clicked, this, &RawRecoveryPage::parse);
    connect(settingButton_, &QPushButton::clicked, this, &RawRecoveryPage::openSettings);
    connect(workerRow_.stop, &QPushButton::clicked, this, &RawRecoveryPage::stop);
    connect(backButton_, &QPushButton::clicked, this, &RawRecoveryPage::back);
    connect(saveButton_, &QPushButton::clicked, this, &RawRecoveryPage::save);
    connect(treeWidget_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { categoryClicked(item); });

    worker_ = std::make_unique<PageWorker>(*this, workerRow_.progress, status_);
    workerRow_.pauseAndResume(*worker_);
    workerRow_.setVisible(false);
    status_->setText(QStringLiteral("Please select parse button to scan the default file."));
    setMainControl(treeWidget_);
    resize(720, 560);
}

RawRecoveryPage::~RawRecoveryPage() {
    destroyLaterPages();
    worker_->shutDown([this] { stopRequested_.store(1); });
}

void RawRecoveryPage::setDefaultSignaturePath(const QString& path) {
    if (pathEdit_->text() == defaultPath_) pathEdit_->setText(path);
    defaultPath_ = path;
}

bool RawRecoveryPage::loadInto(const QString& path, bool userFile) {
    if (!engine_) engine_ = std::make_unique<CarvingEngine>();
    const Reporting reporting{nullptr, nullptr, &messages()};
    auto definitions = readSignatureFile(QFile::encodeName(path).toStdString(),
                                         userFile ? SignatureFileKind::User : SignatureFileKind::Default,
                                         engine_->definitions().size(), reporting);
    if (!definitions) return false;
    engine_->addDefinitions(std::move(*definitions));
    return true;
}

void RawRecoveryPage::parseEnded(bool enableFileControls) {
    backButton_->setEnabled(true);
    saveButton_->setEnabled(true);
    if (enableFileControls) {
        browseButton_->setEnabled(true);
        pathEdit_->setEnabled(true);
    }
    workerRow_.setVisible(false);
    status_->setText(QString::fromLatin1(kScanDone));
}

void RawRecoveryPage::parse() {
    if (worker_->busy()) {
        messages().information(kWait);
        return;
    }
    workerRow_.setVisible(true);
    settingButton_->setEnabled(false);
    parseButton_->setEnabled(false);  // one scan per visit
    if (loadDefault_->isChecked()) {
        engine_.reset();  // the default file always starts a new engine
        loadInto(defaultPath_, false);
    }
    if (!pathEdit_->text().isEmpty() && !loadInto(pathEdit_->text(), true)) {
        parseEnded(false);
        return;
    }
    if (!engine_ || engine_->definitions().empty()) {
        messages().information("Enter the info file first..");
        parseEnded(false);
        return;
    }
    browseButton_->setEnabled(false);
    pathEdit_->setEnabled(false);
    const std::uint64_t volumeSize = volumeSizeBytes(volume_);
    if (volumeSize == 0) {
        messages().information("zero size volume..");
        parseEnded(true);
        return;
    }
    if (state().sourcePage == kImagePageId && imageChosen_) {
        DiskReader* reader = state().replaceActiveReader(makeImageReader(state(), worker_->messages()));
        if (!reader || !reader->open(QFile::encodeName(imagePath_).toStdString())) {
            state().replaceActiveReader(nullptr);
            messages().information("File not opened..");
            parseEnded(true);
            return;
        }
    }
    DiskReader* reader = state().activeReader.get();
    if (!reader) {
        messages().information("File not opened..");
        parseEnded(true);
        return;
    }
    const auto volumeStart = volumeStartOffset(volume_);
    if (!volumeStart) {  // a hand-made start sector past any disk
        messages().information("The volume starts past the end of any disk.");
        parseEnded(true);
        return;
    }
    carvedVolume_ = volumeDevice(state().activeReader, volume_);
    backButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    stopRequested_.store(0);
    CarvingEngine* engine = engine_.get();
    engine->setVolumeSize(volumeSize);
    engine->setDevice(carvedVolume_.get());
    engine->setTreeControl(tree_.get());
    engine->setReporting(worker_->reporting());
    engine->setStopPoll(StopPoll(&stopRequested_, &worker_->gate()));
    status_->setText(QStringLiteral("Processing....."));
    // The output folder is chosen only when saving; the engine merely keeps the text.
    worker_->start([engine] { engine->carveVolume(std::string()); },
                   [this] {
                       backButton_->setEnabled(true);
                       settingButton_->setEnabled(true);
                       saveButton_->setEnabled(true);
                       status_->setText(QStringLiteral("Scanning processing done.Select save button to save the data"));
                       workerRow_.setVisible(false);
                   });
}

void RawRecoveryPage::chooseSignatureFile() {
    if (worker_->busy()) {
        messages().information(kWait);
        return;
    }
    const QString path = chooseSignatureFile_ ? chooseSignatureFile_(this) : QString();
    if (!path.isEmpty() && QFileInfo::exists(path)) pathEdit_->setText(path);
}

void RawRecoveryPage::openSettings() {
    if (worker_->busy()) {
        messages().information(kWait);
        return;
    }
    if (openEditor_) openEditor_(this);
}

std::vector<CarveResult> RawRecoveryPage::tickedResults() const {
    std::vector<CarveResult> chosen;
    if (!engine_) return chosen;
    // Carved-file items carry their result's position; a ticked category or top item ticks all below it.
    std::vector<TreeItemId> pending{tree_->firstChild(kNoTreeItem)};
    while (!pending.empty()) {
        const TreeItemId item = pending.back();
        pending.pop_back();
        if (item == kNoTreeItem) continue;
        pending.push_back(tree_->nextSibling(item));
        pending.push_back(tree_->firstChild(item));
        const auto data = tree_->itemData(item);
        if (data && *data < engine_->results().size() && tree_->checkState(item) == CheckState::Checked)
            chosen.push_back(engine_->results()[*data]);
    }
    return chosen;
}

void RawRecoveryPage::save() {
    std::vector<CarveResult> chosen = tickedResults();
    if (chosen.empty()) {
        messages().information("Please select folder to continue the saving process.");
        return;
    }
    if (worker_->busy()) {
        messages().information(kWait);
        return;
    }
    const QString folder = chooseFolder_ ? chooseFolder_(this) : QString();
    const DevicePtr volume = carvedVolume_;
    if (folder.isEmpty() || !volume) return;
    backButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    workerRow_.setVisible(true);
    stopRequested_.store(0);
    const Reporting reporting = worker_->reporting();
    const StopPoll poll(&stopRequested_, &worker_->gate());
    auto outcome = std::make_shared<CarvedFilesOutcome>();
    const std::string path = QFile::encodeName(folder).toStdString();
    worker_->start([volume, chosen = std::move(chosen), path, reporting, poll,
                    outcome] { *outcome = writeCarvedFiles(*volume, chosen, path, reporting, poll); },
                   [this, outcome, folder] {
                       backButton_->setEnabled(true);
                       saveButton_->setEnabled(true);
                       workerRow_.setVisible(false);
                       status_->setText(QStringLiteral("%1 files saved in %2").arg(outcome->filesWritten).arg(folder));
                   });
}

void RawRecoveryPage::stop() {
    if (!worker_->busy()) return;
    stopRequested_.store(1);
    status_->setText(QStringLiteral("Stop button pressed.Please wait for the process to stop"));
}

void RawRecoveryPage::back() {
    if (worker_->busy()) return;
    handOverTo(parentWidget());
    deleteLater();
}

void RawRecoveryPage::closeApplication() {
    stopRequested_.store(1);
    worker_->gate().releaseAll();
    endApplication();
}

void RawRecoveryPage::categoryClicked(QTreeWidgetItem* item) {
    list_->clear();
    if (!item) return;
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (tree_->itemIcon(tree_->idOf(child)) != TreeIcon::File) continue;
        // Each file with its size and what its format check made of it.
        QString text = child->text(0);
        const auto index = tree_->itemData(tree_->idOf(child));
        if (engine_ && index && *index < engine_->results().size()) {
            const CarveResult& r = engine_->results()[*index];
            text += QStringLiteral("   %1, %2").arg(QString::fromStdString(sizeText(r.length)),
                                                   QString::fromLatin1(validationLabel(r.validation)));
        }
        auto* row = new QListWidgetItem(text, list_);
        row->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(tree_->idOf(child)));
    }
}

}  // namespace halvard::gui
