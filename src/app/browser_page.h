#pragma once
// The browser page: parses the chosen volume on a worker, then shows its folder tree (filled on demand: a folder's
// children come in when it is expanded or its label is clicked) and the files of the clicked folder with their
// times, sizes and attributes. It searches names, saves the selected folder, and extracts a double-clicked file.
//
// Who reads the engine's entries when: the parse runs on the worker into a tree of its own (a MemoryTree), and the
// recycle-bin pass renames entries after it; only when the worker has ended do the end steps, on the
// user-interface thread, copy that tree into the page's tree. Until then the page's tree is empty, so nothing the
// user does reaches the entries while the worker changes them. After the parse the entries no longer change:
// searches, saves and the user-interface thread only read them (the engines serialise their reads of the image),
// and only one worker runs at a time (a second start is refused while one runs).
#include <QString>
#include <functional>
#include <memory>

#include "app/page_worker.h"
#include "app/wizard_page.h"
#include "app/worker_row.h"
#include "browser/browser_tree.h"
#include "browser/save_walk.h"
#include "browser/volume_view.h"
#include "common/memory_tree.h"
#include "volume/volume_record.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidgetItem;

namespace halvard::gui {

class BrowserTree;
class CheckedList;
class QtTreeControl;

inline constexpr const char* kWaitForProcess = "Please wait for the running process.";
inline constexpr const char* kSelectToSave = "Select a folder or a file in the tree to save it.";

class BrowserPage : public WizardPage {
    Q_OBJECT
public:
    // Shows the folder chooser; an empty text when none was chosen.
    using FolderChooser = std::function<QString(QWidget* parent)>;

    BrowserPage(ApplicationState& state, const VolumeRecord& volume, ParseMode mode, QWidget* parent = nullptr);
    ~BrowserPage() override;

    void setFolderChooser(FolderChooser chooser);

    // Advanced mode: the engine is the advanced options page's, and the page's three lists (found positions,
    // cluster sizes, heap offsets) are copied, items and selection, into hidden lists of this page.
    void borrowAdvanced(VolumeView* view, const QComboBox* found, const QComboBox* clusterSizes, const QComboBox* heaps);

    // Picks the engine for the volume's file system (in advanced mode: the borrowed one) and starts its parse.
    void start();

    bool parseRunning() const { return parseRunning_; }
    bool workerBusy() const { return worker_->busy(); }
    bool showingSearchResults() const { return showingSearchResults_; }
    const QString& outputFolder() const { return outputFolder_; }
    QtTreeControl& treeControl() { return *treeControl_; }
    const VolumeView* view() const { return view_; }

public slots:
    void stop();
    void back();
    // Saves the folder selected in the tree into a folder the user picks.
    void save();
    void search();

    void labelClicked(QTreeWidgetItem* item);
    void itemExpanded(QTreeWidgetItem* item);
    void itemDoubleClicked(QTreeWidgetItem* item);

protected:
    // Stops the work and ends the application.
    void closeApplication() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void parseEnded();
    // Starts `body` with the worker controls shown; refused with a message while other work runs.
    bool startWork(std::function<void()> body, std::function<void()> endSteps);
    void workEnded();
    void showRows(const std::vector<ListRow>& rows);
    void addRow(const ListRow& row);
    void fitNameColumn();
    void rowCheckToggled(int row, bool checked);
    void greyTree(bool grey);
    void extractFile(EntryId file);
    bool chooseOutputFolder();
    void reportSaveFailures(const SaveSummary& summary);
    StopPoll stopPoll();

    VolumeRecord volume_;
    ParseMode recoveryMode_;
    std::unique_ptr<VolumeView> ownView_;  // the engine this page made (standard and deep modes)
    VolumeView* view_ = nullptr;           // the engine in use: its own, or the advanced page's
    ParseTexts texts_;
    std::unique_ptr<MemoryTree> parsedTree_;  // the worker's while it parses
    bool parseOk_ = false;                    // written by the parse worker, read in its end steps
    StopFlag stopRequested_{0};
    bool parseRunning_ = false;
    bool showingSearchResults_ = false;
    QString outputFolder_;
    FolderChooser chooseFolder_;

    QLineEdit* volumeData_;
    QComboBox* foundList_;        // hidden: the advanced page's lists
    QComboBox* clusterSizeList_;
    QComboBox* heapList_;
    BrowserTree* tree_;
    std::unique_ptr<QtTreeControl> treeControl_;
    CheckedList* list_;
    QLineEdit* searchEdit_;
    QPushButton* searchButton_;
    WorkerRow workerRow_;
    QLabel* status_;
    QLabel* fileSize_;
    QPushButton* backButton_;
    QPushButton* saveButton_;
    std::unique_ptr<QtStatusSink> fileSizeSink_;
    std::unique_ptr<PageWorker> worker_;  // made once the controls it reports to exist
};

}  // namespace halvard::gui
