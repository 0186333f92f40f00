#include "ui/frmAddressCode.h"

#include "ui/modDesktop.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quenloft {

namespace {

// Ten pixels a module and the margin of four modules that readers expect: a code of an
// address is 330 to 410 pixels wide.
constexpr int ModulePixels = 10;
constexpr int QuietModules = 4;

} // namespace

// Escape or "&Close" closes it; it stays with the main window, above it.
frmAddressCode::frmAddressCode(QWidget* owner) : QDialog(owner) {
    setWindowTitle("Quenloft: open on a phone");
    setFont(DialogFont());
    picCode = new QLabel(this);
    picCode->setObjectName("picCode");
    picCode->setAlignment(Qt::AlignCenter);
    lblAddress = new QLabel(this);
    lblAddress->setObjectName("lblAddress");
    lblAddress->setAlignment(Qt::AlignCenter);
    lblAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hint = new QLabel("Scan the code with the camera of a phone or a tablet on the same "
                            "network to open the address.",
                            this);
    hint->setWordWrap(true);
    auto* cmdClose = new QPushButton("&Close", this);
    cmdClose->setObjectName("cmdClose");
    cmdClose->setDefault(true);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picCode);
    layout->addWidget(lblAddress);
    layout->addWidget(hint);
    layout->addWidget(cmdClose, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void frmAddressCode::ShowAddress(const std::string& url) {
    picCode->setPixmap(QRPixmap(EncodeQR(url), ModulePixels, QuietModules));
    lblAddress->setText(QString::fromStdString(url));
    picCode->setToolTip(QString::fromStdString(url));
}

} // namespace quenloft
