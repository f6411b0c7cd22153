#include "ui/opensign.h"

#include "platform/appdir.h"
#include "platform/msgbox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

opensign::opensign(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), main_(mainWindow) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Clefwork"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 192));
    setPalette(pal);
    setAutoFillBackground(true);
    Picture1 = new QLabel(this);
    Picture1->setGeometry(0, 0, 405, 279);
    Picture1->setPixmap(QPixmap(platform::appFile(QStringLiteral("intro.bmp"))));
    setFixedSize(405, 279);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    Timer1 = new QTimer(this);
    Timer2 = new QTimer(this);
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
    Form_Load();
}

void opensign::Form_Load() {
    Timer2->setInterval(1);
    Timer2->start();
}

void opensign::Timer2_Timer() {
    Timer2->stop();
    if (main_ != nullptr) {
        main_->show();
    }
    // What the load had to say shows now, over the main window, once the intro has gone.
    QTimer::singleShot(0, main_ != nullptr ? static_cast<QObject*>(main_.data()) : qApp,
                       [over = main_] { platform::releaseMessages(over.data()); });
    close();
}
