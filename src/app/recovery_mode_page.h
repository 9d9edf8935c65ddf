#pragma once
// The recovery mode page: the user chooses how the selected volume is parsed (Standard, Advanced or Deep; the
// choices offered depend on its file system), the number of file systems the advanced finders look for, and
// whether the drive was formatted (FAT, with Advanced). Next opens the page that parses the volume.
#include <QString>
#include <functional>

#include "browser/recovery_modes.h"
#include "browser/volume_view.h"
#include "volume/volume_record.h"
#include "app/wizard_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace halvard::gui {

class RecoveryModePage : public WizardPage {
    Q_OBJECT
public:
    // Makes the page that follows with this page as its parent, or null when none can be made.
    using NextPageFactory = std::function<QWidget*(RecoveryModePage&)>;

    RecoveryModePage(ApplicationState& state, const VolumeRecord& volume, QWidget* parent = nullptr);

    void setNextPageFactory(NextPageFactory factory) { nextPage_ = std::move(factory); }

    const VolumeRecord& volume() const { return volume_; }
    ParseMode recoveryMode() const { return recoveryMode_; }
    // The advanced finders' limit: the number entered, 3 when it is empty or below 1.
    int finderLimit() const;

public slots:
    void chooseStandard();
    void chooseAdvanced();
    void chooseDeep();
    void next();
    void back();

private:
    void showAdvancedInputs(bool visible, bool formattedChoice);

    VolumeRecord volume_;
    RecoveryModeChoices choices_;
    ParseMode recoveryMode_ = ParseMode::Standard;
    NextPageFactory nextPage_;

    QRadioButton* standard_;
    QRadioButton* advanced_;
    QRadioButton* deep_;
    QLabel* limitLabel_;
    QLineEdit* limitEdit_;
    QLabel* limitHint_;
    QCheckBox* formattedBox_;
};

}  // namespace halvard::gui
