#include "app/sector_field.h"

#include <QLineEdit>
#include <algorithm>
#include <limits>

namespace halvard::gui {

namespace {
constexpr std::int64_t kLargestSector = std::numeric_limits<std::int64_t>::max();
}

std::int64_t sectorFromText(const QString& text) {
    if (SectorValidator::check(text) != QValidator::Acceptable || text.isEmpty()) return 0;
    return text.toLongLong();
}

QValidator::State SectorValidator::check(const QString& input) {
    for (const QChar c : input)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
    if (input.isEmpty()) return Acceptable;
    bool fits = false;
    input.toLongLong(&fits);
    return fits ? Acceptable : Invalid;
}

QValidator::State SectorValidator::validate(QString& input, int&) const { return check(input); }

SectorSpinBox::SectorSpinBox(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setAccelerated(true);
    setMinimumWidth(160);
}

void SectorSpinBox::setValue(std::int64_t value) { setText(QString::number(std::max<std::int64_t>(value, 0))); }

void SectorSpinBox::setText(const QString& text) {
    lineEdit()->setText(text);
    update();  // the arrows' enabled state follows the value
}

void SectorSpinBox::stepBy(int steps) {
    std::int64_t value = this->value();
    if (steps > 0)
        value = value > kLargestSector - steps ? kLargestSector : value + steps;
    else if (steps < 0)
        value = value < -static_cast<std::int64_t>(steps) ? 0 : value + steps;
    setValue(value);
}

QValidator::State SectorSpinBox::validate(QString& input, int&) const { return SectorValidator::check(input); }

QAbstractSpinBox::StepEnabled SectorSpinBox::stepEnabled() const {
    if (isReadOnly()) return StepNone;
    StepEnabled enabled = StepNone;
    const std::int64_t current = value();
    if (current < kLargestSector) enabled |= StepUpEnabled;
    if (current > 0) enabled |= StepDownEnabled;
    return enabled;
}

}  // namespace halvard::gui
