#include "ui/weblink.h"

#include "platform/appdir.h"
#include "platform/msgbox.h"
#include "platform/shell.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QCursor>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>

namespace {

// The 32 x 32 two-colour pointing hand, its hot spot on the finger tip.  Black in the picture
// is the outline, white the fill; the mask is black where the hand is opaque.
QCursor pointingHand() {
    const QImage picture(platform::appFile(QStringLiteral("hand.bmp")));
    const QImage mask(platform::appFile(QStringLiteral("handmask.bmp")));
    if (picture.isNull() || mask.isNull() || picture.size() != mask.size()) {
        return QCursor(Qt::PointingHandCursor);
    }
    const auto mono = [](const QImage& image) {
        return QBitmap::fromImage(image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither));
    };
    return QCursor(mono(picture), mono(mask), 9, 3);
}

// A failure within the link click: an error number in the classic numbering and its text.
struct Failure {
    int number;
    QString description;
};

const Failure kFileAccess{75, QStringLiteral("Path/File access error")};

} // namespace

WebLink::WebLink(const QString& caption, const QString& pageAddress, QWidget* parent)
    : QWidget(parent, Qt::Window), page(pageAddress) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    setFixedSize(420, 110);

    Label1 =
        new QLabel(QStringLiteral("Click the Hyperlink to launch the default web browser."), this);
    Label1->setGeometry(12, 14, 396, 24);
    Label1->setAlignment(Qt::AlignCenter);

    Label2 = new QLabel(page, this);
    Label2->setGeometry(12, 56, 396, 28);
    Label2->setAlignment(Qt::AlignCenter);
    QFont f = Label2->font();
    f.setPointSize(12);
    Label2->setFont(f);
    Label2->setCursor(pointingHand());
    Label2->installEventFilter(this);

    Form_Load();
}

void WebLink::setLinkColour(const QColor& colour) {
    QPalette pal = Label2->palette();
    pal.setColor(QPalette::WindowText, colour);
    Label2->setPalette(pal);
}

void WebLink::Form_Load() {
    setLinkColour(QColor(0, 0, 255));
    QFont f = Label2->font();
    f.setUnderline(true);
    Label2->setFont(f);
}

void WebLink::Label2_MouseDown() {
    setLinkColour(QColor(255, 255, 0));
}

void WebLink::Label2_MouseUp() {
    setLinkColour(QColor(255, 0, 0));
}

bool WebLink::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label2) {
        if (event->type() == QEvent::MouseButtonPress) {
            Label2_MouseDown();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            Label2_MouseUp();
            // A click is a release over the link; the click may close this window.
            if (Label2->rect().contains(mouse->position().toPoint())) {
                Label2_Click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void WebLink::Label2_Click() {
    const QString temp = platform::appFile(kTempName);
    const auto fail = [&](const Failure& failure) {
        if (QFile::exists(temp)) {
            QFile::remove(temp);
        }
        platform::messageBox(
            QStringLiteral("An error has occured, please report this to you lowly programmer") +
            QStringLiteral("\r\nError Number: ") + QString::number(failure.number) +
            QStringLiteral("\r\nError description: ") + failure.description);
    };

    // An empty file of the type whose program we want; an existing one is used as it is.
    {
        QFile file(temp);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            fail(kFileAccess);
            return;
        }
    }
    QString browser;
    const int found = platform::shell().findExecutable(kTempName, platform::appDir(), browser);
    if (!QFile::remove(temp)) {
        fail(kFileAccess);
        return;
    }

    if (found == 0) {
        platform::messageBox(
            QStringLiteral("Sorry out of memory, please close some programs and try again."));
        return;
    }
    if (found >= 1 && found <= 30) {
        platform::messageBox(QStringLiteral("Error Number: ") + QString::number(found));
        return;
    }
    if (found == 31) {
        platform::messageBox(QStringLiteral("Unable to find Web Browser."));
        return;
    }
    if (found < 0) {
        // Not a number the shell gives; treat it as the failure it is.
        platform::messageBox(QStringLiteral("Error Number: ") + QString::number(found));
        return;
    }

    // The browser's file name, without its folder.
    const qsizetype cut =
        std::max(browser.lastIndexOf(QLatin1Char('/')), browser.lastIndexOf(QLatin1Char('\\')));
    Label1->setText(QStringLiteral("Launching ") + browser.mid(cut + 1));
    Label1->repaint();
    QCoreApplication::processEvents();

    const int launched = platform::shell().execute(QStringLiteral("Open"), page);
    if (launched <= 31) {
        Label1->setText(QStringLiteral("Error"));
        platform::messageBox(QStringLiteral("Unable to launch Web Browser."));
    }
    close();
}

Form2::Form2(QWidget* parent) : WebLink(QStringLiteral("Hyperspace Jump Portal"), kPage, parent) {}

webber::webber(QWidget* parent)
    : WebLink(QStringLiteral("HyperSpace Jump Portal"), kPage, parent) {}
