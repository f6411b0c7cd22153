#include "ui/editcombo.h"

#include <QApplication>
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
    const bool fromDropDown = fromDropDown_;
    fromDropDown_ = false;
    emit chosen();
    // A choice from the drop-down is made: the window's keys work again.  The list keeps the
    // focus only while its text is typed into (there the arrows still step through the
    // entries); clicking into the text gives it the focus back.
    QWidget* owner = window();
    const QWidget* focus = QApplication::focusWidget();
    if (fromDropDown && owner != nullptr && owner != this &&
        (focus == this || isAncestorOf(focus))) {
        owner->setFocus(Qt::OtherFocusReason);
    }
}

void EditCombo::showPopup() {
    fromDropDown_ = true;
    QComboBox::showPopup();
}

void EditCombo::keyPressEvent(QKeyEvent* event) {
    // Keys on the closed list are the text's, and its arrows step through the entries there.
    fromDropDown_ = false;
    QComboBox::keyPressEvent(event);
}
