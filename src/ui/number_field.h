#pragma once

#include <QLineEdit>

namespace varnook::ui {

// txtStart and txtStep: typing takes digits only (control keys and
// double-byte characters pass, as they always have), and the whole text is
// selected when the field gets the focus, however it comes.
class NumberField : public QLineEdit {
    Q_OBJECT

public:
    NumberField(int maxLength, QWidget* parent);

    // The key filter: returns the character code to deliver, 0 to swallow it.
    static int KeyPress(int keyAscii);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void GotFocus();
};

} // namespace varnook::ui
