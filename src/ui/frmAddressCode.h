// The address as a QR code large enough to be scanned from across a desk, with the
// address written under it.
#pragma once

#include <QDialog>
#include <string>

class QLabel;

namespace quenloft {

class frmAddressCode : public QDialog {
    Q_OBJECT
public:
    explicit frmAddressCode(QWidget* owner);

    // Shows the code of `url`.
    void ShowAddress(const std::string& url);

private:
    QLabel* picCode;
    QLabel* lblAddress;
};

} // namespace quenloft
