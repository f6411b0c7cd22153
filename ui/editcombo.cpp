#include "ui/editcombo.h"

#include <QLineEdit>
#include <QSignalBlocker>

EditCombo::EditCombo(const QString& prompt, QWidget* parent) : QComboBox(parent), prompt_(prompt) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setMaxVisibleItems(16);
    setCurrentIndex(-1);
    lineEdit()->setText(prompt_);
    // The combo box looks the typed text up among its entries when editing finishes (the field
    // loses focus) or Return is pressed, and selects and activates the entry it matches.  Typed
    // text must leave no entry selected, so those two hooks go.
    disconnect(lineEdit(), SIGNAL(editingFinished()), this, nullptr);
    disconnect(lineEdit(), SIGNAL(returnPressed()), this, nullptr);
    connect(lineEdit(), &QLineEdit::textEdited, this, &EditCombo::onTextEdited);
    connect(this, qOverload<int>(&QComboBox::activated), this, &EditCombo::onActivated);
}

QString EditCombo::text() const {
    return lineEdit()->text();
}

void EditCombo::setListIndex(int index) {
    const QSignalBlocker block(this);
    setCurrentIndex(index);
    if (index < 0) {
        lineEdit()->setText(prompt_);
    }
}

void EditCombo::onTextEdited(const QString& typed) {
    // Typing leaves no entry selected; keep the typed text and the cursor where they are.
    if (currentIndex() != -1) {
        const int cursor = lineEdit()->cursorPosition();
        {
            const QSignalBlocker block(this);
            setCurrentIndex(-1);
        }
        lineEdit()->setText(typed);
        lineEdit()->setCursorPosition(cursor);
    }
    emit edited();
}

void EditCombo::onActivated(int index) {
    if (index < 0) {
        return;
    }
    if (lineEdit()->text() != itemText(index)) {
        lineEdit()->setText(itemText(index));
    }
    emit chosen();
}
