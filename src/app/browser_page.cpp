#include "app/browser_page.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "app/checked_list.h"
#include "app/qt_tree_control.h"
#include "app/ui_thread.h"
#include "app/widgets.h"
#include "browser/entry_walk.h"
#include "browser/recycle_bin.h"
#include "browser/search.h"
#include "common/host_files.h"

namespace halvard::gui {

namespace {

const char* const kRestart = "Please Restart the program to re begin necessary initialization...";
const char* const kNotValidDrive = "Not a valid drive.";
const char* const kNotValidStatus = "Not a valid Drive .Go back";
const char* const kSelectOutput = "Select output folder";
const char* const kSearchFinished = "Searching Finished";

enum RowRole { TreeItemRole = Qt::UserRole, EntryRole };

QString pickFolder(QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Please choose a folder."), QString(),
                                             QFileDialog::ShowDirsOnly);
}

std::uint32_t barValue(std::uint64_t value) { return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu)); }

}  // namespace

BrowserPage::BrowserPage(ApplicationState& state, const VolumeRecord& volume, ParseMode mode, QWidget* parent)
    : WizardPage(state, tr("Browse the volume, search and save"), parent),
      volume_(volume),
      recoveryMode_(mode),
      chooseFolder_(&pickFolder) {
    setObjectName(QStringLiteral("BrowserPage"));
    setWindowTitle(QStringLiteral("VOLUME-SCAN"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Volume Data:"), this));
    volumeData_ = new QLineEdit(this);
    volumeData_->setObjectName(QStringLiteral("volumeData"));
    volumeData_->setReadOnly(true);
    volumeData_->setMaximumWidth(120);
    top->addWidget(volumeData_);
    top->addStretch(1);
    searchEdit_ = new QLineEdit(this);
    searchEdit_->setObjectName(QStringLiteral("searchEdit"));
    searchEdit_->setMinimumWidth(200);
    top->addWidget(searchEdit_);
    searchButton_ = makeButton(QStringLiteral("Search"), this, "searchButton");
    connect(searchButton_, &QPushButton::clicked, this, &BrowserPage::search);
    top->addWidget(searchButton_);
    contentLayout()->addLayout(top);
    auto* hint = new QLabel(QStringLiteral("* Use \"|\" to find multiple file type "), this);
    hint->setTextFormat(Qt::PlainText);
    hint->setAlignment(Qt::AlignRight);
    contentLayout()->addWidget(hint);

    auto* splitter = new QSplitter(this);
    tree_ = new BrowserTree(splitter);
    tree_->setObjectName(QStringLiteral("volumeTree"));
    tree_->setHeaderHidden(true);
    tree_->setUniformRowHeights(true);
    treeControl_ = std::make_unique<QtTreeControl>(*tree_);
    connect(tree_, &BrowserTree::labelClicked, this, &BrowserPage::labelClicked);
    connect(tree_, &QTreeWidget::itemExpanded, this, &BrowserPage::itemExpanded);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { itemDoubleClicked(item); });
    list_ = new CheckedList({QStringLiteral("FILES LIST "), QStringLiteral("CREATION TIME "),
                             QStringLiteral("ACCESS TIME "), QStringLiteral("MODIFICATION TIME "),
                             QStringLiteral("SIZE"), QStringLiteral("ATTRIB")},
                            splitter);
    list_->setObjectName(QStringLiteral("fileList"));
    // Wide enough for what the columns hold (times, sizes, every attribute letter) in the font in use.
    const QFontMetrics metrics = list_->fontMetrics();
    const char* const samples[] = {"MMMMMMMMMMMMMMMMM", "12/31/2024  12:59 PM", "12/31/2024  12:59 PM",
                                   "12/31/2024  12:59 PM", "1023.99 KB", "-R-H-S-A-C-E"};
    for (int column = 0; column < 6; ++column) {
        const int header = metrics.horizontalAdvance(list_->horizontalHeaderItem(column)->text());
        const int content = metrics.horizontalAdvance(QString::fromLatin1(samples[column]));
        list_->setColumnWidth(column, std::max(header, content) + 28);
    }
    connect(list_, &CheckedList::rowCheckToggled, this, &BrowserPage::rowCheckToggled);
    splitter->addWidget(tree_);
    splitter->addWidget(list_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 5);
    contentLayout()->addWidget(splitter, 1);

    workerRow_ = WorkerRow::forPage(this, QStringLiteral("pause"));
    for (QWidget* widget : workerRow_.widgets()) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }
    contentLayout()->addLayout(workerRow_.layOut());
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusText"));
    fileSize_ = new QLabel(this);
    fileSize_->setObjectName(QStringLiteral("fileSizeText"));
    for (QLabel* label : {status_, fileSize_}) label->setTextFormat(Qt::PlainText);
    contentLayout()->addWidget(status_);
    contentLayout()->addWidget(fileSize_);

    backButton_ = addNavigationButton(QStringLiteral("Back"), "backButton", &BrowserPage::back);
    saveButton_ = addNavigationButton(QStringLiteral("Save"), "saveButton", &BrowserPage::save);
    addHiddenExitButton();

    foundList_ = new QComboBox(this);
    foundList_->setObjectName(QStringLiteral("foundList"));
    clusterSizeList_ = new QComboBox(this);
    clusterSizeList_->setObjectName(QStringLiteral("clusterSizeList"));
    heapList_ = new QComboBox(this);
    heapList_->setObjectName(QStringLiteral("heapList"));
    for (QComboBox* list : {foundList_, clusterSizeList_, heapList_}) list->hide();

    fileSizeSink_ = std::make_unique<QtStatusSink>(fileSize_);
    worker_ = std::make_unique<PageWorker>(*this, workerRow_.progress, status_);
    workerRow_.pauseAndResume(*worker_);
    setMainControl(tree_);
    resize(1000, 660);
    setMinimumSize(760, 520);
}

BrowserPage::~BrowserPage() {
    destroyLaterPages();
    worker_->shutDown([this] { stopRequested_.store(1); });
}

void BrowserPage::setFolderChooser(FolderChooser chooser) { chooseFolder_ = chooser ? std::move(chooser) : &pickFolder; }

StopPoll BrowserPage::stopPoll() { return StopPoll(&stopRequested_, &worker_->gate()); }

void BrowserPage::borrowAdvanced(VolumeView* view, const QComboBox* found, const QComboBox* clusterSizes,
                                   const QComboBox* heaps) {
    view_ = view;
    const std::pair<const QComboBox*, QComboBox*> copies[] = {
        {found, foundList_}, {clusterSizes, clusterSizeList_}, {heaps, heapList_}};
    for (const auto& [from, to] : copies) {
        to->clear();
        if (!from) continue;
        for (int i = 0; i < from->count(); ++i) to->addItem(from->itemText(i));
        to->setCurrentIndex(from->currentIndex());
    }
}

void BrowserPage::start() {
    parseRunning_ = true;
    backButton_->setEnabled(false);
    volumeData_->setText(QString::fromStdString(volume_.label.empty() ? volume_.volumeName : volume_.label));
    DiskReader* reader = state().activeReader.get();
    if (recoveryMode_ != ParseMode::Advanced) {
        ownView_ = reader ? createVolumeView(onDevice(volume_, state().activeReader)) : nullptr;
        view_ = ownView_.get();
    }
    if (!view_) {
        // Nothing can be parsed; let the user go back and choose again.
        parseRunning_ = false;
        backButton_->setEnabled(true);
        workerRow_.setVisible(false);
        if (!reader) {
            status_->setText(QString::fromLatin1(kRestart));
            messages().information(kRestart);
        } else {
            status_->setText(QString::fromLatin1(kNotValidStatus));
            messages().information(kNotValidDrive);
        }
        return;
    }
    texts_ = view_->parseTexts();
    if (recoveryMode_ == ParseMode::Advanced) {
        texts_.done = texts_.advancedDone;
        AdvancedSelection selection;
        if (foundList_->currentIndex() >= 0) selection.found = static_cast<std::size_t>(foundList_->currentIndex());
        selection.clusterSize = clusterSizeList_->currentText().toStdString();
        if (heapList_->currentIndex() >= 0) selection.heap = static_cast<std::size_t>(heapList_->currentIndex());
        const Status picked = view_->selectAdvanced(selection);
        if (!picked) {
            const std::string& refusal = picked.message();
            // Without a found position or a usable cluster size the advanced parse cannot start.
            parseRunning_ = false;
            backButton_->setEnabled(true);
            workerRow_.setVisible(false);
            status_->setText(QString::fromStdString(refusal));
            messages().information(refusal);
            return;
        }
    }
    if (!texts_.selected.empty()) status_->setText(QString::fromStdString(texts_.selected));

    parsedTree_ = std::make_unique<MemoryTree>();
    ParseContext context;
    context.tree = parsedTree_.get();
    context.reporting = worker_->reporting();
    context.stop = stopPoll();
    context.rootName = state().rootName;
    context.formattedDrive = state().formattedDriveFlag != 0;
    VolumeView* view = view_;
    const ParseMode mode = recoveryMode_;
    const std::string scratch = QDir::tempPath().toStdString();
    startWork(
        [this, view, context, mode, scratch] {
            parseOk_ = view->parse(context, mode);
            if (parseOk_ && !context.stop.stopNow()) renameRecycledFiles(*view, scratch);
        },
        [this] { parseEnded(); });
}

void BrowserPage::parseEnded() {
    copyTree(*parsedTree_, *treeControl_);
    parsedTree_.reset();
    if (parseOk_) markDeletedChildren(*treeControl_, *view_, treeControl_->firstChild(kNoTreeItem));
    if (QTreeWidgetItem* root = tree_->topLevelItem(0)) root->setExpanded(true);
    backButton_->setEnabled(true);
    const std::string& box = parseOk_ ? texts_.done : texts_.failed;
    if (!box.empty()) messages().information(box);
    const std::string& status = parseOk_ ? texts_.doneStatus : texts_.failedStatus;
    if (!status.empty()) status_->setText(QString::fromStdString(status));
    parseRunning_ = false;
}

bool BrowserPage::startWork(std::function<void()> body, std::function<void()> endSteps) {
    if (worker_->busy()) {
        messages().information(kWaitForProcess);
        return false;
    }
    stopRequested_.store(0);
    workerRow_.setVisible(true);
    return worker_->start(std::move(body), [this, endSteps = std::move(endSteps)] {
        workerRow_.setVisible(false);
        if (endSteps) endSteps();
    });
}

void BrowserPage::stop() {
    if (!view_) return;
    stopRequested_.store(1);
    status_->setText(QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
}

void BrowserPage::back() {
    if (parseRunning_) return;
    handOverTo(parentWidget());
    deleteLater();
}

void BrowserPage::closeApplication() {
    if (view_) {
        stopRequested_.store(1);
        status_->setText(QStringLiteral("All thread Stopped"));
    }
    // A paused worker must be able to reach its stop; the page's destruction waits for it.
    worker_->gate().releaseAll();
    endApplication();
}

void BrowserPage::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Enter in the search box searches; it must not end the application.
    if (enter && focusWidget() == searchEdit_) {
        search();
        return;
    }
    WizardPage::keyPressEvent(event);
}

// ---- tree and list ------------------------------------------------------------------------------------------

void BrowserPage::showRows(const std::vector<ListRow>& rows) {
    list_->clearRows();
    for (const ListRow& row : rows) addRow(row);
    fitNameColumn();
}

void BrowserPage::fitNameColumn() {
    // Names and search paths are shown whole, within reason; the list scrolls sideways for the rest.
    const int least = list_->fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMMMMMMMMMMM")) + 28;
    list_->resizeColumnToContents(0);
    const int wanted = std::max(least, list_->columnWidth(0) + 12);
    list_->setColumnWidth(0, std::min(wanted, std::max(least, list_->viewport()->width() * 3 / 4)));
}

void BrowserPage::addRow(const ListRow& row) {
    QStringList texts;
    for (const std::string& text : row.columns) texts << QString::fromStdString(text);
    const int at = list_->addRow(texts, row.deleted);
    QTableWidgetItem* first = list_->item(at, 0);
    first->setData(TreeItemRole, QVariant::fromValue<qulonglong>(row.item));
    first->setData(EntryRole, QVariant::fromValue<qulonglong>(row.entry));
}

void BrowserPage::labelClicked(QTreeWidgetItem* item) {
    if (!view_ || parseRunning_) return;
    const TreeItemId id = treeControl_->idOf(item);
    if (!entryOfItem(*treeControl_, id)) return;
    fillChildren(*treeControl_, *view_, id);
    showingSearchResults_ = false;
    showRows(fileRows(*treeControl_, *view_, id));
}

void BrowserPage::itemExpanded(QTreeWidgetItem* item) {
    if (!view_ || parseRunning_) return;
    fillChildren(*treeControl_, *view_, treeControl_->idOf(item));
}

void BrowserPage::itemDoubleClicked(QTreeWidgetItem* item) {
    if (!view_ || parseRunning_) return;
    const TreeItemId id = treeControl_->idOf(item);
    const auto entry = entryOfItem(*treeControl_, id);
    if (!entry) return;
    if (!isFolderEntry(*view_, *entry)) {
        extractFile(*entry);
        return;
    }
    fillChildren(*treeControl_, *view_, id);
    showingSearchResults_ = false;
    showRows(fileRows(*treeControl_, *view_, id));
}

void BrowserPage::rowCheckToggled(int row, bool checked) {
    if (showingSearchResults_) return;
    const QTableWidgetItem* first = list_->item(row, 0);
    const TreeItemId item = first ? first->data(TreeItemRole).toULongLong() : kNoTreeItem;
    if (item != kNoTreeItem) treeControl_->setChecked(item, checked);
}

// ---- saving -------------------------------------------------------------------------------------------------

bool BrowserPage::chooseOutputFolder() {
    outputFolder_ = chooseFolder_(this);
    if (outputFolder_.isEmpty()) {
        messages().information(kSelectOutput);
        return false;
    }
    return true;
}

void BrowserPage::reportSaveFailures(const SaveSummary& summary) {
    // Files known to be lost are no failure of the save, but the page still names them.
    const std::size_t notSaved = summary.failures.size() + summary.unrecoverable.size();
    if (notSaved == 0 && !summary.diskFull) return;
    std::string text = std::to_string(notSaved) + " item(s) could not be saved";
    if (!summary.failures.empty())
        text += ", the first: " + summary.failures.front();
    else if (!summary.unrecoverable.empty())
        text += ", the first: " + summary.unrecoverable.front();
    if (summary.diskFull) text += std::string("\n") + kInsufficientSpaceText + "; the save stopped there.";
    messages().information(text);
}

void BrowserPage::save() {
    if (parseRunning_ || worker_->busy()) {
        messages().information(kWaitForProcess);
        return;
    }
    if (!view_) return;
    const auto folder = entryOfItem(*treeControl_, treeControl_->idOf(tree_->currentItem()));
    if (!folder) {
        messages().information(kSelectToSave);
        return;
    }
    if (!chooseOutputFolder()) return;
    // A file selected in the tree is saved as a double click saves it.
    if (!isFolderEntry(*view_, *folder)) {
        extractFile(*folder);
        return;
    }

    struct Outcome {
        bool confirmed = false;
        SaveSummary summary;
    };
    auto outcome = std::make_shared<Outcome>();
    VolumeView* view = view_;
    const std::string target = QFile::encodeName(outputFolder_).toStdString();
    SaveReporting reporting;
    reporting.reporting = worker_->reporting();
    reporting.fileSizeLine = fileSizeSink_.get();
    MessageSink* questions = worker_->messages();
    const StopPoll poll = stopPoll();
    startWork(
        [=] {
            const std::uint64_t count = countFiles(*view, *folder, poll);
            reporting.reporting.setRange(0, barValue(count));
            outcome->confirmed = questions->question("number of files found inside this folder = " +
                                                     std::to_string(count) +
                                                     " .do u want to continue dumping these files..?");
            if (!outcome->confirmed) return;
            outcome->summary = saveFolder(*view, *folder, target, reporting, poll);
            reporting.reporting.setPosition(barValue(count));
        },
        [this, outcome] {
            if (!outcome->confirmed) return;
            // A save cut short by a full disk is not "done".
            if (!outcome->summary.diskFull) messages().information(view_->saveDoneText());
            reportSaveFailures(outcome->summary);
        });
}

void BrowserPage::extractFile(EntryId file) {
    if (worker_->busy()) {
        messages().information(kWaitForProcess);
        return;
    }
    if (outputFolder_.isEmpty() && !chooseOutputFolder()) return;
    auto summary = std::make_shared<SaveSummary>();
    VolumeView* view = view_;
    const std::string target = QFile::encodeName(outputFolder_).toStdString();
    startWork([=] { *summary = saveOneFile(*view, file, target); },
              [this, summary, target] {
                  if (summary->files > 0 && view_->confirmsFileSave())
                      messages().information("file is dumped in path  :  " + target + "   ");
                  reportSaveFailures(*summary);
              });
}

// ---- search -------------------------------------------------------------------------------------------------

void BrowserPage::greyTree(bool grey) {
    tree_->setEnabled(!grey);
    searchButton_->setEnabled(!grey);
    saveButton_->setEnabled(!grey);
    if (!grey) {
        tree_->setPalette(QPalette());
        return;
    }
    QPalette palette = tree_->palette();
    QColor base = palette.color(QPalette::Base);
    auto lower = [](int value) { return value < 10 ? value : value - 10; };
    base.setRgb(lower(base.red()), lower(base.green()), lower(base.blue()));
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
    tree_->setPalette(palette);
}

void BrowserPage::search() {
    if (parseRunning_ || worker_->busy()) {
        messages().information(kWaitForProcess);
        return;
    }
    if (!view_) return;
    list_->clearRows();
    showingSearchResults_ = true;
    const std::string pattern = searchEdit_->text().toStdString();
    auto outcome = std::make_shared<SearchOutcome>();
    const VolumeView* view = view_;
    SearchHooks hooks;
    hooks.reporting = worker_->reporting();
    hooks.found = [this, view](const std::string& path, EntryId entry) {
        const ListRow row = listRow(*view, entry, path);
        runOnUiThread([this, &row] {
            if (!worker_->shuttingDown()) addRow(row);
        });
    };
    hooks.folderWalk = [this](bool walking) {
        runOnUiThread([this, walking] {
            if (!worker_->shuttingDown()) greyTree(walking);
        });
    };
    const SearchPathStyle style{state().rootName, '\\'};
    const StopPoll poll = stopPoll();
    startWork([=] { *outcome = searchVolume(*view, pattern, style, hooks, poll); },
              [this, outcome] {
                  greyTree(false);
                  if (outcome->patternRefused) {
                      messages().information(kPatternRefused);
                      return;
                  }
                  fitNameColumn();
                  messages().information(kSearchFinished);
                  status_->setText(QString::fromLatin1(kSearchFinished));
              });
}

}  // namespace halvard::gui
