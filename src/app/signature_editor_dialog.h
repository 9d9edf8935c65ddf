#pragma once
// The signature editor: the fields of one signature definition, the signature file the entries go into, and Save,
// which appends one record to that file. Opened modally from the raw recovery page; what it writes takes effect
// at the next Parse of the file that holds it.
#include <QDialog>
#include <functional>
#include <memory>

#include "common/sinks.h"
#include "raw/signature_editor.h"

class QCheckBox;
class QFormLayout;
class QLineEdit;

namespace halvard::gui {

class QtMessageSink;

class SignatureEditorDialog : public QDialog {
    Q_OBJECT
public:
    // Asks for the signature file to write (the save dialog asks before replacing a file); empty when cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;

    explicit SignatureEditorDialog(QWidget* parent = nullptr);
    ~SignatureEditorDialog() override;

    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    // Null restores the real message boxes.
    void setMessageSink(MessageSink* sink);

    SignatureEditorInput input() const;

public slots:
    // "...": choose the output file and create it empty.
    void chooseOutputFile();
    // "Save": append one record made from the fields.
    void saveEntry();

private:
    QLineEdit* field(const char* name, const char* label, const char* help);

    std::unique_ptr<QtMessageSink> boxes_;
    MessageSink* messages_ = nullptr;
    FileChooser chooseFile_;
    SignatureFileWriter writer_;
    QLineEdit* extension_;
    QLineEdit* startSignature_;
    QLineEdit* startOffset_;
    QLineEdit* endSignature_;
    QLineEdit* endTrailer_;
    QLineEdit* sizeOffset_;
    QLineEdit* sizeLength_;
    QCheckBox* includesHeader_;
    QLineEdit* headerSize_;
    QLineEdit* skipSize_;
    QLineEdit* approxSize_;
    QLineEdit* category_;
    QLineEdit* outputPath_;
    QFormLayout* form_;
};

}  // namespace halvard::gui
