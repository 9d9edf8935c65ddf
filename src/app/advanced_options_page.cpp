#include "app/advanced_options_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/widgets.h"

namespace halvard::gui {

namespace {

const char* const kRestart = "Please Restart the program to re begin necessary initialization...";
const char* const kWait = "Please wait for the running process.";

// Items of a list; each found position carries its byte offset, also shown as the item's tool tip.
void fill(QComboBox* list, const std::vector<std::string>& items, const std::vector<std::uint64_t>& offsets = {}) {
    list->clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
        list->addItem(QString::fromStdString(items[i]));
        if (i < offsets.size()) {
            list->setItemData(static_cast<int>(i), QVariant::fromValue<qulonglong>(offsets[i]), kOffsetRole);
            list->setItemData(static_cast<int>(i), QStringLiteral("offset %1").arg(offsets[i]), Qt::ToolTipRole);
        }
    }
    if (list->count() > 0) list->setCurrentIndex(0);
}

}  // namespace

AdvancedOptionsPage::AdvancedOptionsPage(ApplicationState& state, const VolumeRecord& volume, int limit, QWidget* parent)
    : WizardPage(state, tr("Find the volume's structures"), parent), volume_(volume), limit_(limit) {
    setObjectName(QStringLiteral("AdvancedOptionsPage"));
    setWindowTitle(QStringLiteral("ADVANCE OPTIONS"));

    auto* group = named(new QGroupBox(QStringLiteral("Advanced Input:"), this), "advancedInputGroup");
    auto* grid = new QGridLayout(group);
    foundLabel_ = named(new QLabel(QStringLiteral("TFS :"), group), "foundLabel");
    foundList_ = named(new QComboBox(group), "foundList");
    clusterSizeLabel_ = named(new QLabel(QStringLiteral("Sector Per Cluster :"), group), "clusterSizeLabel");
    clusterSizeList_ = named(new QComboBox(group), "clusterSizeList");
    heapLabel_ = named(new QLabel(QStringLiteral("Heap Offset :"), group), "heapLabel");
    heapList_ = named(new QComboBox(group), "heapList");
    grid->addWidget(foundLabel_, 0, 0);
    grid->addWidget(foundList_, 0, 1);
    grid->addWidget(clusterSizeLabel_, 1, 0);
    grid->addWidget(clusterSizeList_, 1, 1);
    grid->addWidget(heapLabel_, 2, 0);
    grid->addWidget(heapList_, 2, 1);
    grid->setColumnStretch(1, 1);
    contentLayout()->addWidget(group);
    contentLayout()->addStretch(1);

    workerRow_ = WorkerRow::forPage(this, QStringLiteral("Pause"));
    contentLayout()->addLayout(workerRow_.layOut());
    status_ = named(new QLabel(this), "statusText");
    status_->setTextFormat(Qt::PlainText);
    contentLayout()->addWidget(status_);

    backButton_ = addNavigationButton(QStringLiteral("Back"), "backButton", &AdvancedOptionsPage::back);
    nextButton_ = addNavigationButton(QStringLiteral("Next"), "nextButton", &AdvancedOptionsPage::next);
    addHiddenExitButton();

    worker_ = std::make_unique<PageWorker>(*this, workerRow_.progress, status_);
    workerRow_.pauseAndResume(*worker_);
    setMainControl(foundList_);
    resize(620, 420);
}

AdvancedOptionsPage::~AdvancedOptionsPage() {
    // The browser page borrows the engine: it goes first, then the finders are stopped and waited for, and only
    // then is the engine deleted.
    destroyLaterPages();
    worker_->shutDown([this] { stopRequested_.store(1); });
}

void AdvancedOptionsPage::showLists(bool found, bool heap) {
    for (QWidget* w : {static_cast<QWidget*>(foundLabel_), static_cast<QWidget*>(foundList_),
                       static_cast<QWidget*>(clusterSizeLabel_), static_cast<QWidget*>(clusterSizeList_)})
        w->setVisible(found);
    heapLabel_->setVisible(heap);
    heapList_->setVisible(heap);
}

void AdvancedOptionsPage::start() {
    // Back stays usable while the finders run: going back stops them and waits for them before the engine goes.
    nextButton_->setEnabled(false);
    showLists(false, false);
    status_->setText(QStringLiteral("Processing....."));
    DiskReader* reader = state().activeReader.get();
    if (!reader) {
        status_->setText(QString::fromLatin1(kRestart));
        workerRow_.setVisible(false);
        return;
    }
    view_ = createVolumeView(onDevice(volume_, state().activeReader));
    const std::string selected = view_ ? view_->parseTexts().selected : std::string();
    if (!selected.empty()) status_->setText(QString::fromStdString(selected));
    ParseContext context;
    context.reporting = worker_->reporting();
    context.stop = StopPoll(&stopRequested_, &worker_->gate());
    context.formattedDrive = state().formattedDriveFlag != 0;
    auto findings = std::make_shared<std::optional<AdvancedFindings>>();
    VolumeView* view = view_.get();
    const auto limit = static_cast<std::uint64_t>(limit_ < 1 ? 3 : limit_);
    workerRow_.setVisible(true);
    worker_->start([view, context, limit, findings] { if (view) *findings = view->findStructures(context, limit); },
                   [this, findings] { findersEnded(findings); });
}

void AdvancedOptionsPage::findersEnded(const std::shared_ptr<std::optional<AdvancedFindings>>& findings) {
    workerRow_.setVisible(false);
    if (!*findings) {
        // No engine here has an advanced road: nothing was looked for.
        status_->setText(QString());
        return;
    }
    const AdvancedFindings& f = **findings;
    foundLabel_->setText(QString::fromStdString(f.foundLabel));
    fill(foundList_, f.found, f.foundOffsets);
    fill(clusterSizeList_, f.clusterSizes);
    fill(heapList_, f.heaps, f.heapOffsets);
    showLists(true, f.heapList);
    // The list was hidden while the finders ran, so the page opened with the focus elsewhere (on Help); the
    // message box hands the focus back to the list, where Enter and the arrow keys belong.
    foundList_->setFocus(Qt::OtherFocusReason);
    messages().information(f.message);
    nextButton_->setEnabled(true);
    status_->setText(QString::fromStdString(f.doneStatus));
}

void AdvancedOptionsPage::stop() {
    if (!view_) return;
    // The finders end at their next chunk; the lists then show what was found so far.
    stopRequested_.store(1);
    status_->setText(QStringLiteral("stop button pressed"));
}

void AdvancedOptionsPage::next() {
    if (worker_->busy()) {
        messages().information(kWait);
        return;
    }
    if (!view_ || foundList_->currentIndex() < 0) {
        messages().information(kNoEntryFound);
        return;
    }
    if (clusterSizeList_->currentIndex() < 0) return;
    QWidget* following = nextPage_ ? nextPage_(*this) : nullptr;
    if (!following) return;
    handOverTo(following);
}

void AdvancedOptionsPage::back() {
    // Destruction stops the finders and waits for them before the engine goes.
    stopRequested_.store(1);
    worker_->gate().releaseAll();
    handOverTo(parentWidget());
    deleteLater();
}

void AdvancedOptionsPage::closeApplication() {
    stopRequested_.store(1);
    status_->setText(QStringLiteral("All thread Stopped"));
    worker_->gate().releaseAll();
    endApplication();
}

}  // namespace halvard::gui
