// The help pages that ship beside the compiled help file, in a window of the program's own: for
// desktops that have no viewer for the compiled file.
#pragma once

#include "layers/window.h"

#include <QString>
#include <QWidget>

class QTextBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT

public:
    // `index`: the first page, in the folder that holds the others and their pictures.
    HelpWindow(const QString& index, QWidget* parent = nullptr);

    QTextBrowser* pages = nullptr;
};
