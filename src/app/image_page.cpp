#include "app/image_page.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "image/image_file.h"
#include "image/image_info.h"
#include "image/image_kind.h"

#include "app/widgets.h"

namespace halvard::gui {

namespace {

const char* const kNotVhdx = "Please select valid vhdx file to continue the recovery process.";
const char* const kRegionCorrupt = "Region entry corrupt";
const char* const kDifferencing = "This is a differencing VHDX.";
const char* const kNoPath = "Please select valid path to continue the recovery process.";
const char* const kNoDiskSize = "Please enter Hard disk Size to process the recovery.";
const char* const kNoBlockSize = "Please enter Block Size to process the recovery.";
const char* const kNoSectorSize = "to process the recovery Logical sector Size to process the recovery.";

// Shown on the file type box; the pattern behind it is "*vhdx", so differencing children (".avhdx") show too.
// The file dialog takes the last parenthesised group as the patterns and, with the details hidden, shows the
// text before it.
const char* const kImageFilter = ".VHDX Files (*.vhdx) (*vhdx)";
// Offered first: every kind the pages read (VHD, VDI and VMDK are told by their signatures).
const char* const kAllImagesFilter = "Virtual Disk Files (*vhdx *.vhd *.vdi *.vmdk *.qcow2)";
// Flat disks carry any name (.img, .dd, .raw, .bin...).
const char* const kAnyFileFilter = "All Files (*)";

constexpr std::uint64_t kMiB = 1048576;

QLineEdit* makeNumberEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit->setMinimumWidth(150);
    return edit;
}

// Restores the normal cursor however the reading ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The differencing notice, with the parents the chain reads through or the reason it cannot.
std::string differencingText(const ImageInfo& info) {
    std::string text = kDifferencing;
    if (!info.ok) return text + "\n" + info.error;
    for (const std::string& parent : info.parents) text += "\nParent: " + parent;
    return text;
}

}  // namespace

ImagePage::ImagePage(ApplicationState& state, QWidget* parent)
    : WizardPage(state, tr("Choose the virtual hard-disk image to recover from"), parent) {
    setObjectName(QStringLiteral("ImagePage"));

    // The image path.
    auto* fileGroup = new QGroupBox(QStringLiteral("File Path:"), this);
    fileGroup->setObjectName(QStringLiteral("filePathGroup"));
    auto* fileRow = new QHBoxLayout(fileGroup);
    pathEdit_ = new QLineEdit(fileGroup);
    pathEdit_->setObjectName(QStringLiteral("pathEdit"));
    // A path can be typed or pasted too; it is read on Enter or Next.
    connect(pathEdit_, &QLineEdit::textEdited, this, [this] { nextButton_->setEnabled(true); });
    browseButton_ = new QPushButton(QStringLiteral("..."), fileGroup);
    browseButton_->setObjectName(QStringLiteral("browseButton"));
    browseButton_->setAutoDefault(false);
    browseButton_->setFixedWidth(44);
    browseButton_->setToolTip(tr("Choose a VHDX image"));
    connect(browseButton_, &QPushButton::clicked, this, &ImagePage::browse);
    fileRow->addWidget(pathEdit_, 1);
    fileRow->addWidget(browseButton_);
    contentLayout()->addWidget(fileGroup);

    // What the image says about itself; hidden until an image has been read.
    auto* infoGroup = new QGroupBox(QStringLiteral("File Information:"), this);
    infoGroup->setObjectName(QStringLiteral("fileInformationGroup"));
    auto* grid = new QGridLayout(infoGroup);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(3, 1);

    QLabel* formatLabel = makeLabel(QStringLiteral("Image Format:"), infoGroup, "formatLabel");
    formatValue_ = makeLabel(QString(), infoGroup, "formatValue");
    QLabel* versionLabel = makeLabel(QStringLiteral("File Format Version:"), infoGroup, "versionLabel");
    versionValue_ = makeLabel(QString(), infoGroup, "versionValue");
    QLabel* sizeLabel = makeLabel(QStringLiteral("Size of HDD:"), infoGroup, "sizeLabel");
    sizeEdit_ = makeNumberEdit(infoGroup, "sizeEdit");
    QLabel* sizeUnit = makeLabel(QStringLiteral("MB"), infoGroup, "sizeUnit");
    QLabel* blockLabel = makeLabel(QStringLiteral("Block Size:"), infoGroup, "blockSizeLabel");
    blockSizeEdit_ = makeNumberEdit(infoGroup, "blockSizeEdit");
    QLabel* blockUnit = makeLabel(QStringLiteral("Bytes"), infoGroup, "blockSizeUnit");
    QLabel* sectorLabel = makeLabel(QStringLiteral("Logical Sector Size:"), infoGroup, "sectorSizeLabel");
    sectorSizeEdit_ = makeNumberEdit(infoGroup, "sectorSizeEdit");
    QLabel* sectorUnit = makeLabel(QStringLiteral("Bytes"), infoGroup, "sectorSizeUnit");

    // The parents a differencing image reads through, nearest first; shown only for such an image.
    chainLabel_ = makeLabel(QStringLiteral("Reads Through:"), infoGroup, "chainLabel");
    chainList_ = new QTreeWidget(infoGroup);
    chainList_->setObjectName(QStringLiteral("chainList"));
    chainList_->setHeaderLabels({QStringLiteral("Format"), QStringLiteral("File")});
    chainList_->setRootIsDecorated(false);
    chainList_->setSelectionMode(QAbstractItemView::NoSelection);
    chainList_->setFocusPolicy(Qt::NoFocus);
    // Long paths keep their file names in sight.
    chainList_->setTextElideMode(Qt::ElideMiddle);
    chainList_->header()->setStretchLastSection(true);
    chainList_->setMaximumHeight(96);

    grid->addWidget(formatLabel, 0, 0);
    grid->addWidget(formatValue_, 0, 1, 1, 3);
    grid->addWidget(versionLabel, 1, 0);
    grid->addWidget(versionValue_, 1, 1);
    grid->addWidget(sizeLabel, 2, 0);
    grid->addWidget(sizeEdit_, 2, 1);
    grid->addWidget(sizeUnit, 2, 2);
    grid->addWidget(blockLabel, 3, 0);
    grid->addWidget(blockSizeEdit_, 3, 1);
    grid->addWidget(blockUnit, 3, 2);
    grid->addWidget(sectorLabel, 4, 0);
    grid->addWidget(sectorSizeEdit_, 4, 1);
    grid->addWidget(sectorUnit, 4, 2);
    grid->addWidget(chainLabel_, 5, 0, Qt::AlignTop);
    grid->addWidget(chainList_, 5, 1, 1, 3);
    contentLayout()->addWidget(infoGroup);
    contentLayout()->addStretch(1);
    chainLabel_->hide();
    chainList_->hide();

    informationWidgets_ = {formatLabel, formatValue_, versionLabel,   versionValue_, sizeLabel,
                           sizeEdit_,   sizeUnit,     blockLabel,     blockSizeEdit_, blockUnit,
                           sectorLabel, sectorSizeEdit_, sectorUnit};
    // The rows keep their place while hidden, so the page does not jump when they appear.
    for (QWidget* widget : informationWidgets_) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }
    showInformation(false);

    nextButton_ = addNavigationButton(QStringLiteral("Next"), "nextButton", &ImagePage::next);
    nextButton_->setEnabled(false);

    setMainControl(pathEdit_);
    resize(600, 480);
    setMinimumSize(520, 400);
}

ImagePage::~ImagePage() { destroyLaterPages(); }

QString ImagePage::imagePath() const { return pathEdit_->text(); }
QString ImagePage::diskSizeText() const { return sizeEdit_->text(); }
QString ImagePage::blockSizeText() const { return blockSizeEdit_->text(); }
QString ImagePage::logicalSectorSizeText() const { return sectorSizeEdit_->text(); }

QFileDialog* ImagePage::makeImageFileDialog(QWidget* parent) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QStringLiteral("imageFileDialog"));
    dialog->setWindowTitle(tr("Open"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog, so the filter behaves the same everywhere; read-only, since the chooser has no business
    // renaming or deleting anything.
    dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                       QFileDialog::ReadOnly);
    dialog->setNameFilters({QString::fromLatin1(kAllImagesFilter), QString::fromLatin1(kImageFilter),
                            QString::fromLatin1(kAnyFileFilter)});
    return dialog;
}

void ImagePage::browse() {
    QFileDialog* dialog = makeImageFileDialog(this);
    QString path;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        path = dialog->selectedFiles().constFirst();
    delete dialog;
    chooseImage(path);
}

void ImagePage::chooseImage(const QString& path) {
    if (!path.isEmpty()) pathEdit_->setText(path);
    // Next is enabled even for a cancelled chooser: its own check then refuses the empty path.
    nextButton_->setEnabled(true);
    imageChosen_ = true;
    if (path.isEmpty()) return;

    state().sourcePage = kImagePageId;
    chosenPath_ = path;
    if (!readImageInformation()) {
        nextButton_->setEnabled(false);
        return;
    }
    pathEdit_->setText(path);
    showInformation(true);
}

bool ImagePage::readImageInformation() {
    WaitCursor wait;
    showDescription(ImageInfo{});
    const std::string path = QFile::encodeName(chosenPath_).toStdString();
    ImageFile file;
    const bool opened = file.open(path);
    const ImageKind kind = opened ? detectImageKind(file) : ImageKind::Vhdx;
    if (kind != ImageKind::Vhdx && kind != ImageKind::Raw) return readOtherImage(path, kind);

    const bool vhdxName =
        chosenPath_.size() <= 3 || chosenPath_.right(4).compare(QStringLiteral("vhdx"), Qt::CaseInsensitive) == 0;
    // Any other file without a virtual disk's signature is a flat disk (what "Save Disk Image" and dd write) when it
    // holds whole sectors.
    if (opened && kind == ImageKind::Raw && !vhdxName && file.size() > 0 && file.size() % kSectorSize == 0)
        return readOtherImage(path, kind);
    state().imageKind = ImageKind::Vhdx;
    if (!vhdxName) {
        messages().information(kNotVhdx);
        return false;
    }
    // An image that cannot be opened leaves the fields as they are; Next then finds what is missing.
    if (!opened) return true;

    const ImageInfo headers = describeVhdxHeaders(file);
    versionValue_->setText(QString::fromStdString(headers.version));
    if (!headers.ok) {
        messages().information(headers.error.empty() ? std::string(kRegionCorrupt) : headers.error);
        return false;
    }

    state().totalSectors = headers.virtualSize / kSectorSize;
    blockSizeEdit_->setText(QString::number(headers.blockSize));
    sectorSizeEdit_->setText(QString::number(headers.logicalSectorSize));
    sizeEdit_->setText(QString::number(headers.virtualSize / kMiB));

    ImageInfo info = describeImage(path);
    info.format = headers.format;
    showDescription(info);
    if (headers.differencing) messages().information(differencingText(info));
    return true;
}

bool ImagePage::readOtherImage(const std::string& path, ImageKind kind) {
    const ImageInfo info = describeImage(path);
    versionValue_->setText(QString::fromStdString(info.version));
    showDescription(info);
    if (!info.ok) {
        messages().information(info.error);
        return false;
    }
    state().imageKind = kind;
    state().totalSectors = info.virtualSize / kSectorSize;
    blockSizeEdit_->setText(QString::number(info.blockSize));
    sectorSizeEdit_->setText(QString::number(info.logicalSectorSize ? info.logicalSectorSize : kSectorSize));
    sizeEdit_->setText(QString::number(info.virtualSize / kMiB));
    return true;
}

void ImagePage::showDescription(const ImageInfo& info) {
    QString format = QString::fromStdString(info.format);
    if (info.ok && info.differencing) format += QStringLiteral(", differencing");
    formatValue_->setText(format);
    QStringList notes;
    for (const std::string& note : info.notes) notes << QString::fromStdString(note);
    formatValue_->setToolTip(notes.join(u'\n'));

    chainList_->clear();
    for (std::size_t i = 0; i < info.parents.size(); ++i) {
        const QString file = QString::fromStdString(info.parents[i]);
        const std::string parentFormat = i < info.parentFormats.size() ? info.parentFormats[i] : std::string();
        auto* item = new QTreeWidgetItem(chainList_, {QString::fromStdString(parentFormat), file});
        item->setToolTip(1, file);
    }
    chainList_->resizeColumnToContents(0);
    const bool chain = info.ok && !info.parents.empty();
    chainLabel_->setVisible(chain);
    chainList_->setVisible(chain);
}

void ImagePage::showInformation(bool visible) {
    for (QWidget* widget : informationWidgets_) widget->setVisible(visible);
}

bool ImagePage::readTypedPath() {
    const QString typed = pathEdit_->text();
    if (typed.isEmpty() || typed == chosenPath_) return true;
    chooseImage(typed);
    return nextButton_->isEnabled();
}

void ImagePage::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && focusWidget() == pathEdit_ && !pathEdit_->text().isEmpty() && pathEdit_->text() != chosenPath_) {
        readTypedPath();
        return;
    }
    WizardPage::keyPressEvent(event);
}

void ImagePage::next() {
    if (!readTypedPath()) return;
    if (!QFileInfo::exists(pathEdit_->text())) {
        messages().information(kNoPath);
        return;
    }
    if (sizeEdit_->text().isEmpty()) {
        messages().information(kNoDiskSize);
        return;
    }
    if (blockSizeEdit_->text().isEmpty()) {
        messages().information(kNoBlockSize);
        return;
    }
    if (sectorSizeEdit_->text().isEmpty()) {
        messages().information(kNoSectorSize);
        return;
    }

    if (!nextPage_) return;
    QWidget* page = nextPage_(*this);
    if (!page) return;
    handOverTo(page);
}

}  // namespace halvard::gui
