// The Sound dialog: which soundfont the built-in synthesiser plays.  It lists the soundfonts
// installed in Debian's folders and any file picked by hand, and shows the one in use; the window
// loads the one chosen (stavebass::soundchoice_Click).
#pragma once

#include "layers/window.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

class SoundDialog : public QDialog {
    Q_OBJECT

public:
    // inUse: the file the synthesiser plays now ("" when none); chosen: the one remembered.
    SoundDialog(const QString& inUse, const QString& chosen, QWidget* parent = nullptr);

    // The file selected in the list, "" when none is.
    QString chosen() const;
    // Adds a file (picked by hand) to the list, once, and selects it.
    void addFile(const QString& path);

    // The .sf2 and .sf3 files in the folders, one entry for each real file (a link to a file
    // already listed, such as default-GM.sf2, is left out), sorted by name.
    static QStringList installedSoundfonts(const QStringList& folders);
    static QStringList debianFolders();
    // The file dialog of "Other File…"; tests put their own in.
    static std::function<QString(QWidget*)>& filePicker();

    QListWidget* list = nullptr;
    QLabel* inUseLabel = nullptr;
    QPushButton* otherFile = nullptr;

private:
    QString inUse_;
};
