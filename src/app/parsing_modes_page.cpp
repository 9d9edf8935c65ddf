#include "app/parsing_modes_page.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <limits>
#include <optional>

#include "app/image_reader.h"
#include "app/page_worker.h"
#include "app/sector_field.h"
#include "app/image_page.h"
#include "app/widgets.h"

namespace halvard::gui {

namespace {

const char* const kChooseMode = "Choose any one of the mode and click next....";
const char* const kSpaceWarning = "Make sure you have sufficient disk space at saving location of Image File";
const char* const kChooseFolder = "Please choose a folder.";
const char* const kInformationLost = "Information lost, Click Back button and parse again";
const char* const kNoVolumeListPage = "error creating PopulateDriveDlgptr";
const char* const kDoNotSkip = "Do not Skip Volume Size While Parsing in Advance  Scan ";

constexpr std::uint64_t kMiB = 1048576;

// The value of a field of digits when it is at most `largest`.
std::optional<std::uint64_t> digitsValue(const QString& text, std::uint64_t largest) {
    if (text.isEmpty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        const unsigned digit = static_cast<unsigned>(c.unicode() - u'0');
        if (value > (largest - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

QLineEdit* makeSectorEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setValidator(new SectorValidator(edit));
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit->setMinimumWidth(110);
    edit->setMaximumWidth(170);
    return edit;
}

std::string unreadableText(std::uint64_t sectors) {
    if (sectors == 1) return "1 sector of the image could not be read and was written as zeros.";
    return std::to_string(sectors) + " sectors of the image could not be read and were written as zeros.";
}

}  // namespace

ImageHandover ImageHandover::from(const ImagePage& page) {
    ImageHandover handover;
    handover.imagePath = page.imagePath();
    handover.diskSizeText = page.diskSizeText();
    handover.blockSizeText = page.blockSizeText();
    handover.logicalSectorSizeText = page.logicalSectorSizeText();
    handover.imageChosen = page.imageChosen();
    return handover;
}

ImageOverrides overridesFrom(const ImageHandover& handover) {
    ImageOverrides overrides;
    constexpr auto kLargestDisk = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (const auto mib = digitsValue(handover.diskSizeText, kLargestDisk / kMiB))
        overrides.userDiskSize = static_cast<std::int64_t>(*mib * kMiB);
    if (const auto bytes = digitsValue(handover.blockSizeText, std::numeric_limits<std::uint32_t>::max()))
        overrides.userBlockSize = static_cast<std::uint32_t>(*bytes);
    if (const auto bytes = digitsValue(handover.logicalSectorSizeText, std::numeric_limits<std::uint32_t>::max()))
        overrides.userLogicalSectorSize = static_cast<std::uint32_t>(*bytes);
    return overrides;
}

ParsingModesPage::ParsingModesPage(ApplicationState& state, const ImageHandover& handover, QWidget* parent)
    : WizardPage(state, tr("Choose how the volumes of the disk are found"), parent), handover_(handover) {
    setObjectName(QStringLiteral("ParsingModesPage"));

    // The image.
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(makeLabel(QStringLiteral("Currently Selected Drive :"), this, "selectedDriveLabel"));
    imagePathValue_ = makeLabel(QString(), this, "selectedDriveValue");
    imagePathValue_->setTextFormat(Qt::PlainText);
    imagePathValue_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    driveRow->addWidget(imagePathValue_, 1);
    contentLayout()->addLayout(driveRow);

    // How the volumes are found.
    auto* modeGroup = new QGroupBox(this);
    modeGroup->setObjectName(QStringLiteral("scanModeGroup"));
    auto* modeGrid = new QGridLayout(modeGroup);
    modeGrid->setHorizontalSpacing(12);
    modeGrid->setVerticalSpacing(8);
    standardScan_ = new QRadioButton(QStringLiteral("Standard Scan"), modeGroup);
    standardScan_->setObjectName(QStringLiteral("standardScanButton"));
    connect(standardScan_, &QRadioButton::clicked, this, &ParsingModesPage::chooseStandardScan);
    advanceScan_ = new QRadioButton(QStringLiteral("Advance Scan"), modeGroup);
    advanceScan_->setObjectName(QStringLiteral("advanceScanButton"));
    connect(advanceScan_, &QRadioButton::clicked, this, &ParsingModesPage::chooseAdvanceScan);
    gptBox_ = new QCheckBox(QStringLiteral("GPT format"), modeGroup);
    gptBox_->setObjectName(QStringLiteral("gptBox"));
    QLabel* gptNote = makeLabel(QStringLiteral("* Check If Partition type is GPT"), modeGroup, "gptNote");
    QFont noteFont = gptNote->font();
    noteFont.setItalic(true);
    gptNote->setFont(noteFont);
    doNotSkipBox_ = new QCheckBox(QString::fromLatin1(kDoNotSkip), modeGroup);
    doNotSkipBox_->setObjectName(QStringLiteral("doNotSkipBox"));
    customBox_ = new QCheckBox(QStringLiteral("Custom Setting:"), modeGroup);
    customBox_->setObjectName(QStringLiteral("customSettingBox"));
    startLabel_ = makeLabel(QStringLiteral("Starting Sector:"), modeGroup, "startSectorLabel");
    startEdit_ = makeSectorEdit(modeGroup, "startSectorEdit");
    endLabel_ = makeLabel(QStringLiteral("Ending Sector:"), modeGroup, "endSectorLabel");
    endEdit_ = makeSectorEdit(modeGroup, "endSectorEdit");
    connect(customBox_, &QCheckBox::toggled, this, [this](bool ticked) {
        for (QWidget* widget : {static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(startEdit_),
                                static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(endEdit_)})
            widget->setEnabled(ticked);
    });

    auto* gptRow = new QHBoxLayout;
    gptRow->addWidget(gptBox_);
    gptRow->addWidget(gptNote);
    gptRow->addStretch(1);
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(startLabel_);
    rangeRow->addWidget(startEdit_);
    rangeRow->addSpacing(16);
    rangeRow->addWidget(endLabel_);
    rangeRow->addWidget(endEdit_);
    rangeRow->addStretch(1);
    modeGrid->addWidget(standardScan_, 0, 0);
    modeGrid->addLayout(gptRow, 0, 1);
    modeGrid->addWidget(advanceScan_, 1, 0);
    modeGrid->addWidget(doNotSkipBox_, 1, 1);
    modeGrid->addWidget(customBox_, 2, 1);
    modeGrid->addLayout(rangeRow, 3, 1);
    modeGrid->setColumnStretch(1, 1);
    contentLayout()->addWidget(modeGroup);

    // The raw image of the whole disk.
    auto* exportGroup = new QGroupBox(this);
    exportGroup->setObjectName(QStringLiteral("diskImageGroup"));
    auto* exportLayout = new QGridLayout(exportGroup);
    exportLayout->setHorizontalSpacing(12);
    saveDiskImageBox_ = new QCheckBox(QStringLiteral("Save Disk Image"), exportGroup);
    saveDiskImageBox_->setObjectName(QStringLiteral("saveDiskImageBox"));
    outputEdit_ = new QLineEdit(exportGroup);
    outputEdit_->setObjectName(QStringLiteral("outputPathEdit"));
    outputEdit_->setReadOnly(true);
    saveImageButton_ = makeButton(QStringLiteral("Save Image"), exportGroup, "saveImageButton");
    connect(saveDiskImageBox_, &QCheckBox::toggled, saveImageButton_, &QPushButton::setEnabled);
    connect(saveImageButton_, &QPushButton::clicked, this, &ParsingModesPage::saveImage);
    progress_ = new QProgressBar(exportGroup);
    progress_->setObjectName(QStringLiteral("progressBar"));
    progress_->setTextVisible(false);
    stopButton_ = makeButton(QStringLiteral("Stop"), exportGroup, "stopButton");
    connect(stopButton_, &QPushButton::clicked, this, &ParsingModesPage::stopExport);
    for (QWidget* widget : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(stopButton_)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }
    exportLayout->addWidget(saveDiskImageBox_, 0, 0, 1, 2);
    exportLayout->addWidget(outputEdit_, 1, 0);
    exportLayout->addWidget(saveImageButton_, 1, 1);
    exportLayout->addWidget(progress_, 2, 0);
    exportLayout->addWidget(stopButton_, 2, 1);
    exportLayout->setColumnStretch(0, 1);
    contentLayout()->addWidget(exportGroup);

    status_ = makeLabel(QString::fromLatin1(kChooseMode), this, "statusText");
    status_->setTextFormat(Qt::PlainText);
    contentLayout()->addWidget(status_);
    contentLayout()->addStretch(1);

    backButton_ = addNavigationButton(QStringLiteral("Back"), "backButton", &ParsingModesPage::back);
    nextButton_ = addNavigationButton(QStringLiteral("Next"), "nextButton", &ParsingModesPage::next);

    worker_ = std::make_unique<PageWorker>(*this, progress_, status_);
    setFolderChooser(nullptr);

    // Page start.
    showExportProgress(false);
    saveDiskImageBox_->setChecked(false);
    saveImageButton_->setEnabled(false);
    for (QWidget* widget : {static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(startEdit_),
                            static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(endEdit_)})
        widget->setEnabled(false);
    state.overrides = overridesFrom(handover_);
    imagePathValue_->setText(handover_.imagePath);
    startEdit_->setText(QStringLiteral("0"));
    endEdit_->setText(QStringLiteral("0"));
    chooseStandardScan();

    setMainControl(standardScan_);
    resize(640, 540);
    setMinimumSize(560, 480);
}

ParsingModesPage::~ParsingModesPage() {
    destroyLaterPages();
    worker_->shutDown([this] { stopRequested_.store(1); });
}

void ParsingModesPage::setFolderChooser(FolderChooser chooser) {
    if (chooser) {
        chooseFolder_ = std::move(chooser);
        return;
    }
    chooseFolder_ = [](QWidget* parent) {
        return QFileDialog::getExistingDirectory(parent, QString::fromLatin1(kChooseFolder), QString(),
                                                 QFileDialog::ShowDirsOnly);
    };
}

bool ParsingModesPage::exporting() const { return worker_->busy(); }

ScanChoices ParsingModesPage::scanChoices() const {
    ScanChoices choices;
    choices.imagePath = handover_.imagePath;
    choices.imageChosen = handover_.imageChosen;
    choices.scanMode = standardScan_->isChecked() ? ScanMode::Standard : ScanMode::Advanced;
    choices.gptFlag = gptBox_->isChecked();
    choices.doNotSkipFlag = doNotSkipBox_->isChecked();
    // The range goes with the tick alone, whichever mode is chosen; only the advanced scan reads it.
    if (customBox_->isChecked()) {
        choices.startSector = sectorFromText(startEdit_->text());
        choices.endSector = sectorFromText(endEdit_->text());
    }
    return choices;
}

void ParsingModesPage::chooseStandardScan() {
    standardScan_->setChecked(true);
    advanceScan_->setChecked(false);
    // The tick states stay as they are; only the advanced scan reads them.
    for (QWidget* widget : {static_cast<QWidget*>(doNotSkipBox_), static_cast<QWidget*>(customBox_),
                            static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(startEdit_),
                            static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(endEdit_)})
        widget->setEnabled(false);
}

void ParsingModesPage::chooseAdvanceScan() {
    standardScan_->setChecked(false);
    advanceScan_->setChecked(true);
    doNotSkipBox_->setEnabled(true);
    customBox_->setEnabled(true);
    // A range ticked earlier is handed over, so it must be editable too.
    const bool ranged = customBox_->isChecked();
    for (QWidget* widget : {static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(startEdit_),
                            static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(endEdit_)})
        widget->setEnabled(ranged);
}

void ParsingModesPage::saveImage() {
    if (exporting()) return;
    messages().information(kSpaceWarning);
    const QString folder = chooseFolder_(this);
    if (folder.isEmpty()) return;
    outputPath_ = QFile::decodeName(QByteArray::fromStdString(chooseExportPath(
        QFile::encodeName(folder).toStdString(), QFile::encodeName(handover_.imagePath).toStdString())));
    outputEdit_->setText(outputPath_);
    startExport();
}

void ParsingModesPage::startExport() {
    // The export reads through a reader of its own, the active one for as long as it runs.
    DiskReader* reader = state().replaceActiveReader(makeImageReader(state(), worker_->messages()));
    if (!reader) {
        messages().information(kInformationLost);
        return;
    }
    setExportControlsEnabled(false);
    stopRequested_.store(0);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    showExportProgress(true);

    auto result = std::make_shared<ExportResult>();
    const std::string image = QFile::encodeName(handover_.imagePath).toStdString();
    const std::string output = QFile::encodeName(outputPath_).toStdString();
    const Reporting reporting = worker_->reporting();
    const StopPoll stop(&stopRequested_, &worker_->gate());
    worker_->start(
        [reader, image, output, reporting, stop, result] {
            // A reader that cannot open the image has shown why.
            if (!reader->open(image)) return;
            *result = exportDiskImage(*reader, reader->totalSectors, output, reporting, stop);
        },
        [this, result] { exportEnded(*result); });
}

void ParsingModesPage::exportEnded(const ExportResult& result) {
    state().dropActiveReader();
    showExportProgress(false);
    setExportControlsEnabled(true);
    if (endWhenIdle_) {
        endApplication();
        return;
    }
    // The copy goes on past sectors it cannot read; the user must know the image is not a faithful copy.
    if (result.unreadableSectors > 0) messages().information(unreadableText(result.unreadableSectors));
}

void ParsingModesPage::stopExport() {
    if (!exporting()) return;
    if (messages().question(kStopQuestion)) stopRequested_.store(1);
}

void ParsingModesPage::setExportControlsEnabled(bool enabled) {
    nextButton_->setEnabled(enabled);
    backButton_->setEnabled(enabled);
    saveImageButton_->setEnabled(enabled && saveDiskImageBox_->isChecked());
    saveDiskImageBox_->setEnabled(enabled);
}

void ParsingModesPage::showExportProgress(bool visible) {
    progress_->setVisible(visible);
    stopButton_->setVisible(visible);
}

void ParsingModesPage::next() {
    if (exporting()) return;
    const ScanChoices choices = scanChoices();
    VolumeListPage* page = nextPage_ ? nextPage_(*this, choices) : new VolumeListPage(state(), choices, this);
    if (!page) {
        messages().information(kNoVolumeListPage);
        return;
    }
    volumeListPage_ = page;
    handOverTo(page);
    page->startScan();
}

void ParsingModesPage::back() {
    if (exporting()) return;
    handOverTo(parentWidget());
    deleteLater();
}

void ParsingModesPage::closeApplication() {
    if (exporting()) {
        // Let the export leave after its chunk in progress; its end steps end the application.
        endWhenIdle_ = true;
        stopRequested_.store(1);
        return;
    }
    endApplication();
}

}  // namespace halvard::gui
