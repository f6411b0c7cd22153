#include "ui/sounddialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString shownName(const QString& path, const QString& inUse) {
    const QString name = QFileInfo(path).fileName();
    return path == inUse ? name + QStringLiteral("  (in use)") : name;
}

} // namespace

QStringList SoundDialog::debianFolders() {
    return {QStringLiteral("/usr/share/sounds/sf2"), QStringLiteral("/usr/share/sounds/sf3"),
            QStringLiteral("/usr/share/soundfonts")};
}

std::function<QString(QWidget*)>& SoundDialog::filePicker() {
    static std::function<QString(QWidget*)> picker;
    return picker;
}

QStringList SoundDialog::installedSoundfonts(const QStringList& folders) {
    QStringList files;
    QSet<QString> real; // canonical paths already listed
    QStringList links;
    for (const QString& folder : folders) {
        const QFileInfoList entries =
            QDir(folder).entryInfoList({QStringLiteral("*.sf2"), QStringLiteral("*.sf3")},
                                       QDir::Files | QDir::Readable, QDir::Name);
        for (const QFileInfo& entry : entries) {
            if (entry.isSymLink()) {
                links << entry.absoluteFilePath();
                continue;
            }
            if (!real.contains(entry.canonicalFilePath())) {
                real.insert(entry.canonicalFilePath());
                files << entry.absoluteFilePath();
            }
        }
    }
    // A link counts only when it leads to a file that no folder lists itself.
    for (const QString& link : links) {
        const QString target = QFileInfo(link).canonicalFilePath();
        if (!target.isEmpty() && !real.contains(target)) {
            real.insert(target);
            files << link;
        }
    }
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName().compare(QFileInfo(b).fileName(), Qt::CaseInsensitive) < 0;
    });
    return files;
}

SoundDialog::SoundDialog(const QString& inUse, const QString& chosen, QWidget* parent)
    : QDialog(parent), inUse_(inUse) {
    setWindowTitle(QStringLiteral("Sound"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Soundfont of the built-in synthesiser:"), this));
    list = new QListWidget(this);
    list->setMinimumSize(360, 160);
    layout->addWidget(list);
    inUseLabel = new QLabel(this);
    inUseLabel->setWordWrap(true);
    inUseLabel->setText(inUse.isEmpty() ? QStringLiteral("In use: none")
                                        : QStringLiteral("In use: ") + inUse);
    layout->addWidget(inUseLabel);
    otherFile = new QPushButton(QStringLiteral("Other File\u2026"), this);
    layout->addWidget(otherFile, 0, Qt::AlignLeft);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(otherFile, &QPushButton::clicked, this, [this] {
        const QString path =
            filePicker() ? filePicker()(this)
                         : QFileDialog::getOpenFileName(
                               this, QStringLiteral("Soundfont"), QStringLiteral("/usr/share"),
                               QStringLiteral("Soundfonts (*.sf2 *.sf3);;All files (*)"));
        if (!path.isEmpty()) {
            addFile(path);
        }
    });

    for (const QString& path : installedSoundfonts(debianFolders())) {
        auto* item = new QListWidgetItem(shownName(path, inUse_), list);
        item->setData(Qt::UserRole, path);
        item->setToolTip(path);
    }
    // The file in use and the one remembered are listed even where they are not installed.
    for (const QString& own : {inUse, chosen}) {
        if (!own.isEmpty()) {
            addFile(own);
        }
    }
    if (!inUse.isEmpty()) {
        addFile(inUse); // selected: the choice starts from what plays
    }
}

void SoundDialog::addFile(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (int i = 0; i < list->count(); ++i) {
        const QString listed = list->item(i)->data(Qt::UserRole).toString();
        if (listed == path ||
            (!canonical.isEmpty() && QFileInfo(listed).canonicalFilePath() == canonical)) {
            list->setCurrentRow(i);
            return;
        }
    }
    auto* item = new QListWidgetItem(shownName(path, inUse_), list);
    item->setData(Qt::UserRole, path);
    item->setToolTip(path);
    list->setCurrentItem(item);
}

QString SoundDialog::chosen() const {
    const QListWidgetItem* item = list->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toString() : QString();
}
