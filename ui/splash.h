// The About window: the product's name and version in one frame.  It closes on its OK button, a
// click on the frame, or the first key that produces a character.
#pragma once

#include "layers/window.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class frmSplash : public QDialog {
    Q_OBJECT

public:
    explicit frmSplash(QWidget* parent = nullptr);

    QFrame* Frame1 = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblProductName = nullptr;
    QLabel* lblCompanyProduct = nullptr;
    QLabel* lblPlatform = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* lblLicence = nullptr;
    QLabel* lblThanks = nullptr;
    QPushButton* Command1 = nullptr;

    void Form_Load();
    void Command1_Click();
    void Frame1_Click();
    void Form_KeyPress();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void unload();
};
