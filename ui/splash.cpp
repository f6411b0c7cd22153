#include "ui/splash.h"

#include "platform/appdir.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kMajor = 1;
constexpr int kMinor = 0;
constexpr int kRevision = 0;

QLabel* text(QWidget* parent, const QString& s, int x, int y, int w, int h, int pointSize,
             bool bold = false) {
    auto* label = new QLabel(s, parent);
    label->setGeometry(x, y, w, h);
    QFont f = label->font();
    f.setPointSize(pointSize);
    f.setBold(bold);
    label->setFont(f);
    label->setWordWrap(true);
    return label;
}

} // namespace

frmSplash::frmSplash(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("About Clefwork"));

    Frame1 = new QFrame(this);
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Raised);
    Frame1->setLineWidth(2);
    Frame1->setGeometry(6, 6, 528, 288);

    imgLogo = new QLabel(Frame1);
    imgLogo->setGeometry(12, 16, 179, 253);
    imgLogo->setPixmap(QPixmap(platform::appFile(QStringLiteral("aboutlogo.bmp"))));

    lblProductName = text(Frame1, QStringLiteral("Clefwork"), 206, 16, 300, 40, 22, true);
    lblCompanyProduct = text(Frame1, QStringLiteral("for the bass guitar"), 206, 58, 300, 22, 12);
    lblPlatform = text(Frame1, QStringLiteral("Win 98 and above."), 206, 84, 300, 20, 10);
    lblVersion = text(Frame1, QString(), 206, 106, 300, 20, 10, true);
    lblCopyright = text(Frame1, QStringLiteral("Copyright \u00A9 the Clefwork developers."), 206,
                        138, 310, 20, 9);
    lblLicence = text(Frame1,
                      QStringLiteral("Free software: share and change it under the licence "
                                     "that comes with it."),
                      206, 160, 310, 36, 9);
    lblThanks = text(Frame1,
                     QStringLiteral("Thank you to every bass player who tried it out and told "
                                    "us what to mend."),
                     206, 200, 310, 36, 9);

    Command1 = new QPushButton(QStringLiteral("OK"), Frame1);
    Command1->setGeometry(420, 244, 92, 28);
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    setFixedSize(540, 300);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    // The window hears every key and every click on the frame before its controls do.
    Frame1->installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
    installEventFilter(this);

    Form_Load();
}

void frmSplash::Form_Load() {
    lblVersion->setText(QStringLiteral("Version %1.%2.%3").arg(kMajor).arg(kMinor).arg(kRevision));
}

void frmSplash::Command1_Click() {
    unload();
}
void frmSplash::Frame1_Click() {
    unload();
}
void frmSplash::Form_KeyPress() {
    unload();
}

void frmSplash::unload() {
    close();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
        // Any key that produces a character closes the window; Shift, arrows and the like
        // alone do not.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->text().isEmpty()) {
            if (event->type() == QEvent::KeyPress) {
                Form_KeyPress();
            } else {
                event->accept(); // so the key arrives as a key press, not as a shortcut
            }
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (watched == Frame1) {
            Frame1_Click();
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}
