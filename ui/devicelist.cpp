#include "ui/devicelist.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QSignalBlocker>

DeviceList::DeviceList(QWidget* parent) : QListWidget(parent) {
    connect(this, &QListWidget::itemClicked, this, [this] { emit picked(); });
}

void DeviceList::focusInEvent(QFocusEvent* event) {
    // A list view makes its first row current when it gains the focus with none; here that would
    // read as a choice the player never made.
    const bool noneBefore = currentRow() < 0;
    QListWidget::focusInEvent(event);
    if (noneBefore && currentRow() >= 0) {
        const QSignalBlocker block(this);
        setCurrentRow(-1);
    }
}

void DeviceList::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    const int after = currentRow();
    const bool press = event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                       event->key() == Qt::Key_Enter;
    if (after >= 0 && (after != before || press)) {
        emit picked();
    }
}
