#include "ui/fretboard.h"

#include "platform/appdir.h"
#include "platform/screenfit.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

Fretboard::Fretboard(QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Form1"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 255, 255));
    setPalette(pal);
    setAutoFillBackground(true);

    Picture1 = new QLabel(this);
    Picture1->setGeometry(8, 8, 682, 144);
    Picture1->setPixmap(QPixmap(platform::appFile(QStringLiteral("fretboard.bmp"))));

    Command2 = new QPushButton(QStringLiteral("Return to Clefwork"), this);
    Command2->setGeometry(275, 162, 148, 30);
    Command2->setStyleSheet(
        QStringLiteral("QPushButton { background-color: rgb(224,224,224); color: rgb(0,0,0); "
                       "border: 1px solid rgb(128,128,128); padding: 2px; }"
                       "QPushButton:pressed { background-color: rgb(200,200,200); }"));
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

    Timer1 = new QTimer(this);
    Timer2 = new QTimer(this);

    screenfit::fitOnScreen(this, QSize(698, 202));
}

void Fretboard::Command2_Click() {
    close();
}
