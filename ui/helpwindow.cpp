#include "ui/helpwindow.h"

#include "platform/screenfit.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(const QString& index, QWidget* parent) : QWidget(parent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Clefwork Help"));

    auto* back = new QPushButton(QStringLiteral("Back"), this);
    auto* home = new QPushButton(QStringLiteral("Contents"), this);
    pages = new QTextBrowser(this);
    // Pages link to one another and to their pictures by relative names; links out of the help
    // go to the desktop's browser.
    pages->setOpenExternalLinks(true);
    pages->setSearchPaths({QFileInfo(index).absolutePath()});
    pages->setSource(QUrl::fromLocalFile(QFileInfo(index).absoluteFilePath()));
    back->setEnabled(false);
    connect(pages, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, pages, &QTextBrowser::backward);
    connect(home, &QPushButton::clicked, pages, &QTextBrowser::home);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(home);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(pages, 1);

    screenfit::fitOnScreen(this, QSize(820, 700));
}
