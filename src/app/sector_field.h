#pragma once
// Sector numbers as the user types them: digits only, up to the largest signed 64-bit value (disks past 2 TiB
// have sector numbers beyond 32 bits). An empty field reads as 0.
#include <QAbstractSpinBox>
#include <QValidator>
#include <cstdint>

namespace halvard::gui {

// The value of a sector field's text; 0 for an empty text or anything that is not a sector number.
std::int64_t sectorFromText(const QString& text);

// Accepts digits only, and only as long as the number fits.
class SectorValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override;
    static State check(const QString& input);
};

// A sector field with up and down arrows beside it. The arrows (and the Up and Down keys, and the wheel) change
// the value by 1; down stops at 0.
class SectorSpinBox : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit SectorSpinBox(QWidget* parent = nullptr);

    std::int64_t value() const { return sectorFromText(text()); }
    void setValue(std::int64_t value);
    void setText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& position) const override;

protected:
    StepEnabled stepEnabled() const override;
};

}  // namespace halvard::gui
