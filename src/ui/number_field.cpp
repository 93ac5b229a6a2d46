#include "number_field.h"

#include <QKeyEvent>
#include <QTimer>

#include <cstdint>

namespace varnook::ui {

NumberField::NumberField(int maxLength, QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(maxLength);
}

int NumberField::KeyPress(int keyAscii)
{
    // As a signed 16-bit code, double-byte characters (32768 and up) read as
    // negative and pass with the control characters.
    const auto code = static_cast<std::int16_t>(keyAscii);
    if (code < 32) {
        return keyAscii;
    }
    if (code >= '0' && code <= '9') {
        return keyAscii;
    }
    return 0;
}

void NumberField::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    if (!text.isEmpty() && KeyPress(text.at(0).unicode()) == 0) {
        event->accept(); // swallowed: no change, no sound
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void NumberField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    GotFocus();
    // A mouse click places the caret after the focus arrives: select again
    // once the click is handled.
    QTimer::singleShot(0, this, [this] {
        if (hasFocus()) {
            GotFocus();
        }
    });
}

void NumberField::GotFocus()
{
    setSelection(0, static_cast<int>(text().size()));
}

} // namespace varnook::ui
