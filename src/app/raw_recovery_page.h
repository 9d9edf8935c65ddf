#pragma once
// The raw recovery page: loads signature definitions (the default FileSetting.txt and, optionally, a file of the
// user's), scans the chosen volume with the carving engine on a worker, shows the carved files in a tree grouped
// by category (and, for a clicked category, in a list), and saves the ticked ones into a folder.
//
// Each visit scans once: Parse stays disabled after it. While a scan or a save runs, Back, Save, Setting and the
// signature file controls are disabled, so the page and its engine outlive the work.
#include <QString>
#include <functional>
#include <memory>

#include "app/page_worker.h"
#include "app/wizard_page.h"
#include "app/worker_row.h"
#include "common/worker.h"
#include "raw/carving_engine.h"
#include "volume/volume_record.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace halvard::gui {

class RawResultTree;

class RawRecoveryPage : public WizardPage {
    Q_OBJECT
public:
    // Choosers return an empty text when cancelled.
    using Chooser = std::function<QString(QWidget* parent)>;
    // Opens the signature editor (modal).
    using EditorOpener = std::function<void(QWidget* parent)>;

    RawRecoveryPage(ApplicationState& state, const VolumeRecord& volume, const QString& imagePath, bool imageChosen,
                      QWidget* parent = nullptr);
    ~RawRecoveryPage() override;

    void setSignatureFileChooser(Chooser chooser) { chooseSignatureFile_ = std::move(chooser); }
    void setFolderChooser(Chooser chooser) { chooseFolder_ = std::move(chooser); }
    void setEditorOpener(EditorOpener opener) { openEditor_ = std::move(opener); }
    // Where the default signature file is looked for (the program's folder unless changed).
    void setDefaultSignaturePath(const QString& path);

    bool working() const { return worker_->busy(); }
    const CarvingEngine* engine() const { return engine_.get(); }
    RawResultTree& resultTree() { return *tree_; }

public slots:
    void parse();
    void chooseSignatureFile();
    void openSettings();
    void save();
    void pause() { worker_->pause(); }
    void resume() { worker_->resume(); }
    void stop();
    void back();

protected:
    // Stops a running scan and ends the application.
    void closeApplication() override;

private:
    // The end of a Parse that does not scan.
    void parseEnded(bool enableFileControls);
    void categoryClicked(QTreeWidgetItem* item);
    std::vector<CarveResult> tickedResults() const;
    bool loadInto(const QString& path, bool userFile);

    VolumeRecord volume_;
    QString imagePath_;
    bool imageChosen_ = false;
    QString defaultPath_;
    std::unique_ptr<CarvingEngine> engine_;
    DevicePtr carvedVolume_;  // the volume the engine scans, its results read from it
    std::unique_ptr<RawResultTree> tree_;
    StopFlag stopRequested_{0};
    Chooser chooseSignatureFile_;
    Chooser chooseFolder_;
    EditorOpener openEditor_;

    QLineEdit* pathEdit_;
    QPushButton* browseButton_;
    QPushButton* parseButton_;
    QCheckBox* loadDefault_;
    QPushButton* settingButton_;
    QTreeWidget* treeWidget_;
    QListWidget* list_;
    WorkerRow workerRow_;
    QLabel* status_;
    QPushButton* backButton_;
    QPushButton* saveButton_;
    std::unique_ptr<PageWorker> worker_;
};

}  // namespace halvard::gui
