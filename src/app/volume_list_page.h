#pragma once
// The volume list page. On entry it opens the image through a fresh active reader and runs the scan chosen on
// the parsing-modes page: the standard scan of the partition tables on the user-interface thread, or the
// advanced scan of the whole disk on a worker. It lists the volumes found, lets the user filter the list, add a
// hand-made volume, or override a volume's start, end and file-system type, and Next hands the chosen volume to
// the page that recovers from it.
//
// While the advanced scan runs, Back, Next, "Filter Entries" and "Add Custom Volume" stay disabled, also after
// Stop: Stop only asks the scan to end, and Back comes back with the scan's end steps. Closing the application
// during the scan stops it first and ends once the scan has left. So the page and its records always outlive the
// scan; a page destroyed regardless (its parent going) stops the scan and waits for it.
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/page_worker.h"
#include "app/wizard_page.h"
#include "volume/partition.h"
#include "volume/volume_record.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace halvard::gui {

class SectorSpinBox;

enum class ScanMode : std::int32_t { Standard = 1, Advanced = 2 };

// The choices of the parsing-modes page, as the volume list page receives them.
struct ScanChoices {
    QString imagePath;
    bool imageChosen = false;  // an image was chosen with the image page's browse button
    ScanMode scanMode = ScanMode::Standard;
    bool gptFlag = false;
    bool doNotSkipFlag = false;    // advanced scan: go on inside each volume found
    std::int64_t startSector = 0;  // advanced scan range; 0 = not set
    std::int64_t endSector = 0;
};

class VolumeListPage : public WizardPage {
    Q_OBJECT
public:
    // The page Next leads to: the recovery mode page for a file-system volume, the raw recovery page for a volume
    // treated as "RAW".
    enum class NextTarget { RecoveryMode, RawRecovery };
    // Makes that page with this page as its parent; it reads selectedVolume() and the image path from here.
    // Null leaves this page where it is.
    using NextPageFactory = std::function<QWidget*(VolumeListPage&, NextTarget)>;

    VolumeListPage(ApplicationState& state, const ScanChoices& choices, QWidget* parent = nullptr);
    ~VolumeListPage() override;

    void setNextPageFactory(NextPageFactory factory) { nextPage_ = std::move(factory); }

    // Runs the chosen scan. The standard scan has ended when this returns; the advanced one runs on.
    void startScan();

    const ScanChoices& choices() const { return choices_; }
    const QString& imagePath() const { return choices_.imagePath; }
    // The volume chosen with Next; it stays in place until the list is emptied (filter, Back) or the page goes.
    VolumeRecord* selectedVolume() const { return selectedVolume_; }
    // Every volume of the last scan plus the hand-made ones, in order.
    const std::vector<VolumeRecord>& records() const { return records_; }
    bool scanning() const { return worker_->busy(); }

public slots:
    void stop();
    void filterEntries();
    void addCustomVolume();
    void next();
    void back();

protected:
    // Ends the application, after a scan in progress has stopped.
    void closeApplication() override;

private:
    void standardScan();
    void advancedScan();
    void advancedScanEnded();
    // Replaces the active reader when an image was chosen on the image page.
    void renewReader();

    // The list. Each row refers to a record the page owns, so that the rows and selectedVolume stay valid
    // however the records vector grows.
    void clearList();
    void addListItem(const VolumeRecord& record, bool atTop);
    VolumeRecord* recordOfRow(int row) const;
    int selectedRow() const;
    void selectionChanged();
    void itemClicked(int row);
    void setCustomControlsEnabled(bool enabled);
    void showScanControls(bool visible);

    ScanChoices choices_;
    std::vector<VolumeRecord> records_;
    std::vector<std::unique_ptr<VolumeRecord>> listed_;
    VolumeRecord* selectedVolume_ = nullptr;
    std::unique_ptr<Partition> scanner_;
    StopFlag stopRequested_{0};  // the page's own record of Stop, passed on to the scan (see StopRelay)
    std::unique_ptr<ProgressSink> scanProgress_;
    bool customApplied_ = false;
    bool endWhenIdle_ = false;
    NextPageFactory nextPage_;

    QTableWidget* list_;
    QPushButton* filterButton_;
    QPushButton* addButton_;
    QCheckBox* customBox_;
    QLabel* selectedLabel_;
    QLabel* selectedName_;
    QLabel* startLabel_;
    SectorSpinBox* startEdit_;
    QLabel* endLabel_;
    SectorSpinBox* endEdit_;
    QLabel* treatAsLabel_;
    QComboBox* treatAs_;
    QProgressBar* progress_;
    QLabel* status_;
    QPushButton* stopButton_;
    QPushButton* backButton_;
    QPushButton* nextButton_;
    std::unique_ptr<PageWorker> worker_;  // made once the controls it reports to exist
};

}  // namespace halvard::gui
