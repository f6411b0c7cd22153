// A drop-down list with an editable text part and two events: typing into the text part fires
// `edited` only, choosing an entry from the drop-down fires `chosen` only.  After typing no entry
// is selected while the typed text stays; before any choice the list shows its prompt text.
// After a choice from the drop-down the focus goes back to the window, so that its keys work;
// typing into the text takes it again.
#pragma once

#include "layers/window.h"

#include <QComboBox>
#include <QString>

class EditCombo : public QComboBox {
    Q_OBJECT

public:
    EditCombo(const QString& prompt, QWidget* parent);

    // The selected entry's position, -1 when none is selected.
    int listIndex() const { return currentIndex(); }
    // The text the list shows.
    QString text() const;
    // Selects an entry by program code; no handler runs.
    void setListIndex(int index);
    const QString& prompt() const { return prompt_; }

    void showPopup() override;

signals:
    void edited();
    void chosen();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onTextEdited(const QString& text);
    void onActivated(int index);
    QString prompt_;
    bool fromDropDown_ = false; // the entry activated now was chosen in the drop-down
};
