#include "app/recovery_mode_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/widgets.h"

namespace halvard::gui {

RecoveryModePage::RecoveryModePage(ApplicationState& state, const VolumeRecord& volume, QWidget* parent)
    : WizardPage(state, tr("Choose how the volume is recovered"), parent),
      volume_(volume),
      choices_(recoveryModesFor(volume.fileSystem)) {
    setObjectName(QStringLiteral("RecoveryModePage"));

    auto* group = named(new QGroupBox(QStringLiteral("Select Recovery Mode"), this), "recoveryModeGroup");
    auto* groupLayout = new QVBoxLayout(group);
    standard_ = named(new QRadioButton(QStringLiteral("Standard"), group), "standardMode");
    advanced_ = named(new QRadioButton(QStringLiteral("Advanced"), group), "advancedMode");
    deep_ = named(new QRadioButton(QStringLiteral("Deep"), group), "deepMode");
    for (QRadioButton* button : {standard_, advanced_, deep_}) groupLayout->addWidget(button);
    connect(standard_, &QRadioButton::clicked, this, &RecoveryModePage::chooseStandard);
    connect(advanced_, &QRadioButton::clicked, this, &RecoveryModePage::chooseAdvanced);
    connect(deep_, &QRadioButton::clicked, this, &RecoveryModePage::chooseDeep);
    contentLayout()->addWidget(group);

    auto* inputs = new QGridLayout;
    limitLabel_ = named(new QLabel(QStringLiteral("Please Enter Max File Systems to Find :"), this), "limitLabel");
    limitEdit_ = named(new QLineEdit(this), "limitEdit");
    limitEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), limitEdit_));
    limitEdit_->setMaximumWidth(100);
    limitHint_ = named(new QLabel(QStringLiteral("( By  Default  it's  = 3 )"), this), "limitHint");
    formattedBox_ = named(new QCheckBox(QStringLiteral("Is Drive Formated..?"), this), "formattedBox");
    connect(formattedBox_, &QCheckBox::toggled, this,
            [this](bool checked) { this->state().formattedDriveFlag = checked ? 1 : 0; });
    inputs->addWidget(limitLabel_, 0, 0);
    inputs->addWidget(limitEdit_, 0, 1);
    inputs->addWidget(limitHint_, 0, 2);
    inputs->addWidget(formattedBox_, 1, 0, 1, 3);
    inputs->setColumnStretch(2, 1);
    contentLayout()->addLayout(inputs);
    contentLayout()->addStretch(1);
    contentLayout()->addWidget(new QLabel(QStringLiteral("Chose Any Recovery Mode And Click Next....."), this));

    addNavigationButton(QStringLiteral("Back"), "backButton", &RecoveryModePage::back);
    addNavigationButton(QStringLiteral("Next"), "nextButton", &RecoveryModePage::next);

    advanced_->setVisible(choices_.advanced);
    deep_->setVisible(choices_.deep);
    chooseStandard();
    setMainControl(standard_);
    resize(560, 420);
}

int RecoveryModePage::finderLimit() const {
    const int limit = limitEdit_->text().toInt();
    return limit < 1 ? 3 : limit;
}

void RecoveryModePage::showAdvancedInputs(bool visible, bool formattedChoice) {
    // Every mode change starts with the drive not marked formatted.
    formattedBox_->setChecked(false);
    state().formattedDriveFlag = 0;
    limitLabel_->setVisible(visible);
    limitEdit_->setVisible(visible);
    limitHint_->setVisible(visible);
    formattedBox_->setVisible(visible && formattedChoice);
}

void RecoveryModePage::chooseStandard() {
    showAdvancedInputs(false, false);
    standard_->setChecked(true);
    recoveryMode_ = ParseMode::Standard;
}

void RecoveryModePage::chooseAdvanced() {
    showAdvancedInputs(true, choices_.formattedChoice);
    advanced_->setChecked(true);
    recoveryMode_ = ParseMode::Advanced;
}

void RecoveryModePage::chooseDeep() {
    showAdvancedInputs(false, false);
    deep_->setChecked(true);
    recoveryMode_ = ParseMode::Deep;
}

void RecoveryModePage::next() {
    QWidget* following = nextPage_ ? nextPage_(*this) : nullptr;
    if (!following) return;
    handOverTo(following);
}

void RecoveryModePage::back() {
    handOverTo(parentWidget());
    deleteLater();
}

}  // namespace halvard::gui
