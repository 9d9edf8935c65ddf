#include "app/volume_list_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <optional>

#include "app/image_reader.h"
#include "app/sector_field.h"
#include "app/ui_thread.h"
#include "app/widgets.h"
#include "volume/volume_choices.h"

namespace halvard::gui {

namespace {

const char* const kInformationLost = "Information lost ..go back and parse again";
const char* const kStandardNotOpened = "File not opened..";
const char* const kAdvancedNotOpened = "file not opened..";
const char* const kNoSelection = "please select a valid volume.";
const char* const kUnknownVolume = "can not parse unknown volume";
const char* const kPopulated = "populated partitions....";
const char* const kFinished = "Finished Scanning.";
const char* const kSelectVolume = "Select volume and click next button...";
const char* const kScanned = "Scanned Partitions";

enum Column { VolumeColumn, FileSystemColumn, SizeColumn, StartColumn };

QTableWidgetItem* makeCell(const std::string& text) {
    auto* cell = new QTableWidgetItem(QString::fromStdString(text));
    cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return cell;
}

// The advanced scan clears its stop flag as it begins, so a Stop pressed in the moment between starting the worker
// and that point would be lost. The page keeps its own flag and passes it on again with every progress report
// (the first comes right after the flag is cleared, the others after each chunk).
class StopRelay : public ProgressSink {
public:
    StopRelay(ProgressSink* next, const StopFlag& pageFlag, StopFlag& scanFlag)
        : next_(next), pageFlag_(pageFlag), scanFlag_(scanFlag) {}
    void setRange(std::uint32_t lower, std::uint32_t upper) override {
        relay();
        if (next_) next_->setRange(lower, upper);
    }
    void setPosition(std::uint32_t position) override {
        relay();
        if (next_) next_->setPosition(position);
    }

private:
    void relay() {
        if (pageFlag_.load() != 0) scanFlag_.store(1);
    }
    ProgressSink* next_;
    const StopFlag& pageFlag_;
    StopFlag& scanFlag_;
};

}  // namespace

VolumeListPage::VolumeListPage(ApplicationState& state, const ScanChoices& choices, QWidget* parent)
    : WizardPage(state, tr("Choose the volume to recover from"), parent), choices_(choices) {
    setObjectName(QStringLiteral("VolumeListPage"));

    // The volumes found.
    auto* listGroup = new QGroupBox(QStringLiteral("Volume List:"), this);
    listGroup->setObjectName(QStringLiteral("volumeListGroup"));
    auto* listLayout = new QVBoxLayout(listGroup);
    list_ = new QTableWidget(0, 4, listGroup);
    list_->setObjectName(QStringLiteral("volumeList"));
    list_->setHorizontalHeaderLabels(
        {QStringLiteral("VOLUME"), QStringLiteral("FILE_SYSTEM"), QStringLiteral("VOLUME_SIZE"),
         QStringLiteral("START_SECTOR")});
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 8);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setDefaultSectionSize(120);
    list_->horizontalHeader()->setStretchLastSection(true);
    list_->setMinimumHeight(150);
    connect(list_, &QTableWidget::itemSelectionChanged, this, &VolumeListPage::selectionChanged);
    connect(list_, &QTableWidget::cellClicked, this, [this](int row, int) { itemClicked(row); });
    listLayout->addWidget(list_);

    auto* listButtons = new QHBoxLayout;
    filterButton_ = makeButton(QStringLiteral("Filter Entries"), listGroup, "filterButton");
    filterButton_->setToolTip(QStringLiteral("Filter volume entries."));
    connect(filterButton_, &QPushButton::clicked, this, &VolumeListPage::filterEntries);
    addButton_ = makeButton(QStringLiteral("Add Custom Volume"), listGroup, "addCustomVolumeButton");
    addButton_->setToolTip(QStringLiteral("Add Custom Volume entry."));
    addButton_->setEnabled(false);
    connect(addButton_, &QPushButton::clicked, this, &VolumeListPage::addCustomVolume);
    listButtons->addWidget(filterButton_);
    listButtons->addWidget(addButton_);
    listButtons->addStretch(1);
    listLayout->addLayout(listButtons);
    contentLayout()->addWidget(listGroup, 1);

    // Settings that override the selected volume's own.
    auto* customGroup = new QWidget(this);
    auto* grid = new QGridLayout(customGroup);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    customBox_ = new QCheckBox(QStringLiteral("Custom Settings For Selected Volume "), customGroup);
    customBox_->setObjectName(QStringLiteral("customSettingsBox"));
    customBox_->setEnabled(false);
    connect(customBox_, &QCheckBox::toggled, this, &VolumeListPage::setCustomControlsEnabled);
    selectedLabel_ = makeLabel(QStringLiteral("Selected Volume :"), customGroup, "selectedVolumeLabel");
    selectedName_ = makeLabel(QString(), customGroup, "selectedVolumeName");
    selectedName_->setTextFormat(Qt::PlainText);
    startLabel_ = makeLabel(QStringLiteral("Start Sector:"), customGroup, "startSectorLabel");
    startEdit_ = new SectorSpinBox(customGroup);
    startEdit_->setObjectName(QStringLiteral("startSectorEdit"));
    endLabel_ = makeLabel(QStringLiteral("End Sector :"), customGroup, "endSectorLabel");
    endEdit_ = new SectorSpinBox(customGroup);
    endEdit_->setObjectName(QStringLiteral("endSectorEdit"));
    treatAsLabel_ = makeLabel(QStringLiteral("Treat file system as:"), customGroup, "treatAsLabel");
    treatAs_ = new QComboBox(customGroup);
    treatAs_->setObjectName(QStringLiteral("treatAsBox"));
    for (const std::string& choice : treatAsChoices()) treatAs_->addItem(QString::fromStdString(choice));
    treatAs_->setCurrentIndex(-1);
    treatAs_->setMinimumWidth(120);

    grid->addWidget(customBox_, 0, 0, 1, 4);
    grid->addWidget(selectedLabel_, 1, 0);
    grid->addWidget(selectedName_, 1, 1);
    grid->addWidget(treatAsLabel_, 1, 2);
    grid->addWidget(treatAs_, 1, 3);
    grid->addWidget(startLabel_, 2, 0);
    grid->addWidget(startEdit_, 2, 1);
    grid->addWidget(endLabel_, 2, 2);
    grid->addWidget(endEdit_, 2, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    contentLayout()->addWidget(customGroup);
    setCustomControlsEnabled(false);

    // Scan progress.
    auto* progressRow = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setTextVisible(false);
    stopButton_ = makeButton(QStringLiteral("Stop"), this, "stopButton");
    connect(stopButton_, &QPushButton::clicked, this, &VolumeListPage::stop);
    progressRow->addWidget(progress_, 1);
    progressRow->addWidget(stopButton_);
    contentLayout()->addLayout(progressRow);
    status_ = makeLabel(QString(), this, "statusText");
    status_->setTextFormat(Qt::PlainText);
    contentLayout()->addWidget(status_);
    for (QWidget* widget : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(stopButton_)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }

    backButton_ = addNavigationButton(QStringLiteral("Back"), "backButton", &VolumeListPage::back);
    nextButton_ = addNavigationButton(QStringLiteral("Next"), "nextButton", &VolumeListPage::next);

    worker_ = std::make_unique<PageWorker>(*this, progress_, status_);

    setMainControl(list_);
    resize(640, 560);
    setMinimumSize(560, 500);
}

VolumeListPage::~VolumeListPage() {
    destroyLaterPages();
    worker_->shutDown([this] { stop(); });
}

void VolumeListPage::startScan() {
    showScanControls(true);
    if (choices_.scanMode == ScanMode::Standard) {
        progress_->setRange(0, static_cast<int>(kScanProgressEnd));
        progress_->setValue(0);
        standardScan();
        progress_->setValue(static_cast<int>(kScanProgressEnd));
    } else {
        advancedScan();
    }
}

void VolumeListPage::renewReader() {
    if (state().sourcePage == kImagePageId && choices_.imageChosen)
        state().replaceActiveReader(makeImageReader(state(), worker_->messages()));
}

void VolumeListPage::standardScan() {
    // Nothing is added to a standard scan's list afterwards.
    addButton_->hide();
    scanner_ = std::make_unique<Partition>(records_);
    scanner_->gptFlag = choices_.gptFlag;

    renewReader();
    DiskReader* reader = state().activeReader.get();
    if (!reader) {
        messages().information(kInformationLost);
        return;
    }
    if (!reader->open(QFile::encodeName(choices_.imagePath).toStdString())) {
        messages().information(kStandardNotOpened);
    } else {
        state().totalSectors = reader->totalSectors;
        scanner_->reporting = worker_->reporting();
        clearList();
        records_.clear();
        scanner_->standardScan(state().activeReader);
        for (std::size_t i = 0; i < records_.size(); ++i) {
            records_[i].volumeName = std::to_string(i);
            addListItem(records_[i], false);
        }
        if (!records_.empty()) customBox_->setEnabled(true);
    }
    scanner_.reset();
    filterButton_->setEnabled(true);
    status_->setText(QString::fromLatin1(kFinished));
    showScanControls(false);
    status_->setText(QString::fromLatin1(kSelectVolume));
}

void VolumeListPage::advancedScan() {
    addButton_->setEnabled(false);
    nextButton_->setEnabled(false);
    scanner_ = std::make_unique<Partition>(records_);
    scanner_->volumeSizeFlag = !choices_.doNotSkipFlag;
    scanner_->startSector = choices_.startSector;
    scanner_->endSector = choices_.endSector;

    renewReader();
    DiskReader* reader = state().activeReader.get();
    if (!reader || !reader->open(QFile::encodeName(choices_.imagePath).toStdString())) {
        scanner_.reset();
        nextButton_->setEnabled(true);
        showScanControls(false);
        messages().information(kAdvancedNotOpened);
        return;
    }
    state().totalSectors = reader->totalSectors;
    clearList();
    records_.clear();

    Partition* scanner = scanner_.get();
    stopRequested_.store(0);
    scanProgress_ = std::make_unique<StopRelay>(worker_->reporting().progress, stopRequested_, scanner->stopRequested);
    scanner->reporting = worker_->reporting();
    scanner->reporting.progress = scanProgress_.get();
    scanner->pauseGate = &worker_->gate();
    // Each volume is listed as soon as it is found; the scan waits until the row is there, and meanwhile the
    // records vector is left alone on both sides.
    scanner->onVolumeFound = [this](const VolumeRecord& record) {
        runOnUiThread([this, &record] {
            if (!worker_->shuttingDown()) addListItem(record, false);
        });
    };
    backButton_->setEnabled(false);
    filterButton_->setEnabled(false);
    const std::uint64_t totalSectors = state().totalSectors;
    worker_->start([scanner, disk = DevicePtr(state().activeReader), totalSectors] { scanner->advancedScan(disk, totalSectors); },
                   [this] { advancedScanEnded(); });
}

void VolumeListPage::advancedScanEnded() {
    scanner_.reset();
    backButton_->setEnabled(true);
    if (endWhenIdle_) {
        endApplication();
        return;
    }
    status_->setText(QString::fromLatin1(kScanned));
    messages().information(kPopulated);
    status_->setText(QString::fromLatin1(kFinished));
    if (!records_.empty()) customBox_->setEnabled(true);
    addButton_->setEnabled(true);
    nextButton_->setEnabled(true);
    filterButton_->setEnabled(true);
    showScanControls(false);
    status_->setText(QString::fromLatin1(kSelectVolume));
}

void VolumeListPage::stop() {
    if (!scanner_ || !worker_->busy()) return;
    stopRequested_.store(1);
    scanner_->stopRequested.store(1);
}

void VolumeListPage::clearList() {
    selectedVolume_ = nullptr;
    list_->setRowCount(0);
    listed_.clear();
}

void VolumeListPage::addListItem(const VolumeRecord& record, bool atTop) {
    listed_.push_back(std::make_unique<VolumeRecord>(record));
    VolumeRecord* owned = listed_.back().get();
    const int row = atTop ? 0 : list_->rowCount();
    list_->insertRow(row);
    QTableWidgetItem* first = makeCell(owned->volumeName);
    first->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(owned)));
    list_->setItem(row, VolumeColumn, first);
    list_->setItem(row, FileSystemColumn, makeCell(owned->fileSystem));
    QTableWidgetItem* size = makeCell(owned->sizeText);
    size->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(owned->sectorCount));  // the text is whole MiB only
    list_->setItem(row, SizeColumn, size);
    list_->setItem(row, StartColumn, makeCell(std::to_string(owned->startSector)));
}

VolumeRecord* VolumeListPage::recordOfRow(int row) const {
    const QTableWidgetItem* first = row >= 0 ? list_->item(row, VolumeColumn) : nullptr;
    return first ? static_cast<VolumeRecord*>(first->data(Qt::UserRole).value<void*>()) : nullptr;
}

int VolumeListPage::selectedRow() const {
    const QList<QTableWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : selected.constFirst()->row();
}

void VolumeListPage::selectionChanged() {
    const VolumeRecord* record = recordOfRow(selectedRow());
    if (!record) return;
    selectedName_->setText(QString::fromStdString(record->volumeName));
    startEdit_->setValue(record->startSector);
    endEdit_->setValue(endSectorOf(*record));
}

void VolumeListPage::itemClicked(int row) {
    const VolumeRecord* record = recordOfRow(row);
    if (!record) return;
    if (const auto choice = choiceForFileSystem(record->fileSystem))
        treatAs_->setCurrentIndex(treatAs_->findText(QString::fromStdString(*choice)));
}

void VolumeListPage::setCustomControlsEnabled(bool enabled) {
    for (QWidget* widget : {static_cast<QWidget*>(selectedLabel_), static_cast<QWidget*>(selectedName_),
                            static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(startEdit_),
                            static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(endEdit_),
                            static_cast<QWidget*>(treatAsLabel_), static_cast<QWidget*>(treatAs_)})
        widget->setEnabled(enabled);
}

void VolumeListPage::showScanControls(bool visible) {
    progress_->setVisible(visible);
    stopButton_->setVisible(visible);
}

void VolumeListPage::filterEntries() {
    if (worker_->busy()) return;
    clearList();
    if (records_.size() < 2) return;
    // Already in the order the rows end up in: each kept record goes on top of the ones before it.
    for (const std::size_t index : halvard::filterEntries(records_)) {
        records_[index].volumeName = std::to_string(index);
        addListItem(records_[index], false);
    }
}

void VolumeListPage::addCustomVolume() {
    if (worker_->busy()) return;
    records_.push_back(customVolumeEntry(records_.size()));
    customBox_->setEnabled(true);
    customBox_->setChecked(true);
    setCustomControlsEnabled(true);
    addListItem(records_.back(), true);
    list_->setCurrentCell(0, VolumeColumn);
    list_->selectRow(0);
    startEdit_->setText(QStringLiteral("0"));
    endEdit_->setText(QStringLiteral("0"));
}

void VolumeListPage::next() {
    if (worker_->busy()) return;
    const int row = selectedRow();
    VolumeRecord* record = recordOfRow(row);
    if (!record) {
        messages().information(kNoSelection);
        return;
    }
    selectedVolume_ = record;
    const bool custom = customBox_->isChecked();

    if (!custom && customApplied_) {
        // Custom settings of an earlier Next changed the record; the list texts still hold what was found.
        record->volumeName = list_->item(row, VolumeColumn)->text().toStdString();
        record->fileSystem = list_->item(row, FileSystemColumn)->text().toStdString();
        record->sizeText =
            list_->item(row, SizeColumn)->text().remove(QStringLiteral("MB")).trimmed().toStdString();
        record->sectorCount = list_->item(row, SizeColumn)->data(Qt::UserRole).toULongLong();
        record->startSector = list_->item(row, StartColumn)->text().trimmed().toLongLong();
    }

    std::optional<std::string> choice;
    if (treatAs_->currentIndex() >= 0) choice = treatAs_->currentText().toStdString();
    if (custom) {
        customApplied_ = true;
        applyCustomSettings(*record, startEdit_->value(), endEdit_->value(), choice);
    }

    QWidget* following = nullptr;
    if (custom && choice == "RAW") {
        record->fileSystem = "RAW";
        following = nextPage_ ? nextPage_(*this, NextTarget::RawRecovery) : nullptr;
    } else if (isUnknownVolume(*record)) {
        messages().information(kUnknownVolume);
        return;
    } else {
        following = nextPage_ ? nextPage_(*this, NextTarget::RecoveryMode) : nullptr;
    }
    scanner_.reset();
    if (!following) return;
    handOverTo(following);
}

void VolumeListPage::back() {
    if (worker_->busy()) return;
    clearList();
    handOverTo(parentWidget());
    deleteLater();
}

void VolumeListPage::closeApplication() {
    if (worker_->busy()) {
        // The scan still appends to the records: let it stop first; its end steps end the application.
        endWhenIdle_ = true;
        stop();
        return;
    }
    endApplication();
}

}  // namespace halvard::gui
