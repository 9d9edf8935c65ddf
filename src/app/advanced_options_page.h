#pragma once
// The advanced options page: opened by the recovery mode page in Advanced mode. It makes the volume's engine,
// runs its structure finders on a worker ($MFT records for NTFS, FAT copies for FAT12/16 and FAT32, FAT copies and
// cluster heaps for exFAT), lists what they found, and lets the user pick a found position, a cluster size and
// (exFAT) a heap offset. Next opens the browser page in advanced mode on the same engine, which this page keeps:
// Back from the browser comes here again, and Next parses anew with the same engine.
#include <QString>
#include <functional>
#include <memory>

#include "app/page_worker.h"
#include "app/wizard_page.h"
#include "app/worker_row.h"
#include "browser/volume_view.h"
#include "volume/volume_record.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace halvard::gui {

// The byte offset (from the volume's start) a found-position or heap item stands for.
inline constexpr int kOffsetRole = Qt::UserRole + 1;

class AdvancedOptionsPage : public WizardPage {
    Q_OBJECT
public:
    // Makes the browser page with this page as its parent, or null when none can be made.
    using NextPageFactory = std::function<QWidget*(AdvancedOptionsPage&)>;

    AdvancedOptionsPage(ApplicationState& state, const VolumeRecord& volume, int limit, QWidget* parent = nullptr);
    ~AdvancedOptionsPage() override;

    void setNextPageFactory(NextPageFactory factory) { nextPage_ = std::move(factory); }

    // Makes the engine and starts its finders, when the file system has them and an image is open.
    void start();

    const VolumeRecord& volume() const { return volume_; }
    bool finderRunning() const { return worker_->busy(); }
    // The engine, for the browser page to borrow; null when none was made.
    VolumeView* view() { return view_.get(); }
    // The three lists, for the browser page to copy.
    QComboBox* foundList() const { return foundList_; }
    QComboBox* clusterSizeList() const { return clusterSizeList_; }
    QComboBox* heapList() const { return heapList_; }

public slots:
    void stop();
    void next();
    void back();

protected:
    // Stops the finders and ends the application.
    void closeApplication() override;

private:
    void findersEnded(const std::shared_ptr<std::optional<AdvancedFindings>>& findings);
    void showLists(bool found, bool heap);

    VolumeRecord volume_;
    int limit_;
    std::unique_ptr<VolumeView> view_;
    StopFlag stopRequested_{0};
    NextPageFactory nextPage_;

    QLabel* foundLabel_;
    QComboBox* foundList_;
    QLabel* clusterSizeLabel_;
    QComboBox* clusterSizeList_;
    QLabel* heapLabel_;
    QComboBox* heapList_;
    WorkerRow workerRow_;
    QLabel* status_;
    QPushButton* backButton_;
    QPushButton* nextButton_;
    std::unique_ptr<PageWorker> worker_;
};

}  // namespace halvard::gui
