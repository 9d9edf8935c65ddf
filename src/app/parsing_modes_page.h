#pragma once
// The parsing-modes page: shows the chosen image, lets the user choose how volumes are found (the standard scan
// of the partition tables, or the advanced scan of the whole disk with its options), and offers the export of the
// whole virtual disk into a flat raw image. Next makes the volume list page and hands it the choices.
//
// The export runs on a worker. While it runs, Next, Back, "Save Image" and "Save Disk Image" are disabled, so
// the page cannot go away under it; closing the application meanwhile stops the export first and ends once it
// has left.
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "app/volume_list_page.h"
#include "app/wizard_page.h"
#include "common/worker.h"
#include "image/disk_export.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace halvard::gui {

class PageWorker;
class ImagePage;

// What the image page hands over: its path field and the three value fields as the user left them.
struct ImageHandover {
    QString imagePath;
    QString diskSizeText;           // MiB
    QString blockSizeText;          // bytes
    QString logicalSectorSizeText;  // bytes
    bool imageChosen = false;

    static ImageHandover from(const ImagePage& page);
};

// The overrides the value fields make: the disk size in bytes, the block size and the logical sector size.
// An empty or non-numeric field, or a value too large to be one, gives 0: no override.
ImageOverrides overridesFrom(const ImageHandover& handover);

inline constexpr const char* kStopQuestion = "Are you sure to stop the running process?";

class ParsingModesPage : public WizardPage {
    Q_OBJECT
public:
    // Shows the folder chooser; an empty text when none was chosen.
    using FolderChooser = std::function<QString(QWidget* parent)>;
    // Makes the volume list page with this page as its parent. Null when it cannot be made.
    using NextPageFactory = std::function<VolumeListPage*(ParsingModesPage&, const ScanChoices&)>;

    ParsingModesPage(ApplicationState& state, const ImageHandover& handover, QWidget* parent = nullptr);
    ~ParsingModesPage() override;

    void setFolderChooser(FolderChooser chooser);
    // Without a factory, Next makes a plain volume list page.
    void setNextPageFactory(NextPageFactory factory) { nextPage_ = std::move(factory); }

    // The choices as Next hands them over.
    ScanChoices scanChoices() const;
    const QString& imagePath() const { return handover_.imagePath; }
    const QString& outputPath() const { return outputPath_; }
    bool exporting() const;
    // The volume list page Next made last, while it exists.
    VolumeListPage* volumeListPage() const { return volumeListPage_; }

public slots:
    void chooseStandardScan();
    void chooseAdvanceScan();
    // "Save Image": choose the output and start the export.
    void saveImage();
    // "Stop": asks, and on Yes lets the export end after the chunk in progress.
    void stopExport();
    void next();
    void back();

protected:
    // Ends the application, after an export in progress has stopped.
    void closeApplication() override;

private:
    void startExport();
    void exportEnded(const ExportResult& result);
    void setExportControlsEnabled(bool enabled);
    void showExportProgress(bool visible);

    ImageHandover handover_;
    QString outputPath_;
    StopFlag stopRequested_{0};
    bool endWhenIdle_ = false;
    FolderChooser chooseFolder_;
    NextPageFactory nextPage_;
    QPointer<VolumeListPage> volumeListPage_;

    QLabel* imagePathValue_;
    QRadioButton* standardScan_;
    QRadioButton* advanceScan_;
    QCheckBox* gptBox_;
    QCheckBox* doNotSkipBox_;
    QCheckBox* customBox_;
    QLabel* startLabel_;
    QLineEdit* startEdit_;
    QLabel* endLabel_;
    QLineEdit* endEdit_;
    QLabel* status_;
    QCheckBox* saveDiskImageBox_;
    QLineEdit* outputEdit_;
    QPushButton* saveImageButton_;
    QProgressBar* progress_;
    QPushButton* stopButton_;
    QPushButton* backButton_;
    QPushButton* nextButton_;
    std::unique_ptr<PageWorker> worker_;  // made once the controls it reports to exist
};

}  // namespace halvard::gui
