#include "app/signature_editor_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_sinks.h"

namespace halvard::gui {

namespace {

QString defaultChooser(QWidget* parent) {
    return QFileDialog::getSaveFileName(parent, QString(), QString(), QStringLiteral("Text Files (*.txt)"));
}

}  // namespace

SignatureEditorDialog::SignatureEditorDialog(QWidget* parent)
    : QDialog(parent), boxes_(std::make_unique<QtMessageSink>(this)), messages_(boxes_.get()),
      chooseFile_(&defaultChooser) {
    setWindowTitle(QString::fromLatin1(kProductName));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    form_ = new QFormLayout;
    layout->addLayout(form_);
    extension_ = field("extension", "File Extention :",
                       "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before "
                       "extention(i.e .mp3)");
    startSignature_ = field("startSignature", "Starting Signature :",
                            "here enter the file signature that happens to be in the starting of the file.\n "
                            "example 0x89,0x50,0x4E,0x47  for png File");
    startOffset_ = field("startOffset", "Starting Signature Offset:",
                         "Here enter offset of starting signature in File.Value should be less than 512.By default "
                         "its zero.");
    endSignature_ = field("endSignature", "Ending Signature :",
                          "here enter the file signature that happens to be in the end of the file.\n Example "
                          "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can "
                          "leave it if you dont know .");
    endTrailer_ = field("endTrailer", "Bytes After Ending Signature :",
                        "how many bytes of the file follow its ending signature (18 for zip files).\n its optional "
                        "Field .you can leave it if you don't know.");
    sizeOffset_ = field("sizeOffset", "Offset to Size Byte :",
                        "if  the size of file is given in the header and you know its offset please enter that "
                        "offset here.\n its optional Field .you can leave it if you don't know.");
    sizeLength_ = field("sizeLength", "Number Of Bytes In Size :",
                        "if  you know how many bytes represents size please enter that number of bytes  here.\n "
                        "its optional Field .you can leave it ifyou  don't know.");
    includesHeader_ = new QCheckBox(QStringLiteral("Size includes header size"));
    includesHeader_->setObjectName(QStringLiteral("includesHeader"));
    includesHeader_->setToolTip(QStringLiteral(
        "check this checkbox if the size alkso includes the header size else leave it.\n its optional Field .you "
        "can leave it if you don't know."));
    form_->addRow(QString(), includesHeader_);
    headerSize_ = field("headerSize", "Header size :",
                        "please enter the header size in bytes here.\n its optional Field .you can leave it if you "
                        "don't know.");
    skipSize_ = field("skipSize", "Size_to_skip_WhileParsing :",
                      "when we find the file signature you mentioned  above we can skip further file scanning by an "
                      "amount you enter here.\n For example mp3 are generally greater then 2 mb .so you can enter "
                      "2097152 bytes here.\n its optional Field .you can leave it .");
    approxSize_ = field("approxSize", "Approx file size :",
                        "Enter approx file size here.\n its optional Field .you can leave it if you don't know.");
    category_ = field("category", "Put Under Category :",
                      "Enter the name of category you want to put these files under");
    startOffset_->setText(QStringLiteral("0"));

    auto* group = new QGroupBox(QStringLiteral("Select Path to Save Entries"));
    auto* row = new QHBoxLayout(group);
    outputPath_ = new QLineEdit;
    outputPath_->setObjectName(QStringLiteral("outputPath"));
    outputPath_->setReadOnly(true);
    auto* browse = new QPushButton(QStringLiteral("..."));
    browse->setObjectName(QStringLiteral("browse"));
    auto* save = new QPushButton(QStringLiteral("Save"));
    save->setObjectName(QStringLiteral("save"));
    row->addWidget(outputPath_);
    row->addWidget(browse);
    row->addWidget(save);
    layout->addWidget(group);
    connect(browse, &QPushButton::clicked, this, &SignatureEditorDialog::chooseOutputFile);
    connect(save, &QPushButton::clicked, this, &SignatureEditorDialog::saveEntry);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

SignatureEditorDialog::~SignatureEditorDialog() = default;

void SignatureEditorDialog::setMessageSink(MessageSink* sink) { messages_ = sink ? sink : boxes_.get(); }

QLineEdit* SignatureEditorDialog::field(const char* name, const char* label, const char* help) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    edit->setToolTip(QString::fromLatin1(help));
    form_->addRow(QString::fromLatin1(label), edit);
    return edit;
}

SignatureEditorInput SignatureEditorDialog::input() const {
    SignatureEditorInput in;
    in.extension = extension_->text().toStdString();
    in.startSignature = startSignature_->text().toStdString();
    in.startSignatureOffset = startOffset_->text().toStdString();
    in.endSignature = endSignature_->text().toStdString();
    in.endTrailerLength = endTrailer_->text().toStdString();
    in.sizeFieldOffset = sizeOffset_->text().toStdString();
    in.sizeFieldLength = sizeLength_->text().toStdString();
    in.sizeIncludesHeader = includesHeader_->isChecked();
    in.headerSize = headerSize_->text().toStdString();
    in.skipSize = skipSize_->text().toStdString();
    in.approxFileSize = approxSize_->text().toStdString();
    in.category = category_->text().toStdString();
    return in;
}

void SignatureEditorDialog::chooseOutputFile() {
    const QString path = chooseFile_ ? chooseFile_(this) : QString();
    if (path.isEmpty()) {
        messages_->information("File can not be created");
        return;
    }
    // A file that cannot be created leaves no path; Save then asks for a valid file.
    outputPath_->clear();
    if (writer_.create(QFile::encodeName(path).toStdString())) outputPath_->setText(path);
}

void SignatureEditorDialog::saveEntry() { writer_.append(input(), Reporting{nullptr, nullptr, messages_}); }

}  // namespace halvard::gui
