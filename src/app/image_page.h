#pragma once
// The first page of the wizard: the user picks an image (VHDX, VHD, VDI, VMDK, qcow2 or a flat disk), the page reads
// its headers and shows the format, its version and the parents it reads through, and the disk size, block size and
// logical sector size in fields the user may correct; Next hands the path and the three values on to the
// parsing-modes page.
//
// The page is the main window; it stays alive, hidden, while later pages run, and they read its fields.
#include <QList>
#include <QString>
#include <functional>

#include "app/wizard_page.h"
#include "image/image_kind.h"

class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace halvard {
struct ImageInfo;
}

namespace halvard::gui {

class ImagePage : public WizardPage {
    Q_OBJECT
public:
    // Makes the page that follows, with this page as its parent. Returns null when it cannot be made; the page
    // then stays where it is.
    using NextPageFactory = std::function<QWidget*(ImagePage&)>;

    explicit ImagePage(ApplicationState& state, QWidget* parent = nullptr);
    ~ImagePage() override;

    void setNextPageFactory(NextPageFactory factory) { nextPage_ = std::move(factory); }

    // The file chooser this page shows. Only names ending in "vhdx" are offered (".avhdx" included).
    static QFileDialog* makeImageFileDialog(QWidget* parent);

    // Everything that happens once the file chooser has closed. An empty path is a cancelled chooser.
    void chooseImage(const QString& path);

    // Handover to the next page: the path field and the three value fields as the user left them.
    QString imagePath() const;
    QString diskSizeText() const;  // MiB
    QString blockSizeText() const;  // bytes
    QString logicalSectorSizeText() const;  // bytes
    // The path last chosen with the browse button, and whether the button was ever used.
    const QString& chosenPath() const { return chosenPath_; }
    bool imageChosen() const { return imageChosen_; }

public slots:
    void browse();
    void next();
    // Enter elsewhere: the first page closes as its OK does (the run ends; nothing needs stopping yet).
    void accept() override { QDialog::accept(); }

protected:
    // Enter in the path box reads a typed or pasted path; elsewhere it is the page's OK command.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Reads the path box when it holds another path than the one read last; false when that one is refused.
    bool readTypedPath();
    // Reads the image's key values into the fields. False when the image is refused (a message says why).
    bool readImageInformation();
    // The information of a VHD, VDI, VMDK or qcow2 image, or of a flat disk.
    bool readOtherImage(const std::string& path, ImageKind kind);
    // The format's name and notes and the parents the image reads through; a description that failed shows
    // only the format the signature gave.
    void showDescription(const ImageInfo& info);
    void showInformation(bool visible);

    QLineEdit* pathEdit_;
    QPushButton* browseButton_;
    QLabel* formatValue_;
    QLabel* versionValue_;
    QLineEdit* sizeEdit_;
    QLineEdit* blockSizeEdit_;
    QLineEdit* sectorSizeEdit_;
    QPushButton* nextButton_;
    QLabel* chainLabel_;
    QTreeWidget* chainList_;
    QList<QWidget*> informationWidgets_;

    QString chosenPath_;
    bool imageChosen_ = false;
    NextPageFactory nextPage_;
};

}  // namespace halvard::gui
